// The viewer the progress dialog's View Results opens over the converted
// files, for a run from the window and one from a file manager alike.
#pragma once

#include "rundialogs/progressdialog.h"

CProgressDialog::ResultsViewer ResultsViewerFor(CProgressDialog &dlg);
