// The top-level places of the folder tree: the home folder, the file system
// root and the mounted volumes a user would recognise.
#pragma once

#include <QList>
#include <QString>

struct ShellPlace {
    QString caption;
    QString path; // an absolute folder path
    enum class Kind { Home, FileSystem, Volume, Folder } kind = Kind::Folder;

    friend bool operator==(const ShellPlace &, const ShellPlace &) = default;
};

// Whether a mounted volume belongs in the tree: real and network file systems
// mounted where a user looks, not pseudo file systems, the root itself, bind
// mounts of single files or system-internal mounts (containers, snaps).
bool IsUserVolume(const QString &rootPath, const QByteArray &fsType, bool isDirectory);

// Caption of a mounted volume: its label, else its mount point.
QString VolumeCaption(const QString &rootPath, const QString &label);

// Home, "/" and the user volumes, in that order, as this machine has them now.
QList<ShellPlace> DefaultShellPlaces();
