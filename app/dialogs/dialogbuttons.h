// The OK and Cancel row of the window's small option dialogs.
#pragma once

class QDialog;
class QDialogButtonBox;

// OK (the default, object name "ok") and Cancel for dialog: Cancel rejects
// it; OK accepts it unless the dialog checks its fields first and wires OK
// itself (acceptOnOk false).
QDialogButtonBox *OkCancelButtons(QDialog *dialog, bool acceptOnOk = true);
