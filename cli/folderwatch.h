// Tells which image files in a folder (and below it) are ready to convert:
// written and closed, moved in, or, where no close is seen (network
// folders), unchanged in size and time for a while. Linux inotify.
#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

class FolderWatch {
public:
    struct Options {
        std::string root;
        bool recursive = false;
        std::vector<std::string> skip; // folders below root never entered (the destination)
        double settle = 2.0;           // seconds
    };
    explicit FolderWatch(Options options);
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // Watches the root (and its folders under recursive). False with error
    // set; a lack of inotify watches names the limit to raise.
    bool Start(std::string &error);
    // The image files there now, at any depth under recursive.
    std::vector<std::string> Existing() const;
    // A file that may still be written: ready once closed or settled.
    void Hold(const std::string &path) { Note(path); }
    // Waits for events until a file is ready or wake becomes readable, and
    // adds the ready files to ready (not sorted, each once). False with
    // error set when the watch cannot go on (the root is gone, no watches
    // left for a new folder).
    bool Wait(int wake, std::vector<std::string> &ready, std::string &error);

private:
    struct Seen {
        off_t size = -1;
        timespec mtime{};
        std::chrono::steady_clock::time_point since;
    };
    bool AddFolder(const std::string &folder, std::string &error);
    // A folder that appeared: watched with those below it, and its files
    // taken (at once when moved in, else once settled).
    bool AddTree(const std::string &folder, bool movedIn, std::string &error);
    bool Entered(const std::string &folder, const std::string &name) const;
    void Note(const std::string &path); // created or changed, no close yet
    bool Handle(const struct inotify_event &event, std::string &error);
    void Rescan();
    void Settled();
    int PollTimeout() const;

    Options m_options;
    int m_fd = -1;
    std::unordered_map<int, std::string> m_folders; // watch -> folder
    std::map<std::string, Seen> m_pending;
    std::set<std::string> m_ready;
    bool m_rootGone = false;
};

// The message for a failed inotify_add_watch of folder.
std::string WatchError(const std::string &folder, int error);
