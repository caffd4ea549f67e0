// Undoing a run from a window: the question first, then what was done.
#pragma once

#include <string>

class QWidget;

// Asks whether to undo the run of journal ("": there is none, which is
// told), undoes it when the answer is yes and tells what was done and what
// was left. True when the run was undone with nothing left.
bool ConfirmAndUndoRun(QWidget *parent, const std::string &journal);
