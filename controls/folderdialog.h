// Picking a folder in a modal browser, directories only. DoModal gives
// IDOK (1) with the chosen path in GetFolderPath, 2 when the chosen item
// has no file-system path, and -1 when the user cancelled.
#pragma once

#include <QString>

class QFileDialog;
class QLabel;
class QWidget;

class CFolderDialog {
public:
    // Browse flags, numbered as callers know them.
    static constexpr unsigned BIF_RETURNONLYFSDIRS = 0x1;
    static constexpr unsigned BIF_STATUSTEXT = 0x4;
    static constexpr unsigned BIF_NEWDIALOGSTYLE = 0x40;

    static constexpr int kPicked = 1;
    static constexpr int kNoFileSystemPath = 2;
    static constexpr int kCancelled = -1;

    // The initial folder is selected when the browser opens (a text that is
    // no existing folder, such as the source-folder marker, opens the home
    // folder instead).
    explicit CFolderDialog(const QString &title = {}, const QString &initialFolder = {},
                           QWidget *owner = nullptr,
                           unsigned flags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE);
    virtual ~CFolderDialog();

    int DoModal();
    QString GetFolderPath() const { return m_folderPath; }
    QString GetTitle() const { return m_title; }
    unsigned GetFlags() const { return m_flags; }

protected:
    // The browser is built: selects the initial folder.
    virtual void OnInitialized(QFileDialog &browser);
    // The highlighted item changed: with BIF_STATUSTEXT its path becomes the status text.
    virtual void OnSelChanged(const QString &path);

private:
    QString m_title;
    QString m_initialFolder;
    QWidget *m_owner;
    unsigned m_flags;
    QString m_folderPath;
    QLabel *m_status = nullptr; // valid only while the browser runs
};
