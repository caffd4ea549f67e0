// Writes a file so that readers only ever see the old content or the whole
// new content: the bytes go to a temporary file in the target's folder,
// which replaces the target only on Commit.
#pragma once

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();  // an uncommitted temporary file is removed
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // Creates the temporary file for target. A target that is a symbolic link
    // is itself replaced (nothing is written where it points); an existing
    // file's permission bits are kept, a new file gets the usual ones. False
    // when the folder cannot take the file or the target is a folder.
    bool Begin(const std::string &target);
    FILE *Stream() const { return m_fp; }
    // Flushes the data to the disk, closes and renames over the target, then
    // flushes the folder. False (a failed write or data flush) leaves the
    // target as it was and removes the temporary file.
    bool Commit();
    // Drops the temporary file; the target is untouched.
    void Abort();
    const std::string &FinalPath() const { return m_final; }
    // Why the last Begin or Commit failed ("No space left on device").
    std::string Error() const;

private:
    // Notes errno (or why) as the failure's cause; always false.
    bool Fail(const char *why = nullptr);

    int m_errno = 0;
    std::string m_why;
    FILE *m_fp = nullptr;
    std::string m_temp;
    std::string m_final;
};

// A temporary file's name is .NAME.part-HOST-PID-N (older runs wrote
// .NAME.part-PID-N, with no host).
struct TemporaryName {
    std::string host; // empty in the older form
    long pid = 0;
};
std::optional<TemporaryName> ParseTemporaryName(const std::string &name);
// This machine's name as temporary names carry it.
std::string TemporaryHost();
// Removes the temporary files in folder that no run will finish: this host's
// whose process no longer runs, the older form's when no process of its id
// runs here and it is over ten minutes old, and another host's older than a
// day. Returns how many went.
int RemoveStaleTemporaries(const std::string &folder, std::time_t now = std::time(nullptr));

// The call that flushes a file (or, after a rename, its folder) to the disk;
// null restores fdatasync and fsync. Tests put in a failing one.
void SetFileSync(int (*sync)(int fd));
