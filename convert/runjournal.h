// The journal of a run, so that the run can be undone. It is written ahead:
// a line saying what an output will be (its size and checksum, and the file
// it replaces) reaches the journal before the output is put in place, and a
// second line follows once it is. Every line is signed with the user's own
// key, so a journal nobody's run wrote moves or removes nothing. The format
// is described in docs/undo.md.
#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The version of the journal's lines; a journal of another is refused whole.
constexpr int kJournalVersion = 2;
// The longest line a journal may hold; a longer one refuses the journal.
constexpr std::size_t kMaxJournalLine = 64 * 1024;

// One output a run means to put in place.
struct JournalEntry {
    std::string path;
    std::string root;   // the folder the user named; path lies below it
    std::string rootId; // its identity then: undo acts only in that folder
    std::int64_t size = 0;
    std::string sha256; // hex, of the bytes written
    // The file it replaces: its size and checksum, and where the trash keeps
    // it ("" when none is kept).
    bool replaces = false;
    std::int64_t replacedSize = 0;
    std::string replacedSha256;
    std::string trashed;
};

// SHA-256 of bytes, in hex.
std::string Sha256Hex(const void *data, std::size_t size);
// The file's SHA-256 and size as it is now, never through a link; false
// when it cannot be read.
bool FileSha256(const std::string &path, std::string &hex, std::int64_t &size);
// The same of an open file, read from its start.
bool FdSha256(int fd, std::string &hex, std::int64_t &size);

// The key every journal line is signed with: 32 random bytes kept in
// $XDG_STATE_HOME/velmora/key (0600), made the first time one is needed
// when make is true. False with error set.
bool JournalKey(QByteArray &key, bool make, std::string &error);

class RunJournal {
public:
    // $XDG_STATE_HOME/velmora/runs (~/.local/state/velmora/runs).
    static std::string Folder();

    // The journal is made in folder with its first line; the old journals
    // there are pruned then.
    explicit RunJournal(std::string folder = Folder()) : m_folder(std::move(folder)) {}
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Before the output is put in place: its line, written through to the
    // system. Returns the line's number for Committed and Dropped, 0 when
    // the journal cannot be written (the run goes on).
    long Intend(const JournalEntry &entry);
    // The output of that line is in place, or will never be.
    bool Committed(long intent);
    bool Dropped(long intent);
    // The run made this folder below root.
    bool MadeFolder(const std::string &path, const std::string &root);
    // The lines written so far to the disk; another thread may call it while
    // lines are added.
    void Sync();
    const std::string &Path() const { return m_path; }

private:
    bool Begin();
    long Put(const char *kind, QJsonObject fields);

    std::string m_folder;
    std::string m_path;
    std::string m_run;
    QByteArray m_key;
    long m_next = 1;
    std::FILE *m_file = nullptr;
    std::atomic<int> m_fd{-1}; // m_file's, for Sync on another thread
};

// A journal as read back: the lines whose signature holds, in order.
struct JournalLine {
    enum Kind { Intent, Commit, Drop, Folder, Undone } kind = Intent;
    long n = 0;
    long of = 0;          // Commit, Drop, Undone: the line they speak of
    JournalEntry entry;   // Intent; Folder: path and root
    std::string result;   // Undone: "removed" or "done"
};
struct JournalContents {
    std::string run;   // the run's id, on every line
    std::string trash; // the trash the run kept replaced files in
    std::vector<JournalLine> lines;
    std::vector<std::string> refused; // "line N: why", acted on in no way
    long last = 0;                    // the highest line number
};

// Reads a journal with a bound on each line. A line cut off at the end (a
// killed run) is passed over; a line unsigned, mis-signed or of another run
// is refused with its reason. False with error set when the journal as a
// whole is refused: not a regular file, unreadable, of another version,
// signed by no key of this user's, or with a line over kMaxJournalLine.
bool ReadJournal(const std::string &path, JournalContents &contents, std::string &error);

// Appends an undo's progress to the journal it undoes, signed as the run's
// lines are, so that an undo stopped half way can be taken up again.
class UndoProgress {
public:
    UndoProgress(const std::string &journal, const JournalContents &contents);
    ~UndoProgress();
    UndoProgress(const UndoProgress &) = delete;
    UndoProgress &operator=(const UndoProgress &) = delete;
    bool Note(long of, const char *result);

private:
    std::string m_run;
    QByteArray m_key;
    long m_next;
    int m_fd = -1;
};

// The newest journal in folder, or "".
std::string NewestJournal(const std::string &folder = RunJournal::Folder());

// Removes the journals older than 30 days and all but the newest 50.
void PruneJournals(const std::string &folder, std::time_t now = std::time(nullptr));

// What undoing a run did, and what it left, each named.
struct UndoReport {
    std::vector<std::string> removed;  // outputs taken away
    std::vector<std::string> restored; // replaced files given back from the trash
    std::vector<std::string> folders;  // folders the run made, left empty: removed
    std::vector<std::string> gone;     // outputs no longer there: nothing to remove
    std::vector<std::string> earlier;  // handled by an undo before this one
    std::vector<std::string> changed;  // outputs changed since the run: left alone
    std::vector<std::string> lost;     // replaced files that cannot be given back
    std::vector<std::string> failed;   // "path: why"
    std::vector<std::string> refused;  // journal lines acted on in no way: "journal: line N: why"
    std::string refusedJournal;        // why the journal as a whole was refused
    bool Complete() const
    {
        return changed.empty() && lost.empty() && failed.empty() && refused.empty() && refusedJournal.empty();
    }
    // Whether anything was taken away or given back.
    bool DidSomething() const { return !removed.empty() || !restored.empty() || !folders.empty(); }
};

// Removes the outputs the journal names that are still as the run wrote
// them, gives back the files they replaced (only from the trash the run
// used, only the very file it kept), and removes the folders the run made
// that are left empty. Nothing is done through a link below the folder the
// run wrote into. The journal is then renamed to NAME.undone, so the next
// undo takes the run before.
UndoReport UndoRun(const std::string &journal);

// The report in the program's words, a line each.
std::vector<std::string> UndoLines(const UndoReport &report);
