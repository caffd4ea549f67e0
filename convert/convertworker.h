// The conversion run: every source of a job, one after another, reported
// line by line.
#pragma once

#include "convert/convertjob.h"
#include "convert/convertreporter.h"
#include "convert/naming.h"
#include "imaging/cximage.h"
#include "convert/outputguard.h"
#include "convert/outputwriter.h"
#include "convert/prepareahead.h"
#include "convert/runjournal.h"
#include "imaging/runresources.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class ConvertWorker {
public:
    // The worker keeps its own copy of the job (options, running number,
    // source list, font), so nothing the caller changes later reaches it.
    // With several workers, that many threads decode, transform and encode
    // files ahead; naming, the question, every report and every write still
    // happen on the running thread in source order, exactly as with one.
    // The resources give the workers and the bounds the run keeps to.
    ConvertWorker(CConvertJob job, IConvertReporter &reporter, const RunResources &resources = {});

    // The whole run on the calling thread, with its pixel operations limited
    // to resources.pixelThreads there. A stop request ends it between
    // steps: the file in flight is dropped (its temporary output removed)
    // and nothing more is reported.
    void Run(std::stop_token stop = {});

    // A dry run decides every file as the run would, from the headers alone,
    // and reports what it would do (the record's action) without writing,
    // making or removing anything and without asking the question.
    void SetDryRun(bool on) { m_dryRun = on; }
    // Whether a dry run met an output the run would ask about.
    bool WouldAsk() const { return m_wouldAsk; }

    // Each output put in place is written to the journal (when given), and
    // a file an output replaces is first kept in the desktop trash (when
    // told), so the run can be undone.
    void SetJournal(RunJournal *journal) { m_journal = journal; }
    void SetTrashReplaced(bool on) { m_trashReplaced = on; }
    // Folders the front end made for the run (the destination), outermost
    // first: the journal names them, so undo removes them when left empty.
    void SetMadeFolders(std::vector<std::string> folders) { m_madeFolders = std::move(folders); }
    // The calls and the clock the outputs are committed with (tests record
    // them); by default the system's and the steady clock.
    void SetCommitCalls(CommitCalls *calls, OutputCommitter::Clock clock = {})
    {
        m_commitCalls = calls;
        m_commitClock = std::move(clock);
    }

    int GetErrorCount() const { return m_errors; }
    // The job as the run left it (running number, remembered policy).
    const CConvertJob &GetJob() const { return m_job; }

private:
    enum class Step { Next, Stop, EndRun };
    struct FileRun; // one file's record and clock while it is converted
    Step ConvertAll(int count, const std::stop_token &stop);
    Step ConvertOne(int index, PrepareAhead &ahead, const std::stop_token &stop);
    // One output of the file: named, checked against what is there, written.
    Step ConvertOutput(FileRun &f, const PreparedFile &prepared);
    // The name of the file's output (one of its sizes, by f's output).
    OutputName NameOutput(const FileRun &f, const PreparedFile &prepared);
    // The record of another of the file's sizes.
    FileRun OutputRun(int index, const std::string &path, const std::stop_token &stop, std::int64_t bytesIn,
                      int output);
    // A file none of whose outputs can be made: a record for each.
    void FinishSource(FileRun &f, FileOutcome outcome, const std::string &reason);
    // Each step of ConvertOne; those giving a Step end the file there
    // (nullopt: go on).
    std::optional<Step> Prepare(FileRun &f, PrepareAhead &ahead, PreparedFile &prepared);
    std::optional<Step> ChooseOutput(FileRun &f, const PreparedFile &prepared, std::string &outPath);
    std::optional<Step> ReplaceExisting(FileRun &f, const std::string &existing, std::string &outPath);
    Step WriteOutput(FileRun &f, const PreparedFile &prepared, const std::string &outPath);
    Step WriteCopy(FileRun &f, const PreparedFile &prepared, const std::string &outPath);
    Step WriteAnimation(FileRun &f, const PreparedFile &prepared, const std::string &outPath);
    Step WriteEncoded(FileRun &f, const PreparedFile &prepared, const std::string &outPath);
    Step SkipTo(FileRun &f, const std::string &kept);
    Step WriteNothing(FileRun &f, const PreparedFile &prepared, const std::string &outPath);
    // Keeps the file outPath replaces in the trash when told; false (the
    // file finished as failed) when it cannot be kept.
    bool KeepReplaced(FileRun &f, const std::string &outPath);
    // The output is in place: its line in the journal.
    void Committed(FileRun &f);
    // The identity of a folder outputs go below, looked up once a run.
    std::string RootIdentity(const std::string &root);
    // Whether an output of that name is there, or would be by now in a dry run.
    bool OutputThere(const std::string &path) const;
    bool KeepsOutput(const std::string &source, const std::string &output) const;
    // Reports the file's record; a failure counts as one error.
    void Finish(FileRun &f, FileOutcome outcome, std::string reason = {});
    void Percent(const FileRun &f);
    // Reports go out in source order: behind a file still waiting for its
    // group's commit, later reports wait too.
    void Report(std::function<void()> send);
    // Sends the reports whose files are committed; with wait, commits every
    // staged file first.
    void SendReports(bool wait);
    // Hands a staged output to the committer; its journal line and report
    // follow once it is in place.
    Step Stage(FileRun &f, StagedFile staged, const std::string &outPath, std::string sha256,
               std::int64_t size, FileWay way, FileOutcome outcome);
    // Notes a file this run wrote, so a later source of that name is read anew.
    void NoteWritten(const std::string &path);
    bool WasWritten(const std::string &path) const;

    CConvertJob m_job;
    IConvertReporter &m_reporter;
    const RunResources m_resources;
    const int m_workers;
    int m_errors = 0;
    int m_skipped = 0;
    int m_moreOutputs = 0; // records past the first of each file (several sizes)
    bool m_dryRun = false;
    bool m_wouldAsk = false;
    RunJournal *m_journal = nullptr;
    bool m_trashReplaced = false;
    std::vector<std::string> m_madeFolders;
    std::unordered_map<std::string, std::string> m_rootIds;
    // Hashes of the canonical paths written: a collision only makes a source
    // be read anew, and a million outputs take little room.
    std::unordered_set<std::size_t> m_written;
    OutputGuard m_guard{m_job};
    CommitCalls *m_commitCalls = nullptr;
    OutputCommitter::Clock m_commitClock;
    std::unique_ptr<OutputCommitter> m_committer;
    struct Waiting {
        std::function<void()> send;
        std::shared_ptr<OutputCommitter::Slot> slot; // null: ready
    };
    std::deque<Waiting> m_waiting;
    bool m_sending = false;
};

// Thread body of a run: returns 0 when the run ends.
int ConvertThreadProc(ConvertWorker *worker, std::stop_token stop);

// A run on its own thread. Destroying it asks the worker to stop and waits
// for it, so no worker outlives the object that started it.
class ConvertRun {
public:
    ConvertRun(CConvertJob job, IConvertReporter &reporter, const RunResources &resources = {});
    ~ConvertRun();
    ConvertRun(const ConvertRun &) = delete;
    ConvertRun &operator=(const ConvertRun &) = delete;

    void Start();
    void RequestStop();
    void Join();
    bool Joinable() const { return m_thread.joinable(); }
    const ConvertWorker &Worker() const { return *m_worker; }

private:
    std::unique_ptr<ConvertWorker> m_worker;
    std::jthread m_thread;
};
