#include "app/dialogs/dialogbuttons.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

QDialogButtonBox *OkCancelButtons(QDialog *dialog, bool acceptOnOk)
{
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *ok =
        buttons->addButton(QCoreApplication::translate("DialogButtons", "确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    buttons->addButton(QCoreApplication::translate("DialogButtons", "取消"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    if (acceptOnOk)
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}
