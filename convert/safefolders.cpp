#include "convert/safefolders.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

int UniqueFd::Release()
{
    return std::exchange(m_fd, -1);
}

namespace {

bool BadPart(std::string_view part)
{
    return part.empty() || part == "." || part == "..";
}

std::string Joined(const std::string &folder, std::string_view name)
{
    return folder + (folder.empty() || folder.back() != '/' ? "/" : "") + std::string(name);
}

} // namespace

bool PathBelow(const std::string &root, const std::string &path, std::string &relative)
{
    std::string base = root;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string prefix = base == "/" ? base : base + "/";
    if (base.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return false;
    relative = path.substr(prefix.size());
    for (std::size_t from = 0; from <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', from), relative.size());
        if (BadPart(std::string_view(relative).substr(from, end - from)))
            return false;
        from = end + 1;
    }
    return true;
}

UniqueFd OpenFolderBelow(const std::string &root, const std::string &relative, std::string &error,
                         std::vector<std::string> *made, mode_t mode)
{
    UniqueFd folder(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid()) {
        const int why = errno;
        error = root + ": " + std::strerror(why);
        errno = why;
        return {};
    }
    std::string path = root;
    for (std::size_t from = 0; from < relative.size();) {
        const std::size_t end = std::min(relative.find('/', from), relative.size());
        const std::string part = relative.substr(from, end - from);
        from = end + 1;
        path = Joined(path, part);
        if (BadPart(part)) {
            error = path + ": " + std::strerror(EINVAL);
            errno = EINVAL;
            return {};
        }
        int fd = ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && made) {
            if (::mkdirat(folder.Get(), part.c_str(), mode) == 0)
                made->push_back(path);
            else if (const int why = errno; why != EEXIST) {
                error = path + ": " + std::strerror(why);
                errno = why;
                return {};
            }
            fd = ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            struct stat st;
            const int why = errno;
            if (why == ENOTDIR && ::fstatat(folder.Get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                error = path + ": a link stands where an output folder goes";
            else
                error = path + ": " + std::strerror(why == ELOOP ? ENOTDIR : why);
            errno = why == ELOOP ? ENOTDIR : why;
            return {};
        }
        folder = UniqueFd(fd);
    }
    return folder;
}

bool MakeFolderPath(const std::string &path, std::vector<std::string> &made, std::string &error)
{
    // The deepest folder that is there is found first; the rest is made
    // below it without following links.
    std::string base = path;
    if (!base.empty() && base[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        base = Joined(cwd, base);
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string existing = base;
    struct stat st;
    while (!existing.empty() && ::stat(existing.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = existing + ": " + std::strerror(errno);
            return false;
        }
        const std::size_t slash = existing.rfind('/');
        existing = slash == std::string::npos ? std::string() : slash == 0 ? std::string("/") : existing.substr(0, slash);
    }
    if (existing == base)
        return S_ISDIR(st.st_mode) || (error = base + ": " + std::strerror(ENOTDIR), false);
    std::string relative;
    if (!PathBelow(existing, base, relative)) {
        error = base + ": " + std::strerror(EINVAL);
        return false;
    }
    return OpenFolderBelow(existing, relative, error, &made).Valid();
}

std::string FolderIdentity(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}
