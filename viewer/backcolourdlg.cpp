#include "viewer/backcolourdlg.h"

#include "controls/colourpicker.h"
#include "controls/colourpickergrid.h"
#include "resources/ids_viewer.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CBackColourDlg::CBackColourDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(viewerid::IDD_BACK_COLOUR));
    setWindowTitle("Velmora");

    auto *label = new QLabel(tr("背景颜色:"), this);
    m_pPicker = new CColourPicker(this);
    m_pPicker->setObjectName(QString::number(viewerid::IDC_BACK_COLOUR_PICKER));
    m_pPicker->setMinimumWidth(100);
    label->setBuddy(m_pPicker);

    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_pPicker, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QString::number(viewerid::IDOK));
    cancel->setObjectName(QString::number(viewerid::IDCANCEL));
    ok->setDefault(true);
    // The picker is a push button too: it must not take the dialog's Enter.
    m_pPicker->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CBackColourDlg::SetColour(COLORREF colour)
{
    m_pPicker->SetColour(colour);
}

COLORREF CBackColourDlg::GetColour() const
{
    const COLORREF c = m_pPicker->GetColour();
    return c == colourgrid::kAutomatic ? RGB(0, 0, 0) : c;
}
