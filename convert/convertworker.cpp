#include "convert/convertworker.h"

#include "convert/animation.h"
#include "imaging/cximage.h"
#include "convert/filepreparer.h"
#include "imaging/largeblocks.h"
#include "imaging/metadataio.h"
#include "convert/naming.h"
#include "convert/outputdates.h"
#include "convert/outputwriter.h"
#include "convert/safefolders.h"
#include "convert/trash.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string AbsolutePath(const std::string &path);
} // namespace

ConvertWorker::ConvertWorker(CConvertJob job, IConvertReporter &reporter, const RunResources &resources)
    : m_job(std::move(job)), m_reporter(reporter), m_resources(resources), m_workers(resources.Workers())
{
}

void ConvertWorker::Run(std::stop_token stop)
{
    cxmeta::Initialize(); // before the threads that prepare files ahead
    const int count = m_job.GetFileCount();
    m_errors = 0;
    m_skipped = 0;
    m_moreOutputs = 0;
    m_wouldAsk = false;
    m_written.clear();
    // Blocks the decoders kept between pictures go back when the run ends,
    // however it ends (after the threads below), and the running thread's
    // limit is what it was.
    struct RunScope {
        const int threadLimit = CxImage::GetThreadLimit();
        explicit RunScope(int pixelThreads) { CxImage::SetThreadLimit(pixelThreads); }
        ~RunScope()
        {
            largeblocks::Trim();
            CxImage::SetThreadLimit(threadLimit);
        }
    } scope(m_resources.pixelThreads);
    m_waiting.clear();
    m_rootIds.clear();
    if (m_journal && !m_dryRun && !m_madeFolders.empty())
        for (const std::string &folder : m_madeFolders)
            m_journal->MadeFolder(AbsolutePath(folder), AbsolutePath(SplitPath(m_madeFolders.front()).folder));
    if (!m_dryRun)
        m_committer = std::make_unique<OutputCommitter>(m_commitCalls ? *m_commitCalls : SystemCommitCalls(),
                                                        m_commitClock);
    // The journal's lines for a group reach the disk before its renames, so
    // that after a power cut too no output is in place that it does not name.
    if (m_committer && m_journal)
        m_committer->SetBeforeGroup([journal = m_journal] { journal->Sync(); });
    const Step step = ConvertAll(count, stop);
    // However the run ends, what is staged is put in place and reported
    // before the run reports its end.
    SendReports(true);
    m_committer.reset();
    if (step == Step::Stop || stop.stop_requested())
        return;
    if (step == Step::Next) {
        // Every output is counted, each of several sizes too.
        const int outputs = count + m_moreOutputs;
        m_reporter.SetSummary(
            RunTotals{outputs, outputs - m_errors - m_skipped, m_errors, m_skipped, m_dryRun});
    }
    m_reporter.ConvertDone();
}

ConvertWorker::Step ConvertWorker::ConvertAll(int count, const std::stop_token &stop)
{
    // Several workers prepare ahead, within a window of files each. One
    // prepares a file at a time, on two threads that take the files in
    // turn: the next file is decoded while the one before is encoded.
    const bool one = m_workers == 1;
    const int helpers = m_dryRun ? 0 : one ? 2 : m_workers;
    // Large outputs wait on disk, not in memory, until they are written.
    const CConvertJob job = m_job;
    PrepareAhead ahead(
        m_job, helpers, one ? 2 : 16 * m_workers, stop, m_resources,
        [&job](int index, CxImage &image, const std::stop_token &s) {
            return PrepareFileSpooling(job, index, image, s, kSpoolAbove);
        },
        one);
    for (int i = 0; i < count; ++i) {
        if (stop.stop_requested())
            return Step::Stop;
        const Step step = ConvertOne(i, ahead, stop);
        if (step != Step::Next)
            return step;
    }
    return Step::Next;
}

void ConvertWorker::Report(std::function<void()> send)
{
    if (m_sending || m_waiting.empty())
        send();
    else
        m_waiting.push_back({std::move(send), nullptr});
}

void ConvertWorker::SendReports(bool wait)
{
    if (wait && m_committer)
        m_committer->CommitAll();
    while (!m_waiting.empty() && (!m_waiting.front().slot || m_committer->Done(*m_waiting.front().slot))) {
        Waiting next = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_sending = true;
        next.send();
        m_sending = false;
    }
}

namespace {

std::int64_t FileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : 0;
}

// A spooled output is copied from its temporary file a piece at a time.
bool WriteSpooled(int fd, std::size_t size, CxFile &file)
{
    constexpr std::size_t kPiece = std::size_t(1) << 20;
    const std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kPiece]);
    if (!piece)
        return false;
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pread(fd, piece.get(), std::min(kPiece, size - done), off_t(done));
        if (n <= 0 || file.Write(piece.get(), 1, std::size_t(n)) != std::size_t(n))
            return false;
        done += std::size_t(n);
    }
    return true;
}

WriteResult StageBytes(const std::string &path, const std::stop_token &stop, const EncodedBytes &bytes,
                       StagedFile &staged, std::string *reason)
{
    // A spooled output already lies on the disk, unnamed: given a name
    // beside its target it is staged without a copy, where the two share a
    // file system.
    if (bytes.Spooled()) {
        AtomicFileWriter linked;
        if (linked.BeginLinked(path, bytes.spool.Get())) {
            if (stop.stop_requested()) {
                linked.Abort();
                return WriteResult::Stopped;
            }
            if (linked.Stage(staged))
                return WriteResult::Written;
            if (reason)
                *reason = linked.Error();
            return WriteResult::Failed;
        }
    }
    return StageAtomically(
        path, stop,
        [&](CxFile &file) {
            if (bytes.Spooled())
                return WriteSpooled(bytes.spool.Get(), bytes.size, file);
            return bytes.size == 0 || file.Write(bytes.data.get(), 1, bytes.size) == bytes.size;
        },
        staged, reason);
}

std::string BytesSha256(const EncodedBytes &bytes)
{
    std::string hex;
    std::int64_t size = 0;
    if (bytes.Spooled())
        return FdSha256(bytes.spool.Get(), hex, size) ? hex : std::string();
    return Sha256Hex(bytes.data.get(), bytes.size);
}

// A journal outlives the working folder it was written in.
std::string AbsolutePath(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.string();
}

std::string CanonicalPath(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

// The folders between the destination the user named and the output, at
// any depth, are entered (and made when missing) without following links:
// a link planted below the destination never leads an output out of it.
bool MakeOutputFolders(const std::string &outPath, const std::string &root, std::vector<std::string> &made,
                       std::string &reason)
{
    std::string relative;
    if (root.empty() || !PathBelow(root, outPath, relative))
        return true;
    const std::size_t slash = relative.rfind('/');
    if (slash == std::string::npos)
        return true;
    return OpenFolderBelow(root, relative.substr(0, slash), reason, &made).Valid();
}

} // namespace

std::string ConvertWorker::RootIdentity(const std::string &root)
{
    const auto [it, added] = m_rootIds.try_emplace(root);
    if (added)
        it->second = FolderIdentity(root);
    return it->second;
}

void ConvertWorker::NoteWritten(const std::string &path)
{
    m_written.insert(std::hash<std::string>{}(CanonicalPath(path)));
    m_guard.NoteOutput(path);
}

bool ConvertWorker::WasWritten(const std::string &path) const
{
    return !m_written.empty() && m_written.count(std::hash<std::string>{}(CanonicalPath(path))) != 0;
}

struct ConvertWorker::FileRun {
    int index;
    std::string path;
    const std::stop_token &stop;
    FileRecord record;
    int output = 0; // which of the file's sizes
    // Time spent on the file: preparing it (perhaps ahead, on another
    // thread) and then what this thread does with it.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::int64_t preparing = 0;
    // Folders a name template puts below the destination, made as the file
    // is written.
    std::string baseFolder{}, templateFolders{};
    std::string action{};  // what a dry run says is done
    std::string root{};    // the folder the user named, the output below it
    std::string trashed{}; // where the file the output replaces was kept
    std::string replacedSha256{};
    std::int64_t replacedSize = 0;
    long intent = 0; // the output's line in the journal
    bool replaced = false, committed = false;
    bool staged = false; // handed to the committer, which decides the rest
    bool timed = false;  // the record's time is taken
};

void ConvertWorker::Finish(FileRun &f, FileOutcome outcome, std::string reason)
{
    FileRecord &record = f.record;
    record.outcome = outcome;
    record.reason = std::move(reason);
    if (!f.timed)
        record.microseconds = f.preparing + std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - f.started)
                                                .count();
    if (m_dryRun)
        record.action = f.action;
    else if (!record.output.empty() && outcome != FileOutcome::Skipped)
        record.bytesOut = FileSize(record.output);
    if ((outcome == FileOutcome::Converted || outcome == FileOutcome::Copied) && !record.output.empty() &&
        !m_dryRun && !ApplyOutputTime(m_job, f.path, record.output, &record.reason))
        outcome = record.outcome = FileOutcome::SaveError;
    Report([this, record, more = f.output > 0] {
        if (more)
            ++m_moreOutputs;
        if (record.Failed())
            ++m_errors;
        else if (record.outcome == FileOutcome::Skipped)
            ++m_skipped;
        m_reporter.FileDone(record);
        if (record.outcome == FileOutcome::Converted && !m_dryRun)
            m_reporter.AddResult(record.output);
    });
}

void ConvertWorker::Percent(const FileRun &f)
{
    const long long outputs = m_job.OutputsPerSource();
    const int percent =
        int((100LL * (f.index * outputs + f.output) + 100) / (m_job.GetFileCount() * outputs));
    Report([this, percent, &stop = f.stop] {
        if (!stop.stop_requested())
            m_reporter.SetPercent(percent);
    });
}

ConvertWorker::Step ConvertWorker::Stage(FileRun &f, StagedFile staged, const std::string &outPath,
                                         std::string sha256, std::int64_t size, FileWay way,
                                         FileOutcome outcome)
{
    f.staged = f.timed = true;
    f.record.microseconds = f.preparing + std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - f.started)
                                              .count();
    // The journal's line goes ahead of the rename: a run killed at any
    // moment leaves no output in place that its journal does not name.
    if (m_journal)
        f.intent = m_journal->Intend({AbsolutePath(outPath), AbsolutePath(f.root), RootIdentity(f.root), size,
                                      sha256, f.replaced, f.replacedSize, f.replacedSha256, f.trashed});
    auto slot = m_committer->Add(std::move(staged));
    auto kept = std::make_shared<FileRun>(std::move(f));
    // The journal line and the record come once the output is in place and
    // flushed; a file that failed there keeps the file it would replace.
    auto send = [this, kept, slot, outPath, way, outcome] {
        FileRun &file = *kept;
        if (slot->file.Committed()) {
            Committed(file);
            file.record.output = outPath;
            file.record.way = way;
            Finish(file, outcome);
        } else {
            if (m_journal)
                m_journal->Dropped(file.intent);
            if (!file.trashed.empty())
                trash::Forget(file.trashed);
            Finish(file, FileOutcome::SaveError, slot->file.Error());
        }
        Percent(file);
    };
    m_waiting.push_back({std::move(send), std::move(slot)});
    return Step::Next;
}

ConvertWorker::Step ConvertWorker::SkipTo(FileRun &f, const std::string &kept)
{
    f.record.output = kept;
    f.action = "skip";
    Finish(f, FileOutcome::Skipped);
    Percent(f);
    return Step::Next;
}

ConvertWorker::Step ConvertWorker::ConvertOne(int i, PrepareAhead &ahead, const std::stop_token &stop)
{
    const std::string path = m_job.GetFile(i);
    FileRun f{i, path, stop, FileRecord{path, {}, FileOutcome::Converted, {}}};
    SendReports(false);
    m_reporter.AnimateStatus();
    Report([this, path] { m_reporter.FileStarted(path); });
    PreparedFile prepared;
    if (const std::optional<Step> ended = Prepare(f, ahead, prepared))
        return *ended;
    if (prepared.more.empty())
        return ConvertOutput(f, prepared);
    // Each size is an output of its own: named, checked and reported as one.
    const std::vector<PreparedFile> more = std::move(prepared.more);
    const std::int64_t bytesIn = f.record.bytesIn;
    Step step = ConvertOutput(f, prepared);
    for (std::size_t k = 0; k < more.size() && step == Step::Next; ++k) {
        FileRun g = OutputRun(i, path, stop, bytesIn, int(k) + 1);
        Report([this, path] { m_reporter.FileStarted(path); });
        step = ConvertOutput(g, more[k]);
    }
    return step;
}

ConvertWorker::FileRun ConvertWorker::OutputRun(int index, const std::string &path,
                                                const std::stop_token &stop, std::int64_t bytesIn, int output)
{
    FileRun g{index, path, stop, FileRecord{path, {}, FileOutcome::Converted, {}, bytesIn}};
    g.output = output;
    return g;
}

void ConvertWorker::FinishSource(FileRun &f, FileOutcome outcome, const std::string &reason)
{
    const int index = f.index;
    const std::string path = f.path;
    const std::stop_token &stop = f.stop;
    Finish(f, outcome, reason);
    for (int k = 1; k < m_job.OutputsPerSource(); ++k) {
        FileRun g = OutputRun(index, path, stop, 0, k);
        Report([this, path] { m_reporter.FileStarted(path); });
        Finish(g, outcome, reason);
    }
}

ConvertWorker::Step ConvertWorker::ConvertOutput(FileRun &f, const PreparedFile &prepared)
{
    // One of several sizes that could not be decoded.
    if (prepared.kind == PreparedFile::Kind::NotLoaded) {
        Finish(f, FileOutcome::OpenError, prepared.reason);
        return Step::Next;
    }
    std::string outPath;
    if (const std::optional<Step> ended = ChooseOutput(f, prepared, outPath))
        return *ended;
    const Step step = WriteOutput(f, prepared, outPath);
    // The replaced file is still in place when the output never was.
    if (!f.committed && !f.staged && !f.trashed.empty())
        trash::Forget(f.trashed);
    return step;
}

OutputName ConvertWorker::NameOutput(const FileRun &f, const PreparedFile &prepared)
{
    const bool known = NameKnownBeforeDecoding(m_job);
    const NameFacts facts = PageFacts(m_job, f.index, {prepared.width, prepared.height});
    const std::string &subfolder = m_job.GetOutputSubfolder(f.index);
    if (m_job.m_sizes.empty())
        return known ? PlannedOutputPath(m_job, f.index, prepared.sourceType)
                     : MakeOutputPath(m_job, f.path, prepared.sourceType, m_job.GetFileCount(), subfolder,
                                      facts);
    // Every size of a file has the file's running number: each takes it
    // from where the file found it, and the job moves past it once.
    CConvertJob sized = m_job.ForSize(std::size_t(f.output));
    if (known)
        return PlannedOutputPath(sized, f.index, prepared.sourceType);
    OutputName name =
        MakeOutputPath(sized, f.path, prepared.sourceType, m_job.GetFileCount(), subfolder, facts);
    if (f.output + 1 == m_job.OutputsPerSource())
        m_job.m_nStartNumber = sized.m_nStartNumber;
    return name;
}

bool ConvertWorker::KeepReplaced(FileRun &f, const std::string &outPath)
{
    struct stat st;
    f.replaced = lstat(outPath.c_str(), &st) == 0;
    if (!f.replaced)
        return true;
    // The journal knows the replaced file by its checksum, so that undo
    // gives back that very file. One it cannot read (a link, a folder's
    // stand-in) is not kept: it could not be told from another.
    const bool known = S_ISREG(st.st_mode) && (!m_journal || FileSha256(outPath, f.replacedSha256, f.replacedSize));
    if (!known)
        f.replacedSha256.assign(64, '0');
    if (!m_trashReplaced || !known)
        return true;
    std::string error;
    f.trashed = trash::KeepCopy(outPath, error);
    if (!f.trashed.empty())
        return true;
    Finish(f, FileOutcome::SaveError, error);
    Percent(f);
    return false;
}

void ConvertWorker::Committed(FileRun &f)
{
    f.committed = true;
    if (m_journal)
        m_journal->Committed(f.intent);
}

std::optional<ConvertWorker::Step> ConvertWorker::Prepare(FileRun &f, PrepareAhead &ahead,
                                                          PreparedFile &prepared)
{
    using Kind = PreparedFile::Kind;
    if (!FileExists(f.path)) {
        ahead.Discard(f.index);
        FinishSource(f, FileOutcome::Missing, std::strerror(ENOENT));
        return Step::Next;
    }
    std::string notRegular;
    if (!IsRegularFile(f.path, &notRegular)) {
        ahead.Discard(f.index);
        FinishSource(f, FileOutcome::OpenError, notRegular);
        return Step::Next;
    }
    // A source this run has written since it began must be read as it is
    // now, not as it was when it was prepared ahead.
    if (m_dryRun) {
        prepared = PlanFile(m_job, f.index);
    } else if (WasWritten(f.path)) {
        SendReports(true);
        ahead.Discard(f.index);
        prepared = ahead.PrepareNow(f.index);
    } else {
        prepared = ahead.Take(f.index);
    }
    if (f.stop.stop_requested() || prepared.kind == Kind::Stopped)
        return Step::Stop;
    // Kept outputs were decided before decoding; what this run wrote since
    // is looked at again.
    const auto keptNoLonger = [this, &f](const PreparedFile &p) {
        return p.kind == Kind::Skipped && !KeepsExistingOutput(m_job, f.path, p.keptOutput);
    };
    if (!m_dryRun &&
        (keptNoLonger(prepared) || std::any_of(prepared.more.begin(), prepared.more.end(), keptNoLonger)))
        prepared = ahead.PrepareNow(f.index);
    f.record.bytesIn = FileSize(f.path);
    f.preparing = prepared.microseconds;
    f.started = std::chrono::steady_clock::now();
    // Several sizes tell it for each output.
    if (prepared.kind == Kind::NotLoaded && prepared.more.empty()) {
        Finish(f, FileOutcome::OpenError, prepared.reason);
        return Step::Next;
    }
    return std::nullopt;
}

std::optional<ConvertWorker::Step> ConvertWorker::ChooseOutput(FileRun &f, const PreparedFile &prepared,
                                                               std::string &outPath)
{
    const OutputName name = NameOutput(f, prepared);
    if (!name.problem.empty()) {
        Finish(f, FileOutcome::SaveError, name.problem);
        Percent(f);
        return Step::Next;
    }
    outPath = name.path;
    // A name this run wrote may still wait for its group: it is put in place
    // before anything looks at it.
    if (m_committer && (m_guard.Wrote(outPath) || !m_guard.CaseTwin(outPath).empty()))
        SendReports(true);
    f.baseFolder = name.baseFolder;
    f.templateFolders = name.templateFolders;
    f.root = name.root.empty() ? SplitPath(outPath).folder : name.root;
    if (prepared.kind == PreparedFile::Kind::Skipped || KeepsOutput(f.path, outPath))
        return SkipTo(f, outPath);
    // An output of this run whose name differs only in case is the same
    // output: on many volumes one would replace the other.
    const std::string twin = m_guard.CaseTwin(outPath);
    if (!twin.empty() && KeepsOutput(f.path, twin))
        return SkipTo(f, twin);
    if (OutputThere(outPath) || !twin.empty())
        return ReplaceExisting(f, OutputThere(outPath) ? outPath : twin, outPath);
    return std::nullopt;
}

bool ConvertWorker::OutputThere(const std::string &path) const
{
    return FileExists(path) || (m_dryRun && m_guard.Wrote(path));
}

// An output a dry run would have written by now is as new as the run.
bool ConvertWorker::KeepsOutput(const std::string &source, const std::string &output) const
{
    if (m_dryRun && m_guard.Wrote(output) && !FileExists(output))
        return m_job.m_nOverwrite == OVERWRITE_SKIP || m_job.m_nOverwrite == OVERWRITE_UPDATE;
    return KeepsExistingOutput(m_job, source, output);
}

std::optional<ConvertWorker::Step> ConvertWorker::ReplaceExisting(FileRun &f, const std::string &existing,
                                                                  std::string &outPath)
{
    OverwriteChoice choice;
    if (m_job.m_nOverwrite == OVERWRITE_ASK && m_dryRun) {
        // The answer cannot be known: the record says the question comes.
        m_wouldAsk = true;
        f.action = "ask";
        outPath = existing;
        return std::nullopt;
    }
    if (m_job.m_nOverwrite == OVERWRITE_ASK) {
        SendReports(true); // the question comes after the lines before it
        const OverwriteAnswer answer = m_reporter.AskOverwrite(existing);
        if (f.stop.stop_requested())
            return Step::Stop;
        if (answer.choice == OverwriteChoice::Cancel)
            return Step::EndRun;
        choice = answer.choice;
        if (answer.remember)
            m_job.m_nOverwrite = choice == OverwriteChoice::Overwrite ? OVERWRITE_REPLACE
                                 : choice == OverwriteChoice::Skip    ? OVERWRITE_SKIP
                                                                      : OVERWRITE_RENAME;
        if (choice == OverwriteChoice::Skip)
            return SkipTo(f, existing);
    } else {
        choice =
            m_job.m_nOverwrite == OVERWRITE_RENAME ? OverwriteChoice::AutoRename : OverwriteChoice::Overwrite;
    }
    // Overwriting needs no deletion first: every output replaces its target
    // only once it is complete. A link there is replaced itself, but never
    // when it (or a hard link) leads to a source.
    if (choice == OverwriteChoice::AutoRename) {
        outPath = m_guard.UniqueName(outPath);
        f.action = "rename";
        return std::nullopt;
    }
    outPath = existing;
    f.action = "overwrite";
    f.record.target = outPath;
    const std::string clash = m_guard.SourceClash(f.path, outPath);
    if (!clash.empty()) {
        Finish(f, FileOutcome::SaveError, clash);
        Percent(f);
        return Step::Next;
    }
    return std::nullopt;
}

ConvertWorker::Step ConvertWorker::WriteOutput(FileRun &f, const PreparedFile &prepared,
                                               const std::string &outPath)
{
    using Kind = PreparedFile::Kind;
    f.record.target = outPath;
    if (m_dryRun)
        return WriteNothing(f, prepared, outPath);
    const bool writes =
        prepared.kind == Kind::Copy || prepared.kind == Kind::Animated || prepared.kind == Kind::Encoded;
    std::string reason;
    std::vector<std::string> made;
    const bool placed = !writes || MakeOutputFolders(outPath, f.root, made, reason);
    if (m_journal)
        for (const std::string &folder : made)
            m_journal->MadeFolder(AbsolutePath(folder), AbsolutePath(f.root));
    if (!placed) {
        Finish(f, FileOutcome::SaveError, reason);
        Percent(f);
        return Step::Next;
    }
    if (writes)
        m_guard.BeforeWritingInto(SplitPath(outPath).folder);
    if (writes && (m_journal || m_trashReplaced) &&
        !(prepared.kind == Kind::Copy && !prepared.bytes.data && outPath == f.path) &&
        !KeepReplaced(f, outPath))
        return Step::Next;
    if (prepared.kind == Kind::Copy)
        return WriteCopy(f, prepared, outPath);
    if (prepared.kind == Kind::Animated)
        return WriteAnimation(f, prepared, outPath);
    return WriteEncoded(f, prepared, outPath);
}

ConvertWorker::Step ConvertWorker::WriteNothing(FileRun &f, const PreparedFile &prepared,
                                                const std::string &outPath)
{
    using Kind = PreparedFile::Kind;
    const bool copy = prepared.kind == Kind::Copy;
    if (f.action.empty())
        f.action = copy ? "copy" : prepared.lossless ? "lossless" : "convert";
    // The name stays taken for the files after it, unless the answer to the
    // question decides that.
    if (f.action != "ask")
        NoteWritten(outPath);
    if (!copy || outPath != f.path)
        f.record.output = outPath;
    Finish(f, copy ? FileOutcome::Copied : FileOutcome::Converted);
    Percent(f);
    return Step::Next;
}

ConvertWorker::Step ConvertWorker::WriteCopy(FileRun &f, const PreparedFile &prepared,
                                             const std::string &outPath)
{
    std::string reason, sha256;
    bool copied = true;
    const EncodedBytes &bytes = prepared.bytes;
    if (bytes.data) {
        // The copy without the metadata the job drops, written over the
        // source too when that is the output.
        NoteWritten(outPath);
        StagedFile staged;
        if (StageBytes(outPath, f.stop, bytes, staged, &reason) == WriteResult::Written)
            return Stage(f, std::move(staged), outPath,
                         m_journal ? BytesSha256(bytes) : std::string(),
                         std::int64_t(bytes.size), prepared.way, FileOutcome::Copied);
        copied = false;
    } else if (outPath != f.path) {
        SendReports(true);
        NoteWritten(outPath);
        StagedFile staged;
        std::int64_t size = 0;
        if (StageCopy(f.path, outPath, staged, &reason, m_journal ? &sha256 : nullptr, &size))
            return Stage(f, std::move(staged), outPath, sha256, size, prepared.way, FileOutcome::Copied);
        copied = false;
    }
    if (f.stop.stop_requested())
        return Step::Stop;
    if (copied) {
        if (outPath != f.path || bytes.data)
            f.record.output = outPath;
        f.record.way = prepared.way;
        Finish(f, FileOutcome::Copied);
    } else {
        Finish(f, FileOutcome::SaveError, reason);
    }
    Percent(f);
    return Step::Next;
}

ConvertWorker::Step ConvertWorker::WriteAnimation(FileRun &f, const PreparedFile &prepared,
                                                  const std::string &outPath)
{
    std::string reason;
    SendReports(true);
    NoteWritten(outPath);
    // A watermark naming the file draws its text on every frame; each of
    // several sizes is an animation at its size.
    std::optional<CConvertJob> own;
    if (prepared.stampText || !m_job.m_sizes.empty())
        own = m_job.m_sizes.empty() ? m_job : m_job.ForSize(std::size_t(f.output));
    if (prepared.stampText)
        own->m_szStampText = *prepared.stampText;
    const CConvertJob &job = own ? *own : m_job;
    AnimatedResult result;
    if (m_journal || job.m_nMaxFileSize > 0) {
        // Made in memory first: the journal's line, with the checksum, goes
        // ahead of the output as every other output's does.
        EncodedBytes bytes;
        result = AnimationBytes(f.path, prepared.frames, prepared.outType, job, &m_reporter, f.stop, bytes, &reason,
                                &f.record.fit);
        StagedFile staged;
        const WriteResult staging = result == AnimatedResult::Written
                                        ? StageBytes(outPath, f.stop, bytes, staged, &reason)
                                        : WriteResult::Failed;
        if (staging == WriteResult::Written)
            return Stage(f, std::move(staged), outPath, Sha256Hex(bytes.data.get(), bytes.size),
                         std::int64_t(bytes.size), FileWay::Usual, FileOutcome::Converted);
        if (result == AnimatedResult::Written)
            result = staging == WriteResult::Stopped ? AnimatedResult::Stopped : AnimatedResult::SaveFailed;
    } else {
        result = ConvertAnimation(f.path, prepared.frames, prepared.outType, outPath, job, m_reporter, f.stop,
                                  &reason);
    }
    switch (result) {
    case AnimatedResult::Written:
        Committed(f);
        f.record.output = outPath;
        Finish(f, FileOutcome::Converted);
        break;
    case AnimatedResult::FrameUnreadable:
        Finish(f, FileOutcome::FrameError, reason);
        break;
    case AnimatedResult::TransformFailed:
        Finish(f, FileOutcome::ConvertError, reason);
        break;
    case AnimatedResult::SaveFailed:
        Finish(f, FileOutcome::SaveError, reason);
        break;
    case AnimatedResult::Stopped:
        return Step::Stop;
    }
    Percent(f);
    return Step::Next;
}

ConvertWorker::Step ConvertWorker::WriteEncoded(FileRun &f, const PreparedFile &prepared,
                                                const std::string &outPath)
{
    if (prepared.kind == PreparedFile::Kind::Failed) {
        Finish(f, FileOutcome::ConvertError, prepared.reason);
    } else if (prepared.kind == PreparedFile::Kind::EncodeFailed) {
        Finish(f, FileOutcome::SaveError, prepared.reason);
    } else {
        NoteWritten(outPath);
        f.record.fit = prepared.fit;
        std::string reason;
        const EncodedBytes &bytes = prepared.bytes;
        StagedFile staged;
        switch (StageBytes(outPath, f.stop, bytes, staged, &reason)) {
        case WriteResult::Stopped:
            return Step::Stop;
        case WriteResult::Failed:
            Finish(f, FileOutcome::SaveError, reason);
            break;
        case WriteResult::Written:
            return Stage(f, std::move(staged), outPath,
                         m_journal ? BytesSha256(bytes) : std::string(),
                         std::int64_t(bytes.size), prepared.way, FileOutcome::Converted);
        }
    }
    Percent(f);
    return Step::Next;
}

int ConvertThreadProc(ConvertWorker *worker, std::stop_token stop)
{
    if (worker)
        worker->Run(std::move(stop));
    return 0;
}

ConvertRun::ConvertRun(CConvertJob job, IConvertReporter &reporter, const RunResources &resources)
    : m_worker(std::make_unique<ConvertWorker>(std::move(job), reporter, resources))
{
}

ConvertRun::~ConvertRun()
{
    RequestStop();
    Join();
}

void ConvertRun::Start()
{
    if (!m_thread.joinable())
        m_thread = std::jthread(
            [worker = m_worker.get()](std::stop_token stop) { ConvertThreadProc(worker, std::move(stop)); });
}

void ConvertRun::RequestStop()
{
    m_thread.request_stop();
}

void ConvertRun::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}
