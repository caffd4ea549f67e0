#include "convert/trash.h"

#include "convert/naming.h"
#include "convert/runjournal.h"
#include "convert/safefolders.h"

#include <QDir>
#include <QStandardPaths>
#include <QCoreApplication>
#include <QCryptographicHash>

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
        "[Trash Info]\nPath=" + QByteArray::fromStdString(path).toPercentEncoding("/").toStdString() +
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

void Forget(const std::string &trashed)
{
    unlink(trashed.c_str());
    unlink(InfoPath(trashed).c_str());
}

namespace {

constexpr off_t kMaxTrashInfo = 16 * 1024;

std::string Tr(const char *text)
{
    return QCoreApplication::translate("undolog", text).toStdString();
}

// The original place a .trashinfo names, read with a bound.
bool InfoNames(int info, const std::string &name, std::string &original)
{
    const int fd = ::openat(info, (name + ".trashinfo").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    QByteArray text;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxTrashInfo) {
        text.resize(qsizetype(st.st_size));
        if (::read(fd, text.data(), std::size_t(text.size())) != text.size())
            text.clear();
    }
    if (fd >= 0)
        ::close(fd);
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith("Path=")) {
            original = QByteArray::fromPercentEncoding(line.mid(5)).toStdString();
            return true;
        }
    return false;
}

bool SameContent(int fd, std::int64_t size, const std::string &sha256)
{
    struct stat st;
    std::string hex;
    std::int64_t read = 0;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size && FdSha256(fd, hex, read) &&
           read == size && hex == sha256;
}

// Copies the open file into folder as name, through a temporary name, never
// over anything there.
bool CopyInto(int from, int folder, const std::string &name, std::string &error)
{
    const std::string temp = "." + name.substr(0, 150) + ".part-restore-" + std::to_string(getpid());
    const int fd = ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    char buffer[1 << 16];
    off_t at = 0;
    bool ok = true;
    for (ssize_t n; ok && (n = ::pread(from, buffer, sizeof buffer, at)) > 0; at += n)
        ok = ::write(fd, buffer, std::size_t(n)) == n;
    ok = ok && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::linkat(folder, temp.c_str(), folder, name.c_str(), 0) == 0;
    if (!ok)
        error = std::strerror(errno);
    ::unlinkat(folder, temp.c_str(), 0);
    return ok;
}

} // namespace

KeptFile::~KeptFile()
{
    for (const int fd : {m_files, m_info, m_fd})
        if (fd >= 0)
            ::close(fd);
}

bool KeptFile::Find(const std::string &root, const std::string &trashed, const std::string &original,
                    std::int64_t size, const std::string &sha256, std::string &why)
{
    std::string relative;
    if (!PathBelow(root, trashed, relative) || !relative.starts_with("files/") ||
        relative.find('/', 6) != std::string::npos) {
        why = Tr(QT_TRANSLATE_NOOP("undolog", "不在运行所用的回收站中"));
        return false;
    }
    m_name = relative.substr(6);
    std::string error;
    UniqueFd files = OpenFolderBelow(root, "files", error), info = OpenFolderBelow(root, "info", error);
    if (files.Valid() && info.Valid())
        m_fd = ::openat(files.Get(), m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        why = Tr(QT_TRANSLATE_NOOP("undolog", "回收站中已没有它"));
        return false;
    }
    m_files = files.Release();
    m_info = info.Release();
    std::string named;
    if (!InfoNames(m_info, m_name, named) || named != original || !SameContent(m_fd, size, sha256)) {
        why = Tr(QT_TRANSLATE_NOOP("undolog", "回收站中同名的文件不是运行保存的那个"));
        return false;
    }
    return true;
}

bool KeptFile::RestoreInto(int folder, const std::string &name, std::string &error)
{
    // A link never replaces anything, so a file that came meanwhile stays.
    if (::linkat(m_files, m_name.c_str(), folder, name.c_str(), 0) != 0 &&
        (errno != EXDEV || !CopyInto(m_fd, folder, name, error))) {
        if (error.empty())
            error = std::strerror(errno);
        return false;
    }
    Forget();
    return true;
}

void KeptFile::Forget()
{
    ::unlinkat(m_files, m_name.c_str(), 0);
    ::unlinkat(m_info, (m_name + ".trashinfo").c_str(), 0);
}

} // namespace trash
