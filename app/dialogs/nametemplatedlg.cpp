#include "app/dialogs/nametemplatedlg.h"

#include "app/dialogs/dialogbuttons.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

CNameTemplateDlg::CNameTemplateDlg(const NameChoices &c, Check check, Example example, QWidget *parent)
    : QDialog(parent), m_check(std::move(check)), m_example(std::move(example))
{
    setObjectName(QStringLiteral("NameTemplate"));
    setWindowTitle(tr("文件名模板"));

    m_use = new QCheckBox(tr("按模板命名(代替前缀和后缀)"), this);
    m_use->setObjectName(QStringLiteral("useTemplate"));
    m_use->setChecked(c.useTemplate);
    m_template = new QLineEdit(c.nameTemplate, this);
    m_template->setObjectName(QStringLiteral("template"));
    m_template->setMaxLength(255);
    m_template->setMinimumWidth(m_template->fontMetrics().averageCharWidth() * 36);
    // {n} pads to the digits of the run's file count, three at least.
    auto *tokens =
        new QLabel(tr("{name} 原文件名　{folder} 所在文件夹的名称\n"
                      "{n} 序号, 补零到三位(001), 一千个文件起补到四位, 依此类推\n"
                      "{n:W} 补零到 W 位的序号, 如 {n:1} 不补零, {n:5} 五位\n"
                      "{date} 拍摄日期　{date:%Y-%m-%d} 日期的写法\n"
                      "{w} {h} 输出的宽和高\n"
                      "模板中的 / 在目标文件夹下建立子文件夹。"),
                   this);
    tokens->setObjectName(QStringLiteral("tokens"));
    tokens->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_sample = new QLabel(this);
    m_sample->setObjectName(QStringLiteral("sample"));
    m_sample->setTextFormat(Qt::PlainText);
    m_sample->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *form = new QFormLayout;
    form->addRow(m_use);
    form->addRow(tr("模板:"), m_template);
    form->addRow(QString(), tokens);
    form->addRow(tr("示例:"), m_sample);

    QDialogButtonBox *buttons = OkCancelButtons(this, false); // OK checks the template first
    connect(buttons->findChild<QPushButton *>(QStringLiteral("ok")), &QPushButton::clicked, this,
            &CNameTemplateDlg::OnOK);
    connect(m_use, &QCheckBox::toggled, this, &CNameTemplateDlg::Refresh);
    connect(m_template, &QLineEdit::textChanged, this, &CNameTemplateDlg::Refresh);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Refresh();
}

NameChoices CNameTemplateDlg::Choices() const
{
    return {m_use->isChecked(), m_template->text()};
}

void CNameTemplateDlg::Refresh()
{
    const NameChoices c = Choices();
    m_template->setEnabled(c.useTemplate);
    const QString problem = c.useTemplate && m_check ? m_check(c.nameTemplate) : QString();
    if (!problem.isEmpty()) {
        m_sample->setText(problem);
        return;
    }
    const QString name = m_example ? m_example(c) : QString();
    m_sample->setText(name.isEmpty() ? tr("(没有选定的图像)") : name);
}

void CNameTemplateDlg::OnOK()
{
    const NameChoices c = Choices();
    if (c.useTemplate && m_check) {
        if (const QString problem = m_check(c.nameTemplate); !problem.isEmpty()) {
            QMessageBox::information(this, QStringLiteral("Velmora"), problem);
            m_template->setFocus();
            return;
        }
    }
    accept();
}

bool CNameTemplateDlg::Run(QWidget *parent, NameChoices &choices, Check check, Example example)
{
    CNameTemplateDlg dlg(choices, std::move(check), std::move(example), parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    choices = dlg.Choices();
    return true;
}
