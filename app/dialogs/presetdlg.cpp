#include "app/dialogs/presetdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "resources/ids_main.h"
#include "settings/presetfile.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

CPresetDlg::CPresetDlg(const QString &name, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Preset"));
    setWindowTitle(tr("保存预设"));
    m_name = new QLineEdit(name, this);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setMinimumWidth(m_name->fontMetrics().averageCharWidth() * 30);
    m_name->selectAll();
    auto *form = new QFormLayout;
    form->addRow(tr("名称:"), m_name);

    QDialogButtonBox *buttons = OkCancelButtons(this, false); // OK asks before replacing
    m_delete = buttons->addButton(tr("删除"), QDialogButtonBox::DestructiveRole);
    m_delete->setObjectName(QString::number(mainid::IDC_PRESET_DELETE));
    m_delete->setAutoDefault(false);
    connect(buttons->findChild<QPushButton *>(QStringLiteral("ok")), &QPushButton::clicked, this,
            &CPresetDlg::OnOK);
    connect(m_delete, &QPushButton::clicked, this, &CPresetDlg::OnDelete);
    connect(m_name, &QLineEdit::textChanged, this, &CPresetDlg::Refresh);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Refresh();
}

QString CPresetDlg::Name() const
{
    return m_name->text().trimmed();
}

void CPresetDlg::Refresh()
{
    // Only a preset that exists can be deleted.
    const QString name = Name();
    m_delete->setEnabled(IsPresetName(name) && QFile::exists(PresetPath(name)));
}

void CPresetDlg::OnOK()
{
    const QString name = Name();
    if (!IsPresetName(name)) {
        QMessageBox::information(this, QStringLiteral("Velmora"),
                                 tr("预设名称不能为空，不能以点开头，也不能包含 / 或控制字符。"));
        m_name->setFocus();
        return;
    }
    if (QFile::exists(PresetPath(name)) &&
        QMessageBox::question(this, QStringLiteral("Velmora"), tr("预设“%1”已存在。要替换它吗?").arg(name)) !=
            QMessageBox::Yes)
        return;
    m_outcome = Save;
    accept();
}

void CPresetDlg::OnDelete()
{
    const QString name = Name();
    if (QMessageBox::question(this, QStringLiteral("Velmora"), tr("要删除预设“%1”吗?").arg(name)) !=
        QMessageBox::Yes)
        return;
    m_outcome = Delete;
    accept();
}

CPresetDlg::Outcome CPresetDlg::Run(QWidget *parent, QString &name)
{
    CPresetDlg dlg(name, parent);
    if (dlg.exec() != QDialog::Accepted)
        return Cancelled;
    name = dlg.Name();
    return dlg.GetOutcome();
}
