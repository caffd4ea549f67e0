// Writes a file so that readers only ever see the old content or the whole
// new content: the bytes go to a temporary file in the target's folder,
// which replaces the target only on Commit.
#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CommitCalls;

// A temporary file holding all of an output's bytes, closed, waiting to be
// flushed and put in place by CommitGroup. Dropping it uncommitted removes
// the temporary file.
class StagedFile {
public:
    StagedFile() = default;
    StagedFile(std::string temp, std::string final);
    ~StagedFile() { Drop(); }
    StagedFile(StagedFile &&other) noexcept;
    StagedFile &operator=(StagedFile &&other) noexcept;

    const std::string &Temp() const { return m_temp; }
    const std::string &Final() const { return m_final; }
    bool Committed() const { return m_committed; }
    // Why the commit failed ("No space left on device").
    const std::string &Error() const { return m_error; }

private:
    friend void CommitGroup(std::vector<StagedFile *> &files, CommitCalls &calls);
    void Drop();
    bool Fail(int error, const char *why = nullptr);

    std::string m_temp, m_final, m_error;
    bool m_committed = false;
};

// The calls that put staged files in place, each giving 0 or an errno.
// Tests record their order.
class CommitCalls {
public:
    virtual ~CommitCalls() = default;
    virtual int FlushData(int fd);       // one file's data (fdatasync)
    virtual int FlushFileSystem(int fd); // all data of fd's file system (syncfs)
    virtual int Rename(const std::string &from, const std::string &to);
    virtual int FlushFolder(const std::string &folder); // its entries (fsync)
};
CommitCalls &SystemCommitCalls();

// Puts a group of staged files in place so that after a crash each target
// holds its old content or the whole new one: first the data of them all
// reaches the disk (one file: its own flush; more: one flush of each file
// system, measured the faster here, falling back to each file's to find the
// one that failed), then each is renamed over its target, then each folder
// is flushed once. A file whose flush, close or rename fails keeps its target
// as it was, loses its temporary file and says why in Error().
void CommitGroup(std::vector<StagedFile *> &files, CommitCalls &calls = SystemCommitCalls());

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
    // As Begin, but the temporary file is the unnamed file fd (opened with
    // O_TMPFILE and mode 0666, its bytes written already) given a name, on
    // the target's file system: nothing is copied. False (another file
    // system, no link allowed) leaves fd as it was; Begin then copies.
    bool BeginLinked(const std::string &target, int fd);
    FILE *Stream() const { return m_fp; }
    // Flushes the data to the disk, closes and renames over the target, then
    // flushes the folder. False (a failed write or data flush) leaves the
    // target as it was and removes the temporary file.
    bool Commit();
    // Writes out the buffered bytes, closes the file and hands it over for
    // CommitGroup. False (a failed write) leaves the target as it was and
    // removes the temporary file.
    bool Stage(StagedFile &staged);
    // Drops the temporary file; the target is untouched.
    void Abort();
    const std::string &FinalPath() const { return m_final; }
    // Why the last Begin or Commit failed ("No space left on device").
    std::string Error() const;

private:
    // Notes errno (or why) as the failure's cause; always false.
    bool Fail(const char *why = nullptr);
    // Begin and BeginLinked: the target checked, then make(temp) tried on
    // fresh temporary names until one is free; make gives a descriptor to
    // adopt, or -1 with errno.
    bool BeginWith(const std::string &target, const std::function<int(const std::string &)> &make);

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

// The call that flushes a file, its file system (or, after a rename, its
// folder) to the disk; null restores fdatasync, syncfs and fsync. Tests put
// in a failing one.
void SetFileSync(int (*sync)(int fd));
