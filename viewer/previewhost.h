// What the viewer may ask of the window that opened it, after a file
// command changed a list. The opener implements it; the viewer never sees
// the lists themselves, and names their entries by path.
#pragma once

#include <QString>

class IPreviewHost {
public:
    virtual ~IPreviewHost() = default;
    // Folder mode: remove the folder-list row of path together with its file name.
    virtual void RemoveFolderPath(const QString &path) = 0;
    // Folder mode: select the folder-list row of path and add it to the selected list.
    virtual void AddFolderPathToSelection(const QString &path) = 0;
    // Selected mode: select the selected-list row holding path and remove it.
    virtual void RemoveSelectedPath(const QString &path) = 0;
};
