#include "settings/presetfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <unordered_set>

namespace {

constexpr const char *kGroup = "[Settings2]";

bool Plain(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// As QSettings writes a key: "Output Quality" is "Output%20Quality".
std::string EscapedName(const std::string &name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : name) {
        if (Plain(c)) {
            out += c;
        } else {
            const auto b = static_cast<unsigned char>(c);
            out += {'%', kHex[b >> 4], kHex[b & 15]};
        }
    }
    return out;
}

std::string UnescapedName(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A text is quoted where a reader would otherwise take it apart (a list at
// a comma, a comment at a semicolon) or lose its blanks.
std::string EscapedValue(const std::string &value)
{
    const bool quote =
        !value.empty() && (value.front() == ' ' || value.back() == ' ' || value.front() == '@' ||
                           value.find_first_of("\",;=\\#\t\r\n") != std::string::npos);
    if (!quote)
        return value;
    std::string out = "\"";
    for (char c : value) {
        switch (c) {
        case '"':
        case '\\':
            out += {'\\', c};
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

bool UnescapedValue(const std::string &text, std::string &out)
{
    if (text.empty() || text.front() != '"') {
        out = text;
        return true;
    }
    out.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            return i + 1 == text.size();
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size())
            return false;
        const char e = text[i];
        out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    }
    return false; // no closing quote
}

std::string Trimmed(const std::string &s)
{
    const std::size_t from = s.find_first_not_of(" \t");
    if (from == std::string::npos)
        return {};
    return s.substr(from, s.find_last_not_of(" \t") - from + 1);
}

// What one preset's reading has seen so far.
struct PresetReading {
    std::vector<PresetEntry> &entries;
    std::unordered_set<std::string> names; // a hash: a long file reads in linear time
    bool inGroup = false;
};

bool ReadLine(const std::string &raw, int line, PresetReading &reading, PresetFault &fault)
{
    bool &inGroup = reading.inGroup;
    const std::string text = Trimmed(raw);
    if (text.empty() || text[0] == ';' || text[0] == '#')
        return true;
    if (text[0] == '[') {
        inGroup = text == kGroup;
        if (!inGroup)
            fault = {PresetFault::OtherGroup, line, text};
        return inGroup;
    }
    const std::size_t eq = text.find('=');
    PresetEntry entry;
    entry.line = line;
    if (!inGroup || eq == std::string::npos || eq == 0 ||
        !UnescapedValue(Trimmed(text.substr(eq + 1)), entry.value)) {
        fault = {inGroup ? PresetFault::NotAValue : PresetFault::OtherGroup, line, inGroup ? text : ""};
        return false;
    }
    entry.name = UnescapedName(Trimmed(text.substr(0, eq)));
    if (!reading.names.insert(entry.name).second) {
        fault = {PresetFault::Repeated, line, entry.name};
        return false;
    }
    reading.entries.push_back(std::move(entry));
    return true;
}

// The whole file, or false (fault set) when it cannot be read or is larger
// than a preset can be; read a piece at a time, so that an endless stream
// (/dev/zero, a pipe) is refused at the bound.
bool ReadBounded(const QString &path, QByteArray &data, PresetFault &fault)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fault = {PresetFault::Unreadable, 0, file.errorString().toStdString()};
        return false;
    }
    for (;;) {
        const QByteArray piece = file.read(std::min<qint64>(kMaxPresetBytes + 1 - data.size(), 1 << 16));
        if (piece.isEmpty())
            break;
        data += piece;
        if (data.size() > kMaxPresetBytes) {
            fault = {PresetFault::TooLarge, 0, {}};
            return false;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        fault = {PresetFault::Unreadable, 0, file.errorString().toStdString()};
        return false;
    }
    return true;
}

} // namespace

QString PresetFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Korvane/presets");
}

bool IsPresetName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')))
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString PresetPath(const QString &name)
{
    return PresetFolder() + QLatin1Char('/') + name + QStringLiteral(".ini");
}

QStringList ListPresets()
{
    QStringList names;
    const QStringList files = QDir(PresetFolder()).entryList({QStringLiteral("*.ini")}, QDir::Files);
    for (const QString &file : files) {
        const QString name = file.chopped(4);
        if (IsPresetName(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadPresetFile(const QString &path, std::vector<PresetEntry> &entries, PresetFault &fault,
                    const PresetCheck &check)
{
    entries.clear();
    QByteArray data;
    if (!ReadBounded(path, data, fault))
        return false;
    PresetReading reading{entries, {}, false};
    int line = 0;
    for (const QByteArray &raw : data.split('\n')) {
        ++line;
        std::string text = raw.toStdString();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        const std::size_t before = entries.size();
        if (!ReadLine(text, line, reading, fault))
            return false;
        // The first fault ends the reading, a refused value as much as a bad line.
        if (check && entries.size() > before && !check(entries.back())) {
            fault = {PresetFault::Refused, line, entries.back().name};
            return false;
        }
    }
    return true;
}

bool WritePresetFile(const QString &path, const std::vector<std::pair<std::string, std::string>> &values,
                     QString &why)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        why = folder;
        return false;
    }
    std::string text = std::string(kGroup) + "\n";
    for (const auto &[name, value] : values)
        text += EscapedName(name) + "=" + EscapedValue(value) + "\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit()) {
        why = file.errorString();
        return false;
    }
    return true;
}
