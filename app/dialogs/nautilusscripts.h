// Nautilus has no entries of its own for other programs: a user's scripts
// folder is its context menu's Scripts submenu. The about box writes two
// scripts there, one opening the window on the selected files and one
// asking for a preset to convert them with.
#pragma once

#include <QString>
#include <QStringList>

// $XDG_DATA_HOME/nautilus/scripts, else ~/.local/share/nautilus/scripts.
QString NautilusScriptsFolder();

// The scripts' file names (their menu entries) and their texts.
struct NautilusScript {
    QString name;
    QByteArray text;
};
QList<NautilusScript> NautilusScripts();

// Writes the scripts into folder, making it when missing; each replaces a
// file of its name through a rename, so a link there is replaced, never
// followed, and neither is a link in the folder's own place. written: the
// paths written; false with why at the first failure.
bool InstallNautilusScripts(const QString &folder, QStringList &written, QString &why);
