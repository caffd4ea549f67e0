#include "cli/folderwatch.h"

#include "convert/filltext.h"
#include "convert/imagefiles.h"
#include "imaging/atomicfile.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_MOVED_FROM |
                                        IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                        IN_EXCL_UNLINK;
// How often files waiting to settle are looked at.
constexpr int kPollMs = 200;

std::string Join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Hidden files are left alone: our own temporaries are among them.
bool Candidate(const std::string &name)
{
    return !name.empty() && name[0] != '.' && !ParseTemporaryName(name) && GetImageType(name) != 0;
}

bool Below(const std::string &path, const std::string &folder)
{
    return path == folder ||
           (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

std::string ReadLimit()
{
    const int fd = ::open("/proc/sys/fs/inotify/max_user_watches", O_RDONLY | O_CLOEXEC);
    char text[32] = {};
    const ssize_t n = fd >= 0 ? ::read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0)
        ::close(fd);
    std::string s(text, std::size_t(std::max<ssize_t>(n, 0)));
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "?" : s;
}

} // namespace

std::string WatchError(const std::string &folder, int error)
{
    if (error == ENOSPC)
        return FillText(QCoreApplication::translate("velmora-batch",
                                                    "too few inotify watches to watch %1: raise "
                                                    "/proc/sys/fs/inotify/max_user_watches (now %2)"),
                        {folder, ReadLimit()});
    return FillText(QCoreApplication::translate("velmora-batch", "cannot watch %1: %2"),
                    {folder, std::strerror(error)});
}

FolderWatch::FolderWatch(Options options) : m_options(std::move(options)) {}

FolderWatch::~FolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderWatch::Start(std::string &error)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        error = WatchError(m_options.root, errno);
        return false;
    }
    if (!AddFolder(m_options.root, error))
        return false;
    if (!m_options.recursive)
        return true;
    // Folders found now: their files are Existing()'s.
    std::vector<std::string> folders{m_options.root};
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        DIR *dir = opendir(folder.c_str());
        if (!dir)
            continue;
        std::vector<std::string> below;
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (Entered(folder, name))
                below.push_back(Join(folder, name));
        }
        closedir(dir);
        for (std::string &sub : below) {
            if (!AddFolder(sub, error))
                return false;
            folders.push_back(std::move(sub));
        }
    }
    return true;
}

bool FolderWatch::Entered(const std::string &folder, const std::string &name) const
{
    if (name.empty() || name[0] == '.')
        return false;
    const std::string path = Join(folder, name);
    struct stat st;
    // Links to folders are not followed: they may lead out of the tree or
    // round in a loop.
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return std::none_of(m_options.skip.begin(), m_options.skip.end(),
                        [&](const std::string &skip) { return Below(path, skip); });
}

bool FolderWatch::AddFolder(const std::string &folder, std::string &error)
{
    const int wd = inotify_add_watch(m_fd, folder.c_str(), kFolderEvents);
    if (wd < 0) {
        // A folder gone meanwhile is no fault.
        if (errno == ENOENT || errno == ENOTDIR)
            return true;
        error = WatchError(folder, errno);
        return false;
    }
    m_folders[wd] = folder;
    return true;
}

std::vector<std::string> FolderWatch::Existing() const
{
    std::vector<std::string> files;
    if (m_options.recursive) {
        for (const TreeFile &file : ListImageTree(m_options.root))
            if (std::none_of(m_options.skip.begin(), m_options.skip.end(),
                             [&](const std::string &skip) { return Below(file.path, skip); }))
                files.push_back(file.path);
    } else {
        for (const std::string &name : ListImageFiles(m_options.root))
            files.push_back(Join(m_options.root, name));
    }
    std::erase_if(files,
                  [](const std::string &path) { return !Candidate(path.substr(path.rfind('/') + 1)); });
    return files;
}

bool FolderWatch::AddTree(const std::string &folder, bool movedIn, std::string &error)
{
    std::vector<std::string> folders{folder};
    while (!folders.empty()) {
        const std::string at = std::move(folders.back());
        folders.pop_back();
        // Watched before it is listed, so a file made in between is seen.
        if (!AddFolder(at, error))
            return false;
        DIR *dir = opendir(at.c_str());
        if (!dir)
            continue;
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (Entered(at, name)) {
                folders.push_back(Join(at, name));
                continue;
            }
            struct stat st;
            const std::string path = Join(at, name);
            if (!Candidate(name) || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            if (movedIn)
                m_ready.insert(path);
            else
                Note(path);
        }
        closedir(dir);
    }
    return true;
}

void FolderWatch::Note(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_pending.erase(path);
        return;
    }
    Seen &seen = m_pending[path];
    if (seen.size != st.st_size || seen.mtime.tv_sec != st.st_mtim.tv_sec ||
        seen.mtime.tv_nsec != st.st_mtim.tv_nsec) {
        seen.size = st.st_size;
        seen.mtime = st.st_mtim;
        seen.since = std::chrono::steady_clock::now();
    }
}

void FolderWatch::Rescan()
{
    // Events were lost: every file may have changed, and folders may have
    // come. Files are taken once settled; those up to date are passed over
    // by the run.
    std::string ignored;
    if (m_options.recursive)
        for (const TreeFile &file : ListImageTree(m_options.root)) {
            const std::string folder = file.path.substr(0, file.path.rfind('/'));
            if (std::any_of(m_options.skip.begin(), m_options.skip.end(),
                            [&](const std::string &skip) { return Below(folder, skip); }))
                continue;
            if (!std::any_of(m_folders.begin(), m_folders.end(),
                             [&](const auto &f) { return f.second == folder; }))
                AddFolder(folder, ignored);
        }
    for (const std::string &path : Existing())
        Note(path);
}

bool FolderWatch::Handle(const inotify_event &event, std::string &error)
{
    if (event.mask & IN_Q_OVERFLOW) {
        Rescan();
        return true;
    }
    const auto it = m_folders.find(event.wd);
    if (it == m_folders.end())
        return true;
    const std::string folder = it->second;
    if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        if (folder == m_options.root)
            m_rootGone = true;
        if (event.mask & IN_IGNORED)
            m_folders.erase(it);
        return true;
    }
    const std::string name = event.len ? event.name : "";
    const std::string path = Join(folder, name);
    if (event.mask & IN_ISDIR) {
        if (m_options.recursive && (event.mask & (IN_CREATE | IN_MOVED_TO)) && Entered(folder, name))
            return AddTree(path, event.mask & IN_MOVED_TO, error);
        return true;
    }
    if (!Candidate(name))
        return true;
    if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
        m_pending.erase(path);
        m_ready.insert(path);
    } else if (event.mask & (IN_CREATE | IN_MODIFY)) {
        Note(path);
    } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
        m_pending.erase(path);
        m_ready.erase(path);
    }
    return true;
}

void FolderWatch::Settled()
{
    const auto now = std::chrono::steady_clock::now();
    const auto settle = std::chrono::duration<double>(m_options.settle);
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const std::string path = it->first;
        Note(path);
        const auto still = m_pending.find(path);
        if (still == m_pending.end()) {
            it = m_pending.upper_bound(path);
            continue;
        }
        if (now - still->second.since >= settle) {
            m_ready.insert(path);
            it = m_pending.erase(still);
        } else {
            it = std::next(still);
        }
    }
}

int FolderWatch::PollTimeout() const
{
    if (m_pending.empty())
        return -1;
    const int settleMs = int(std::ceil(m_options.settle * 1000));
    return std::clamp(settleMs, 0, kPollMs);
}

bool FolderWatch::Wait(int wake, std::vector<std::string> &ready, std::string &error)
{
    alignas(inotify_event) char buffer[64 * 1024];
    while (m_ready.empty()) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int n = poll(fds, 2, PollTimeout());
        if (n < 0 && errno != EINTR) {
            error = WatchError(m_options.root, errno);
            return false;
        }
        if (n > 0 && (fds[1].revents & POLLIN))
            return true;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            ssize_t len;
            while ((len = ::read(m_fd, buffer, sizeof buffer)) > 0) {
                for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= len;) {
                    const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                    if (at + ssize_t(sizeof(inotify_event) + event->len) > len)
                        break;
                    if (!Handle(*event, error))
                        return false;
                    at += ssize_t(sizeof(inotify_event) + event->len);
                }
            }
        }
        if (m_rootGone) {
            error = FillText(QCoreApplication::translate("velmora-batch", "the watched folder %1 is gone"),
                             {m_options.root});
            return false;
        }
        Settled();
    }
    ready.insert(ready.end(), m_ready.begin(), m_ready.end());
    m_ready.clear();
    return true;
}
