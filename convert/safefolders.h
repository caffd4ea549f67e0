// Folders below a root that the user named, entered one at a time without
// following a link: a link planted inside a destination must never lead a
// write, a removal or a restore out of it. The root itself may be a link.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// An open descriptor, closed when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.Release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release();

private:
    int m_fd = -1;
};

// The part of path below root ("a/b/c.png" for root "/x" and path
// "/x/a/b/c.png"); false when path does not lie below root or a part of it
// is empty, "." or "..".
bool PathBelow(const std::string &root, const std::string &path, std::string &relative);

// Opens root as named, then each folder of relative ("a/b") with
// O_NOFOLLOW | O_DIRECTORY. With made given, a missing folder is made (with
// mode, less the umask) and its full path added there. An invalid UniqueFd with error set ("PATH:
// why") and errno the cause when a part is a link (ENOTDIR), not a folder,
// missing (ENOENT) or cannot be made.
UniqueFd OpenFolderBelow(const std::string &root, const std::string &relative, std::string &error,
                         std::vector<std::string> *made = nullptr, mode_t mode = 0777);

// Makes path and the folders above it that are missing (as mkdir -p does),
// telling the ones it made, outermost first. False with error set.
bool MakeFolderPath(const std::string &path, std::vector<std::string> &made, std::string &error);

// The identity of the folder at path ("device:inode"), "" when there is none.
std::string FolderIdentity(const std::string &path);
