// Reading one folder's sub-folders for the folder tree, synchronously.
#pragma once

#include <QString>
#include <QStringList>

namespace shelltree {

struct SubFolder {
    QString name;
    QString path;
    bool mayHaveChildren = false; // a quick look found a visible sub-folder
    bool isLoop = false;          // leads back to a folder above it: never expanded
};

// The visible (not hidden) sub-folders of a folder, symbolic links to folders
// included, in case-insensitive locale order. ancestors are the canonical
// paths of the folders above (the folder itself included); a sub-folder that
// resolves to one of them is marked as a loop. An unreadable or vanished
// folder has no sub-folders.
QList<SubFolder> ListSubFolders(const QString &path, const QStringList &ancestors);

// True when the folder holds at least one visible sub-folder; stops at the first.
bool HasVisibleSubFolder(const QString &path);

// Joins a folder and a name with exactly one "/".
QString JoinTreePath(const QString &folder, const QString &name);

// Sorts names the way the tree shows them.
void SortFolderNames(QStringList &names);

} // namespace shelltree
