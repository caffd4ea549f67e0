// What the viewer may ask of the window that opened it, after a file
// command changed a list. The opener implements it; the viewer never sees
// the lists themselves.
#pragma once

#include <QString>

class IPreviewHost {
public:
    virtual ~IPreviewHost() = default;
    // Folder mode: remove folder-list row i together with its file name.
    virtual void RemoveFolderRow(int row) = 0;
    // Folder mode: select folder-list row i and add it to the selected list.
    virtual void AddFolderRowToSelection(int row) = 0;
    // Selected mode: select the selected-list row holding path and remove it.
    virtual void RemoveSelectedPath(const QString &path) = 0;
};
