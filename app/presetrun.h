// What a file manager's entries start: `velmora --run --preset NAME FILE...`
// converts the files as `velmora-batch --preset NAME FILE...` does, showing
// the progress dialog alone; `velmora --choose-preset FILE...` asks for the
// preset first. The program ends when the dialog closes.
#pragma once

#include <QString>
#include <QStringList>

struct PresetRunRequest {
    enum Mode { None, Run, Choose };
    Mode mode = None; // None: no argument asks for either; start as usual
    QString preset;
    QStringList files; // paths or file:// URIs, as given
    QString error;     // what is wrong with the arguments, to show
};

// The arguments without the program's name. The options may come in any
// order before the files; "--" ends them.
PresetRunRequest ParsePresetRunArguments(const QStringList &arguments);

// Carries the request out and gives the program's exit status: 2 when
// nothing could be converted (bad arguments, no files, a preset missing or
// refused), after a message box saying why; 0 otherwise.
int RunFromFileManager(const PresetRunRequest &request, const QString &currentFolder);
