#include "cli/watchoptions.h"

#include "convert/filltext.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxConfig = 64 * 1024;

std::string Tr(const char *text)
{
    return QCoreApplication::translate("velmora-batch", text).toStdString();
}

// The whole file, read with a bound; false with errno's reason in why.
bool ReadSmallFile(const std::string &path, std::string &text, std::string &why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = Tr(QT_TRANSLATE_NOOP("velmora-batch", "not a regular file"));
        ::close(fd);
        return false;
    }
    char buffer[8192];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kMaxConfig)
        text.append(buffer, std::size_t(n));
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        why = std::strerror(error);
        return false;
    }
    if (text.size() > kMaxConfig) {
        why = Tr(QT_TRANSLATE_NOOP("velmora-batch", "larger than 64 KB"));
        return false;
    }
    return true;
}

bool Yes(std::string_view value)
{
    return value == "yes" || value == "true" || value == "1";
}

} // namespace

std::optional<double> ParseSettle(const std::string &text)
{
    // Digits and one point only: strtod would also take "inf", "nan", hex
    // and exponents.
    if (text.empty() || text.size() > 32 || text == ".")
        return std::nullopt;
    int points = 0;
    for (const char c : text) {
        if (c == '.')
            ++points;
        else if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (points > 1)
        return std::nullopt;
    const double v = std::strtod(text.c_str(), nullptr);
    if (v < 0 || v > 3600)
        return std::nullopt;
    return v;
}

bool ParseThen(const std::string &text, WatchSettings::Then &then, std::string &folder)
{
    if (text == "keep" || text == "trash") {
        then = text == "keep" ? WatchSettings::Then::Keep : WatchSettings::Then::Trash;
        return true;
    }
    if (!text.starts_with("move:") || text.size() == 5)
        return false;
    then = WatchSettings::Then::Move;
    folder = text.substr(5);
    return true;
}

bool ReadWatchConfig(const std::string &path, std::vector<std::string> &args, std::string &error)
{
    std::string text, why;
    if (!ReadSmallFile(path, text, why)) {
        error = "--watch-config: " + path + ": " + why;
        return false;
    }
    static constexpr std::pair<std::string_view, const char *> kKeys[] = {{"FOLDER", "--watch"},
                                                                          {"PRESET", "--preset"},
                                                                          {"OUT", "--out"},
                                                                          {"THEN", "--then"},
                                                                          {"SETTLE", "--settle"},
                                                                          {"RECURSIVE", "-r"},
                                                                          {"NEW_ONLY", "--watch-new-only"}};
    const char *home = std::getenv("HOME");
    bool folder = false;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.empty() || line.starts_with('#'))
            continue;
        const auto at = [&](const std::string &what) {
            return "--watch-config: " + path + ":" + std::to_string(lineNumber) + ": " + what;
        };
        const std::size_t eq = line.find('=');
        const std::string_view key = eq == std::string_view::npos ? line : line.substr(0, eq);
        const auto known =
            std::find_if(std::begin(kKeys), std::end(kKeys), [key](const auto &k) { return k.first == key; });
        if (eq == std::string_view::npos || known == std::end(kKeys)) {
            error = at(FillText(
                QCoreApplication::translate("velmora-batch", "not a KEY=VALUE line of a known key (%1)"),
                {"FOLDER, PRESET, OUT, THEN, SETTLE, RECURSIVE, NEW_ONLY"}));
            return false;
        }
        std::string value(line.substr(eq + 1));
        if (value.find('\0') != std::string::npos) {
            error = at(Tr(QT_TRANSLATE_NOOP("velmora-batch", "a value holds a NUL character")));
            return false;
        }
        // A home folder also after THEN's "move:".
        const std::size_t tilde = key == "THEN" && value.starts_with("move:") ? 5 : 0;
        if (value.compare(tilde, 2, "~/") == 0 && home && *home)
            value = value.substr(0, tilde) + home + value.substr(tilde + 1);
        if (key == "RECURSIVE" || key == "NEW_ONLY") {
            if (Yes(value))
                args.push_back(known->second);
            else if (value != "no" && value != "false" && value != "0" && !value.empty()) {
                error = at(FillText(QCoreApplication::translate("velmora-batch", "%1 takes yes or no"),
                                    {std::string(key)}));
                return false;
            }
            continue;
        }
        folder = folder || key == "FOLDER";
        args.push_back(known->second);
        args.push_back(std::move(value));
    }
    if (!folder) {
        error = "--watch-config: " + path + ": " + Tr(QT_TRANSLATE_NOOP("velmora-batch", "no FOLDER line"));
        return false;
    }
    return true;
}
