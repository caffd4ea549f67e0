// How the dialogs read a number typed into an edit.
#pragma once

#include <QString>

// Parses a whole decimal number as the dialogs read one: blanks around it, an
// optional sign, digits and nothing else. Values beyond int saturate.
bool ParseDialogInt(const QString &text, long long &value);
