#include "imaging/atomicfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::atomic<int (*)(int)> g_sync{nullptr};

int Sync(int fd, bool folder)
{
    if (const auto sync = g_sync.load())
        return sync(fd);
    return folder ? fsync(fd) : fdatasync(fd);
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
    // Opening with 0666 lets the process umask decide a new file's bits,
    // without touching the umask (other threads may be creating files).
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned n = counter.fetch_add(1);
        // The host goes into the name since several machines may share a
        // destination; a run removes the ones left by processes that died.
        std::string temp = folder + "." + name.substr(0, 150) + ".part-" + TemporaryHost() + "-" +
                           std::to_string(getpid()) + "-" + std::to_string(n);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

bool AtomicFileWriter::Commit()
{
    if (!m_fp)
        return Fail("not open");
    // Each step notes its own errno: the first failure is the one to tell.
    bool ok = (std::fflush(m_fp) == 0 && !std::ferror(m_fp)) || Fail();
    // The data reaches the disk before the name points at it: after a power
    // cut the target holds the old content or the new, never an empty file.
    ok = ok && (Sync(fileno(m_fp), false) == 0 || Fail());
    const bool closed = std::fclose(m_fp) == 0 || (ok && Fail());
    ok = closed && ok;
    m_fp = nullptr;
    if (ok) {
        // The target may have turned into a folder meanwhile; rename would
        // then fail anyway, but say so plainly.
        struct stat st;
        if (lstat(m_final.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            ok = Fail(std::strerror(EISDIR));
        else
            ok = std::rename(m_temp.c_str(), m_final.c_str()) == 0 || Fail();
    }
    if (ok) {
        // Makes the rename itself last. The new file is in place whatever
        // this says, and some file systems cannot flush a folder at all.
        const std::string folder = FolderOf(m_final);
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            Sync(dir, true);
            ::close(dir);
        }
    } else {
        unlink(m_temp.c_str());
    }
    m_temp.clear();
    return ok;
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
