#include "imaging/cxfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

bool CxFile::ReadAll(std::string &out, std::size_t maxBytes)
{
    out.clear();
    const std::int64_t size = Size();
    const std::int64_t pos = Tell();
    if (size >= 0 && pos >= 0 && size >= pos) {
        if (std::uint64_t(size - pos) > maxBytes)
            return false;
        out.reserve(std::size_t(size - pos));
    }
    char chunk[65536];
    for (;;) {
        const std::size_t n = Read(chunk, 1, sizeof chunk);
        if (n == 0)
            break;
        if (out.size() + n > maxBytes)
            return false;
        out.append(chunk, n);
    }
    return !Error();
}

// --- CxIOFile ---------------------------------------------------------------

CxIOFile::~CxIOFile()
{
    Close();
}

bool CxIOFile::Open(const char *path, const char *mode)
{
    Close();
    if (!path || !mode)
        return false;
    const bool reading = std::strchr(mode, 'r') && !std::strchr(mode, '+');
    if (reading) {
        // Open without blocking (a FIFO would otherwise wait for a writer),
        // then insist on a regular file before reading a byte.
        const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0)
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        m_fp = fdopen(fd, mode);
        if (!m_fp) {
            ::close(fd);
            return false;
        }
    } else {
        m_fp = std::fopen(path, mode);
        if (!m_fp)
            return false;
    }
    m_owned = true;
    m_failed = false;
    return true;
}

bool CxIOFile::Close()
{
    bool ok = !m_failed;
    if (m_fp && m_owned)
        ok = std::fclose(m_fp) == 0 && ok;
    m_fp = nullptr;
    m_owned = false;
    m_failed = false;
    return ok;
}

std::size_t CxIOFile::Read(void *buffer, std::size_t size, std::size_t count)
{
    if (!m_fp)
        return 0;
    const std::size_t n = std::fread(buffer, size, count, m_fp);
    if (n < count && std::ferror(m_fp))
        m_failed = true;
    return n;
}

std::size_t CxIOFile::Write(const void *buffer, std::size_t size, std::size_t count)
{
    if (!m_fp)
        return 0;
    const std::size_t n = std::fwrite(buffer, size, count, m_fp);
    if (n < count)
        m_failed = true;
    return n;
}

bool CxIOFile::Seek(std::int64_t offset, int origin)
{
    return m_fp && fseeko(m_fp, off_t(offset), origin) == 0;
}

std::int64_t CxIOFile::Tell()
{
    return m_fp ? std::int64_t(ftello(m_fp)) : -1;
}

std::int64_t CxIOFile::Size()
{
    if (!m_fp)
        return -1;
    struct stat st;
    if (fstat(fileno(m_fp), &st) == 0 && S_ISREG(st.st_mode))
        return std::int64_t(st.st_size);
    return -1;
}

bool CxIOFile::Flush()
{
    if (!m_fp)
        return false;
    if (std::fflush(m_fp) != 0)
        m_failed = true;
    return !m_failed;
}

bool CxIOFile::Eof()
{
    return !m_fp || std::feof(m_fp);
}

bool CxIOFile::Error()
{
    return !m_fp || m_failed || std::ferror(m_fp);
}

// --- CxMemFile --------------------------------------------------------------

CxMemFile::CxMemFile(const void *data, std::size_t size)
    : m_readOnly(static_cast<const std::uint8_t *>(data)), m_size(size), m_open(true)
{
}

CxMemFile::~CxMemFile()
{
    Close();
}

bool CxMemFile::Open()
{
    Close();
    m_open = true;
    return true;
}

bool CxMemFile::Close()
{
    std::free(m_data);
    m_data = nullptr;
    m_readOnly = nullptr;
    m_size = m_capacity = m_pos = 0;
    const bool ok = !m_failed;
    m_open = false;
    m_failed = false;
    m_detached = false;
    return ok;
}

bool CxMemFile::Reserve(std::size_t size)
{
    if (size <= m_capacity)
        return true;
    std::size_t cap = m_capacity ? m_capacity : 4096;
    while (cap < size) {
        if (cap > std::numeric_limits<std::size_t>::max() / 2)
            return false;
        cap *= 2;
    }
    void *p = std::realloc(m_data, cap);
    if (!p)
        return false;
    m_data = static_cast<std::uint8_t *>(p);
    m_capacity = cap;
    return true;
}

std::size_t CxMemFile::Read(void *buffer, std::size_t size, std::size_t count)
{
    if (!m_open || m_detached || size == 0 || m_pos >= m_size)
        return 0;
    const std::uint8_t *src = m_readOnly ? m_readOnly : m_data;
    const std::size_t items = std::min(count, (m_size - m_pos) / size);
    std::memcpy(buffer, src + m_pos, items * size);
    m_pos += items * size;
    return items;
}

std::size_t CxMemFile::Write(const void *buffer, std::size_t size, std::size_t count)
{
    if (!m_open || m_readOnly || m_detached || size == 0)
        return 0;
    if (count > (std::numeric_limits<std::size_t>::max() - m_pos) / size) {
        m_failed = true;
        return 0;
    }
    const std::size_t bytes = size * count;
    if (!Reserve(m_pos + bytes)) {
        m_failed = true;
        return 0;
    }
    std::memcpy(m_data + m_pos, buffer, bytes);
    m_pos += bytes;
    m_size = std::max(m_size, m_pos);
    return count;
}

bool CxMemFile::Seek(std::int64_t offset, int origin)
{
    if (!m_open || m_detached)
        return false;
    std::int64_t base = origin == SEEK_SET ? 0 : (origin == SEEK_CUR ? std::int64_t(m_pos) : std::int64_t(m_size));
    const std::int64_t target = base + offset;
    if (target < 0 || (m_readOnly && std::uint64_t(target) > m_size))
        return false;
    if (std::uint64_t(target) > m_size) {
        // Seeking past the end of a written buffer fills the gap with zeros.
        if (!Reserve(std::size_t(target)))
            return false;
        std::memset(m_data + m_size, 0, std::size_t(target) - m_size);
        m_size = std::size_t(target);
    }
    m_pos = std::size_t(target);
    return true;
}

std::int64_t CxMemFile::Tell()
{
    return m_open ? std::int64_t(m_pos) : -1;
}

std::int64_t CxMemFile::Size()
{
    return m_open ? std::int64_t(m_size) : -1;
}

bool CxMemFile::Eof()
{
    return !m_open || m_pos >= m_size;
}

std::uint8_t *CxMemFile::GetBuffer(bool detach)
{
    std::uint8_t *p = m_data;
    if (detach && !m_readOnly) {
        // The size stays readable; the stream itself takes no more data.
        m_data = nullptr;
        m_capacity = 0;
        m_detached = true;
    }
    return m_readOnly ? const_cast<std::uint8_t *>(m_readOnly) : p;
}

void CxMemFile::FreeBuffer(std::uint8_t *buffer)
{
    std::free(buffer);
}

int OpenScratchFile(const std::string &folder, std::uint64_t bytes, const char *&why)
{
    const char *temp = std::getenv("TMPDIR");
    int fd = -1;
    for (const std::string &place : {folder, std::string(temp && *temp ? temp : "/tmp")})
        if (!place.empty() && (fd = ::open(place.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)) >= 0)
            break;
    if (fd < 0) {
        why = "cannot make a temporary file";
        return -1;
    }
    struct statvfs fs;
    if (::fstatvfs(fd, &fs) == 0 && fs.f_blocks > 0 && bytes > std::uint64_t(fs.f_bavail) * fs.f_frsize) {
        ::close(fd);
        why = "not enough free space";
        return -1;
    }
    return fd;
}

CxSpillFile::CxSpillFile(std::string folder, std::size_t threshold)
    : m_folder(std::move(folder)), m_threshold(threshold)
{
}

CxSpillFile::~CxSpillFile()
{
    Close();
}

bool CxSpillFile::Open()
{
    Close();
    return m_memory.Open();
}

bool CxSpillFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pos = m_size = 0;
    m_failed = false;
    return m_memory.Close();
}

int CxSpillFile::TakeFd()
{
    const int fd = m_fd;
    m_fd = -1;
    m_pos = m_size = 0;
    return fd;
}

bool CxSpillFile::Spill()
{
    m_cannotSpill = true; // one try
    if (m_folder.empty())
        return false;
    // The bits a file opened by name would get (the umask, or the folder's
    // default ACL, applies): unnamed, it is reachable only through this
    // process, and it may be given a name as the output itself.
    const int fd = ::open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const std::uint8_t *data = m_memory.GetBuffer(false);
    const std::size_t size = std::size_t(m_memory.Size());
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += std::size_t(n);
    }
    m_pos = m_memory.Tell();
    m_size = std::int64_t(size);
    m_fd = fd;
    m_memory.Close();
    return true;
}

std::size_t CxSpillFile::Write(const void *buffer, std::size_t size, std::size_t count)
{
    if (!IsOpen() || size == 0 || count > std::numeric_limits<std::size_t>::max() / size)
        return 0;
    const std::size_t bytes = size * count;
    if (m_fd < 0 && !m_cannotSpill && std::size_t(m_memory.Size()) + bytes > m_threshold)
        Spill();
    if (m_fd < 0)
        return m_memory.Write(buffer, size, count);
    const auto *p = static_cast<const std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pwrite(m_fd, p + done, bytes - done, off_t(m_pos + std::int64_t(done)));
        if (n <= 0) {
            m_failed = true;
            break;
        }
        done += std::size_t(n);
    }
    m_pos += std::int64_t(done);
    m_size = std::max(m_size, m_pos);
    return done / size;
}

std::size_t CxSpillFile::Read(void *buffer, std::size_t size, std::size_t count)
{
    if (m_fd < 0)
        return m_memory.Read(buffer, size, count);
    if (size == 0 || count > std::numeric_limits<std::size_t>::max() / size)
        return 0;
    const std::size_t bytes = size * count;
    auto *p = static_cast<std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(m_fd, p + done, bytes - done, off_t(m_pos + std::int64_t(done)));
        if (n < 0)
            m_failed = true;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    m_pos += std::int64_t(done);
    return done / size;
}

bool CxSpillFile::Seek(std::int64_t offset, int origin)
{
    if (m_fd < 0)
        return m_memory.Seek(offset, origin);
    const std::int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? m_pos : m_size;
    if (offset < -base)
        return false;
    m_pos = base + offset;
    return true;
}

std::int64_t CxSpillFile::Tell()
{
    return m_fd < 0 ? m_memory.Tell() : m_pos;
}

std::int64_t CxSpillFile::Size()
{
    return m_fd < 0 ? m_memory.Size() : m_size;
}

bool CxSpillFile::Eof()
{
    return m_fd < 0 ? m_memory.Eof() : m_pos >= m_size;
}

