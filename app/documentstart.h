// A run from the window into one document: where it goes, asked before the
// run starts, and how its result is shown.
#pragma once

#include "app/dialogs/encodersettingsdlg.h"

#include <QString>
#include <QStringList>

class QWidget;

// The document's path from a save dialog opened in folder, named 合并.pdf
// (or .tif) by default; the kind's extension is added when the name has
// neither. Empty when the user cancels.
QString AskDocumentPath(QWidget *parent, const DocumentChoices &choices, const QString &folder);

// Results that are one file the viewer cannot show (a PDF) are opened by the
// desktop's own application instead; false leaves them to the viewer.
bool OpenDocumentResult(const QStringList &results);
