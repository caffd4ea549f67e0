#include "convert/trash.h"

#include "convert/naming.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trash {

namespace {

std::string InfoPath(const std::string &trashed)
{
    const PathParts parts = SplitPath(trashed);
    const std::string name = trashed.substr(parts.folder.size() + 1);
    return SplitPath(parts.folder).folder + "/info/" + name + ".trashinfo";
}

// The .trashinfo is made first and exclusively: it claims the name.
bool ClaimName(const std::string &root, const std::string &path, std::string &name, std::string &error)
{
    const std::string base = path.substr(path.rfind('/') + 1);
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string text =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(QString::fromStdString(path), "/").toStdString() +
        "\nDeletionDate=" + date + "\n";
    for (int n = 1; n < 100000; ++n) {
        name = n == 1 ? base : base + "." + std::to_string(n);
        const std::string info = root + "/info/" + name + ".trashinfo";
        const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error = info + ": " + std::strerror(errno);
            return false;
        }
        const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
        if (close(fd) != 0 || !written) {
            error = info + ": " + std::strerror(errno);
            unlink(info.c_str());
            return false;
        }
        struct stat st;
        if (lstat((root + "/files/" + name).c_str(), &st) == 0) {
            unlink(info.c_str()); // a file without its info: leave it and take another name
            continue;
        }
        return true;
    }
    error = root + ": " + std::strerror(EEXIST);
    return false;
}

} // namespace

std::string HomeTrash()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty())
        QDir().mkpath(dataHome);
    return (dataHome.isEmpty() ? QDir::homePath() + "/.local/share" : dataHome).toStdString() + "/Trash";
}

std::string KeepCopy(const std::string &path, std::string &error)
{
    const std::string root = HomeTrash();
    if (!QDir().mkpath(QString::fromStdString(root + "/files")) ||
        !QDir().mkpath(QString::fromStdString(root + "/info"))) {
        error = root + ": " + std::strerror(errno ? errno : EACCES);
        return {};
    }
    std::string name;
    if (!ClaimName(root, path, name, error))
        return {};
    const std::string trashed = root + "/files/" + name;
    if (link(path.c_str(), trashed.c_str()) == 0)
        return trashed;
    if (errno == EXDEV || errno == EPERM || errno == EMLINK) {
        if (CopyFileAtomically(path, trashed, &error))
            return trashed;
    } else {
        error = path + ": " + std::strerror(errno);
    }
    unlink(InfoPath(trashed).c_str());
    return {};
}

bool Restore(const std::string &trashed, const std::string &path, std::string &error)
{
    // link() never replaces anything, so a file that came meanwhile stays.
    if (link(trashed.c_str(), path.c_str()) != 0 &&
        (errno != EXDEV || !CopyFileAtomically(trashed, path, &error))) {
        if (error.empty())
            error = path + ": " + std::strerror(errno);
        return false;
    }
    Forget(trashed);
    return true;
}

void Forget(const std::string &trashed)
{
    unlink(trashed.c_str());
    unlink(InfoPath(trashed).c_str());
}

} // namespace trash
