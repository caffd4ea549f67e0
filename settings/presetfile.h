// Presets: a run's options saved under a name, one INI file each in
// $XDG_CONFIG_HOME/Korvane/presets/NAME.ini, its values under the names the
// store keeps them by, in one [Settings2] group, so that a person can read
// and edit it.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The folder the presets live in.
QString PresetFolder();
// Empty, a leading dot, a "/" or a control character make no preset name.
bool IsPresetName(const QString &name);
QString PresetPath(const QString &name);
// The names of the presets there, sorted.
QStringList ListPresets();

struct PresetEntry {
    std::string name;
    std::string value;
    int line = 0;
};

struct PresetFault {
    // TooLarge: over kMaxPresetBytes. Refused: the check said no to the line.
    enum Kind { None, Unreadable, NotAValue, OtherGroup, Repeated, TooLarge, Refused };
    Kind kind = None;
    int line = 0;       // 0 for the file as a whole
    std::string detail; // the system's reason, the group or the name
};

// A preset is a few dozen short lines; anything larger is not one.
inline constexpr qint64 kMaxPresetBytes = qint64(1) << 20;

// Looks at each value as it is read; false ends the reading there.
using PresetCheck = std::function<bool(const PresetEntry &)>;

// The values of a preset file, each with its line; false with the first
// fault when the file cannot be read, is larger than kMaxPresetBytes, is
// not a plain list of values, or check refuses a value.
bool ReadPresetFile(const QString &path, std::vector<PresetEntry> &entries, PresetFault &fault,
                    const PresetCheck &check = {});
// Writes the values in their order through a temporary file renamed into
// place, making the folder; false with the reason.
bool WritePresetFile(const QString &path, const std::vector<std::pair<std::string, std::string>> &values,
                     QString &why);
