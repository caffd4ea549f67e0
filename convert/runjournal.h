// The journal of a run, so that the run can be undone: a JSON line per
// output as it is put in place, with its size and checksum and, for a file
// it replaced, where that file went.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

struct JournalEntry {
    std::string path;
    std::int64_t size = 0;
    std::string sha256; // hex, of the bytes written
    // The file it replaced, kept in the trash ("" when none was kept);
    // replacedLost: a file was replaced without the trash.
    std::string trashed;
    bool replacedLost = false;
};

// SHA-256 of bytes, in hex.
std::string Sha256Hex(const void *data, std::size_t size);

class RunJournal {
public:
    // $XDG_STATE_HOME/velmora/runs (~/.local/state/velmora/runs).
    static std::string Folder();

    // The journal is made in folder with the first entry; the old journals
    // there are pruned then.
    explicit RunJournal(std::string folder = Folder()) : m_folder(std::move(folder)) {}
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Appends the line and flushes it; false when the journal cannot be
    // written (the run goes on).
    bool Add(const JournalEntry &entry);
    const std::string &Path() const { return m_path; }

private:
    std::string m_folder;
    std::string m_path;
    std::FILE *m_file = nullptr;
};

// The entries of a journal; a line cut off (a killed run) or not understood
// is passed over. False when the file cannot be read.
bool ReadJournal(const std::string &path, std::vector<JournalEntry> &entries);

// The newest journal in folder, or "".
std::string NewestJournal(const std::string &folder = RunJournal::Folder());

// Removes the journals older than 30 days and all but the newest 50.
void PruneJournals(const std::string &folder, std::time_t now = std::time(nullptr));

// What undoing a run did, and what it left, each named.
struct UndoReport {
    std::vector<std::string> removed;  // outputs taken away
    std::vector<std::string> restored; // replaced files given back from the trash
    std::vector<std::string> changed;  // outputs changed since the run: left alone
    std::vector<std::string> lost;     // replaced files that cannot be given back
    std::vector<std::string> failed;   // "path: why"
    bool Complete() const { return changed.empty() && lost.empty() && failed.empty(); }
};

// Removes the outputs the journal names that are still as the run wrote
// them and gives back the files they replaced. The journal is then renamed
// to NAME.undone, so the next undo takes the run before.
UndoReport UndoRun(const std::string &journal);

// The report in the program's words, a line each.
std::vector<std::string> UndoLines(const UndoReport &report);
