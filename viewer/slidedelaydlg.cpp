#include "viewer/slidedelaydlg.h"

#include "controls/dialogint.h"
#include "resources/ids_viewer.h"
#include "settings/settingsstore.h"
#include "controls/spinbuttonctrl.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

CSlideDelayDlg::CSlideDelayDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(viewerid::IDD_SLIDE_DELAY));
    setWindowTitle("Velmora");

    auto *label = new QLabel(tr("幻灯片延时(秒):"), this);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QString::number(viewerid::IDC_DELAY_EDIT));
    m_pEdit->setMaximumWidth(80);
    m_pSpin = new CSpinButtonCtrl(this);
    m_pSpin->setObjectName(QString::number(viewerid::IDC_DELAY_SPIN));
    m_pSpin->setFixedHeight(m_pEdit->sizeHint().height());
    label->setBuddy(m_pEdit);

    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_pEdit);
    row->addWidget(m_pSpin);
    row->setSpacing(4);
    row->addStretch();

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QString::number(viewerid::IDOK));
    cancel->setObjectName(QString::number(viewerid::IDCANCEL));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSlideDelayDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_pSpin->SetBuddy(m_pEdit);
    m_pSpin->SetRange(kMinDelay, kMaxDelay);
    m_pSpin->SetPos(
        GetProfileInt(kSettingsSection, settingskey::kSlideShowDelay, settingsdefault::kSlideShowDelay));
    m_nDelay = m_pSpin->GetPos();
    m_pEdit->selectAll();
    m_pEdit->setFocus();
}

bool CSlideDelayDlg::UpdateData(bool saveAndValidate)
{
    if (!saveAndValidate) {
        m_pEdit->setText(QString::number(m_nDelay));
        return true;
    }
    long long value = 0;
    QString problem;
    if (!ParseDialogInt(m_pEdit->text(), value))
        problem = tr("请输入一个整数。");
    else if (value < kMinDelay || value > kMaxDelay)
        problem = tr("请输入一个介于 %1 和 %2 之间的整数。").arg(kMinDelay).arg(kMaxDelay);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, "Velmora", problem);
        m_pEdit->setFocus();
        m_pEdit->selectAll();
        return false;
    }
    m_nDelay = int(value);
    return true;
}

void CSlideDelayDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    WriteProfileInt(kSettingsSection, settingskey::kSlideShowDelay, m_nDelay);
    accept();
}
