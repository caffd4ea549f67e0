// What the command line asks the main window to open: a folder to list, or
// files of one folder to select there and show in the viewer. A desktop
// entry may hand over paths or file:// URIs; relative paths are taken from
// the current folder.
#pragma once

#include <QString>
#include <QStringList>

struct OpenRequest {
    QString folder;      // empty: start as usual
    QStringList names;   // file names in folder to select, the first one to show
    QStringList missing; // arguments that name nothing on the disk, as given

    friend bool operator==(const OpenRequest &, const OpenRequest &) = default;
};

// The local path an argument names, or an empty string for a URI that is
// not a local file.
QString LocalPath(const QString &argument, const QString &currentFolder);

// The first argument that exists decides: a folder is opened as it is, a
// file opens its folder with every file given that lies in that folder.
OpenRequest ParseOpenArguments(const QStringList &arguments, const QString &currentFolder);
