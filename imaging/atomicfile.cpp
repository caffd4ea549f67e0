#include "atomicfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
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

}  // namespace

void SetFileSync(int (*sync)(int fd))
{
    g_sync = sync;
}

std::string ResolveWriteTarget(const std::string &path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlink(current.c_str(), link.data(), link.size());
        if (n <= 0 || std::size_t(n) >= link.size())
            return current;
        link.resize(std::size_t(n));
        current = link[0] == '/' ? link : FolderOf(current) + link;
    }
    return current;
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
    m_final = ResolveWriteTarget(target);
    struct stat st;
    const bool exists = stat(m_final.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return Fail(std::strerror(EISDIR));

    const std::string folder = FolderOf(m_final);
    const std::string name = m_final.substr(folder.size());
    // Opening with 0666 lets the process umask decide a new file's bits,
    // without touching the umask (other threads may be creating files).
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned n = counter.fetch_add(1);
        std::string temp = folder + "." + name.substr(0, 180) + ".part-" + std::to_string(getpid()) + "-" +
                           std::to_string(n);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Fail();
        }
        if (exists)
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
        if (stat(m_final.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
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
