// The viewer's operations on the user's files: the save dialog's filter,
// file identity, copy and move through a temporary file, and the trash.
// Each operation returns "" on success, else a sentence for the user.
#pragma once

#include <QString>

namespace viewerfiles {

struct SaveFilter {
    QString description; // ends with a blank
    QString pattern;
};
// Chosen by the lower-cased extension of the file's name.
SaveFilter SaveFilterFor(const QString &path);
// The same filter as a file dialog takes it.
QString NameFilter(const SaveFilter &filter);

// True when both paths reach one existing file, whatever the spelling:
// "//", "..", symbolic and hard links all count.
bool IsSameFile(const QString &a, const QString &b);

// The copy is written beside the target and renamed into place, so a
// failure leaves the target as it was; the modification time goes along.
QString CopyFileTo(const QString &source, const QString &target);
// A rename where one is possible, else a copy and then the source's removal.
QString MoveFileTo(const QString &source, const QString &target);
// To the desktop trash. A file that is already gone counts as done.
QString MoveToTrash(const QString &path);

} // namespace viewerfiles
