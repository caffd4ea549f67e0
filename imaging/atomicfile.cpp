#include "imaging/atomicfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::atomic<int (*)(int)> g_sync{nullptr};

enum class SyncOf { Data, FileSystem, Folder };

int Sync(int fd, SyncOf what)
{
    errno = 0;
    const auto sync = g_sync.load();
    const int r = sync                         ? sync(fd)
                  : what == SyncOf::Data       ? fdatasync(fd)
                  : what == SyncOf::FileSystem ? syncfs(fd)
                                               : fsync(fd);
    return r == 0 ? 0 : errno ? errno : EIO;
}

bool AllDigits(const std::string &s)
{
    return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

bool ProcessRuns(long pid)
{
    return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::string TemporaryHost()
{
    static const std::string host = [] {
        char name[256] = {};
        std::string h;
        if (gethostname(name, sizeof name - 1) == 0)
            h = name;
        // A name part must not be able to leave the folder or break the line
        // of a listing.
        for (char &c : h)
            if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '_';
        if (h.size() > 63)
            h.resize(63);
        return h.empty() ? std::string("host") : h;
    }();
    return host;
}

std::optional<TemporaryName> ParseTemporaryName(const std::string &name)
{
    const std::size_t mark = name.rfind(".part-");
    if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2)
        return std::nullopt;
    const std::string rest = name.substr(mark + 6);
    const std::size_t last = rest.rfind('-');
    if (last == std::string::npos || !AllDigits(rest.substr(last + 1)))
        return std::nullopt;
    const std::string head = rest.substr(0, last);
    TemporaryName t;
    if (AllDigits(head)) {
        t.pid = std::stol(head); // the older form, without the host
        return t;
    }
    const std::size_t dash = head.rfind('-');
    if (dash == std::string::npos || dash == 0 || !AllDigits(head.substr(dash + 1)))
        return std::nullopt;
    t.host = head.substr(0, dash);
    t.pid = std::stol(head.substr(dash + 1));
    return t;
}

int RemoveStaleTemporaries(const std::string &folder, std::time_t now)
{
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return 0;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const std::string host = TemporaryHost();
    int removed = 0;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const std::optional<TemporaryName> t = ParseTemporaryName(name);
        if (!t)
            continue;
        const std::string path = prefix + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // This host's processes can be asked whether they still run; another
        // host's run may still be writing, so its files get a day. The older
        // form names no host: it may be another machine's on a shared folder,
        // so it also waits until no write can still be going on.
        const std::time_t age = now - st.st_mtime;
        const bool stale = t->host == host       ? !ProcessRuns(t->pid)
                           : t->host.empty()     ? !ProcessRuns(t->pid) && age > 10 * 60
                                                 : age > 24 * 60 * 60;
        if (stale && unlink(path.c_str()) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

void SetFileSync(int (*sync)(int fd))
{
    g_sync = sync;
}

bool AtomicFileWriter::Fail(const char *why)
{
    m_errno = why ? 0 : errno;
    m_why = why ? why : "";
    return false;
}

std::string AtomicFileWriter::Error() const
{
    if (!m_why.empty())
        return m_why;
    return m_errno ? std::strerror(m_errno) : "cannot write the file";
}

AtomicFileWriter::~AtomicFileWriter()
{
    Abort();
}

bool AtomicFileWriter::Begin(const std::string &target)
{
    // Opening with 0666 lets the process umask decide a new file's bits,
    // without touching the umask (other threads may be creating files).
    return BeginWith(target, [](const std::string &temp) {
        return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
}

bool AtomicFileWriter::BeginLinked(const std::string &target, int fd)
{
    if (fd < 0)
        return Fail("no file to link");
    // On the disk before it has a name, so a kill leaves no named part
    // behind for long.
    if (::fdatasync(fd) != 0)
        return Fail();
    return BeginWith(target, [fd](const std::string &temp) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return -1;
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0) {
            const int error = errno;
            unlink(temp.c_str());
            errno = error;
        }
        return own;
    });
}

bool AtomicFileWriter::BeginWith(const std::string &target, const std::function<int(const std::string &)> &make)
{
    Abort();
    m_errno = 0;
    m_why.clear();
    if (target.empty() || target.back() == '/')
        return Fail("no file name");
    // The name itself is replaced, never what a link there points to: a
    // link in the destination could otherwise lead the write to a source or
    // out of the destination.
    m_final = target;
    struct stat st;
    const bool exists = lstat(m_final.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return Fail(std::strerror(EISDIR));

    const std::string folder = FolderOf(m_final);
    const std::string name = m_final.substr(folder.size());
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned n = counter.fetch_add(1);
        // The host goes into the name since several machines may share a
        // destination; a run removes the ones left by processes that died.
        std::string temp = folder + "." + name.substr(0, 150) + ".part-" + TemporaryHost() + "-" +
                           std::to_string(getpid()) + "-" + std::to_string(n);
        const int fd = make(temp);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Fail();
        }
        if (exists && S_ISREG(st.st_mode))
            fchmod(fd, st.st_mode & 07777);
        m_fp = fdopen(fd, "wb");
        if (!m_fp) {
            Fail();
            ::close(fd);
            unlink(temp.c_str());
            return false;
        }
        m_temp = std::move(temp);
        return true;
    }
    return Fail("no free temporary name");
}

bool AtomicFileWriter::Stage(StagedFile &staged)
{
    if (!m_fp)
        return Fail("not open");
    // Closed here, a staged file holds no descriptor while it waits.
    bool ok = (std::fflush(m_fp) == 0 && !std::ferror(m_fp)) || Fail();
    ok = (std::fclose(m_fp) == 0 || (ok && Fail())) && ok;
    m_fp = nullptr;
    if (!ok) {
        Abort();
        return false;
    }
    staged = StagedFile(std::move(m_temp), m_final);
    m_temp.clear();
    return true;
}

bool AtomicFileWriter::Commit()
{
    StagedFile staged;
    if (!Stage(staged))
        return false;
    std::vector<StagedFile *> one{&staged};
    CommitGroup(one);
    return staged.Committed() || Fail(staged.Error().c_str());
}

void AtomicFileWriter::Abort()
{
    if (m_fp) {
        std::fclose(m_fp);
        m_fp = nullptr;
    }
    if (!m_temp.empty()) {
        unlink(m_temp.c_str());
        m_temp.clear();
    }
}

StagedFile::StagedFile(std::string temp, std::string final)
    : m_temp(std::move(temp)), m_final(std::move(final))
{
}

StagedFile::StagedFile(StagedFile &&other) noexcept
{
    *this = std::move(other);
}

StagedFile &StagedFile::operator=(StagedFile &&other) noexcept
{
    if (this != &other) {
        Drop();
        m_temp = std::exchange(other.m_temp, {});
        m_final = std::move(other.m_final);
        m_error = std::move(other.m_error);
        m_committed = other.m_committed;
    }
    return *this;
}

void StagedFile::Drop()
{
    if (!m_temp.empty()) {
        unlink(m_temp.c_str());
        m_temp.clear();
    }
}

bool StagedFile::Fail(int error, const char *why)
{
    if (m_error.empty())
        m_error = why ? why : error ? std::strerror(error) : "cannot write the file";
    Drop();
    return false;
}

int CommitCalls::FlushData(int fd)
{
    return Sync(fd, SyncOf::Data);
}

int CommitCalls::FlushFileSystem(int fd)
{
    return Sync(fd, SyncOf::FileSystem);
}

int CommitCalls::Rename(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int CommitCalls::FlushFolder(const std::string &folder)
{
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return errno;
    const int r = Sync(dir, SyncOf::Folder);
    ::close(dir);
    return r;
}

CommitCalls &SystemCommitCalls()
{
    static CommitCalls calls;
    return calls;
}

namespace {

int FlushStaged(const std::string &temp, CommitCalls &calls, bool fileSystem)
{
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = fileSystem ? calls.FlushFileSystem(fd) : calls.FlushData(fd);
    ::close(fd);
    return error;
}

} // namespace

void CommitGroup(std::vector<StagedFile *> &files, CommitCalls &calls)
{
    std::vector<StagedFile *> open;
    for (StagedFile *f : files)
        if (!f->m_temp.empty())
            open.push_back(f);
        else
            f->Fail(0, "not open");
    // One file's own flush is the cheapest; for many, one flush of their
    // file system beats a flush each. Should it fail, each file's own says
    // which.
    std::vector<dev_t> flushed, failed;
    for (StagedFile *f : open) {
        struct stat st;
        const dev_t dev = open.size() > 1 && stat(f->m_temp.c_str(), &st) == 0 ? st.st_dev : dev_t(-1);
        if (dev != dev_t(-1) && std::find(flushed.begin(), flushed.end(), dev) == flushed.end()) {
            flushed.push_back(dev);
            if (FlushStaged(f->m_temp, calls, true) != 0)
                failed.push_back(dev);
        }
        if (dev == dev_t(-1) || std::find(failed.begin(), failed.end(), dev) != failed.end())
            if (const int error = FlushStaged(f->m_temp, calls, false))
                f->Fail(error);
    }
    // The data is on the disk before any name points at it: after a power
    // cut each target holds the old content or the new, never an empty file.
    std::vector<std::string> folders;
    for (StagedFile *f : open) {
        if (f->m_temp.empty())
            continue;
        struct stat st;
        // The target may have turned into a folder meanwhile; rename would
        // then fail anyway, but say so plainly.
        if (lstat(f->m_final.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            f->Fail(EISDIR);
        else if (const int error = calls.Rename(f->m_temp, f->m_final))
            f->Fail(error);
        else {
            f->m_temp.clear();
            f->m_committed = true;
            const std::string folder = FolderOf(f->m_final);
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
    }
    // Makes the renames themselves last. The new files are in place whatever
    // this says, and some file systems cannot flush a folder at all.
    for (const std::string &folder : folders)
        calls.FlushFolder(folder);
}
