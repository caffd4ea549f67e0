#include "convert/convertworker.h"

#include "convert/animation.h"
#include "imaging/cximage.h"
#include "convert/filepreparer.h"
#include "imaging/largeblocks.h"
#include "imaging/metadataio.h"
#include "convert/naming.h"
#include "convert/outputdates.h"
#include "convert/outputwriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

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
    {
        // One worker prepares each file itself when it comes to it; more
        // prepare ahead, within a window of files each.
        const int helpers = m_workers > 1 ? m_workers : 0;
        PrepareAhead ahead(m_job, helpers, 16 * m_workers, stop, m_resources);
        for (int i = 0; i < count; ++i) {
            if (stop.stop_requested())
                return;
            switch (ConvertOne(i, ahead, stop)) {
            case Step::Next:
                break;
            case Step::Stop:
                return;
            case Step::EndRun:
                if (!stop.stop_requested())
                    m_reporter.ConvertDone();
                return;
            }
        }
    }
    if (stop.stop_requested())
        return;
    m_reporter.SetSummary(RunTotals{count, count - m_errors - m_skipped, m_errors, m_skipped});
    m_reporter.ConvertDone();
}

namespace {

std::int64_t FileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : 0;
}

std::string CanonicalPath(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

} // namespace

void ConvertWorker::NoteWritten(const std::string &path)
{
    m_written.insert(std::hash<std::string>{}(CanonicalPath(path)));
    m_guard.NoteOutput(path);
}

bool ConvertWorker::WasWritten(const std::string &path) const
{
    return !m_written.empty() && m_written.count(std::hash<std::string>{}(CanonicalPath(path))) != 0;
}

ConvertWorker::Step ConvertWorker::ConvertOne(int i, PrepareAhead &ahead, const std::stop_token &stop)
{
    using Kind = PreparedFile::Kind;
    const int count = m_job.GetFileCount();
    const std::string path = m_job.GetFile(i);
    auto percent = [&] {
        if (!stop.stop_requested())
            m_reporter.SetPercent(int((100LL * i + 100) / count));
    };
    FileRecord record{path, {}, FileOutcome::Converted, {}};
    // Time spent on the file: preparing it (perhaps ahead, on another
    // thread) and then what this thread does with it.
    auto started = std::chrono::steady_clock::now();
    std::int64_t preparing = 0;
    // Reports the file's record; a failure counts as one error.
    auto finish = [&](FileOutcome outcome, std::string reason = {}) {
        record.outcome = outcome;
        record.reason = std::move(reason);
        record.microseconds =
            preparing +
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
        if (!record.output.empty() && outcome != FileOutcome::Skipped)
            record.bytesOut = FileSize(record.output);
        if ((outcome == FileOutcome::Converted || outcome == FileOutcome::Copied) && !record.output.empty() &&
            !ApplyOutputTime(m_job, path, record.output, &record.reason))
            outcome = record.outcome = FileOutcome::SaveError;
        if (record.Failed())
            ++m_errors;
        else if (outcome == FileOutcome::Skipped)
            ++m_skipped;
        m_reporter.FileDone(record);
        if (outcome == FileOutcome::Converted)
            m_reporter.AddResult(record.output);
    };

    m_reporter.AnimateStatus();
    m_reporter.FileStarted(path);
    if (!FileExists(path)) {
        ahead.Discard(i);
        finish(FileOutcome::Missing, std::strerror(ENOENT));
        return Step::Next;
    }
    std::string notRegular;
    if (!IsRegularFile(path, &notRegular)) {
        ahead.Discard(i);
        finish(FileOutcome::OpenError, notRegular);
        return Step::Next;
    }
    // A source this run has written since it began must be read as it is
    // now, not as it was when it was prepared ahead.
    PreparedFile prepared;
    if (WasWritten(path)) {
        ahead.Discard(i);
        prepared = ahead.PrepareNow(i);
    } else {
        prepared = ahead.Take(i);
    }
    if (stop.stop_requested() || prepared.kind == Kind::Stopped)
        return Step::Stop;
    // Kept outputs were decided before decoding; what this run wrote since
    // is looked at again.
    if (prepared.kind == Kind::Skipped && !KeepsExistingOutput(m_job, path, prepared.keptOutput))
        prepared = ahead.PrepareNow(i);
    record.bytesIn = FileSize(path);
    preparing = prepared.microseconds;
    started = std::chrono::steady_clock::now();
    if (prepared.kind == Kind::NotLoaded) {
        finish(FileOutcome::OpenError, prepared.reason);
        return Step::Next;
    }
    const std::uint32_t sourceType = prepared.sourceType;

    const std::string &subfolder = m_job.GetOutputSubfolder(i);
    OutputName out = NameKnownBeforeDecoding(m_job) ? PlannedOutputPath(m_job, i, sourceType)
                                                    : MakeOutputPath(m_job, path, sourceType, count, subfolder,
                                                                     NameFacts{prepared.width, prepared.height});
    if (!out.problem.empty()) {
        finish(FileOutcome::SaveError, out.problem);
        percent();
        return Step::Next;
    }
    if (prepared.kind == Kind::Skipped || KeepsExistingOutput(m_job, path, out.path)) {
        record.output = out.path;
        finish(FileOutcome::Skipped);
        percent();
        return Step::Next;
    }
    // An output of this run whose name differs only in case is the same
    // output: on many volumes one would replace the other.
    const std::string twin = m_guard.CaseTwin(out.path);
    if (!twin.empty() && KeepsExistingOutput(m_job, path, twin)) {
        record.output = twin;
        finish(FileOutcome::Skipped);
        percent();
        return Step::Next;
    }
    if (FileExists(out.path) || !twin.empty()) {
        const std::string existing = FileExists(out.path) ? out.path : twin;
        OverwriteChoice choice;
        if (m_job.m_nOverwrite == OVERWRITE_ASK) {
            const OverwriteAnswer answer = m_reporter.AskOverwrite(existing);
            if (stop.stop_requested())
                return Step::Stop;
            if (answer.choice == OverwriteChoice::Cancel)
                return Step::EndRun;
            choice = answer.choice;
            if (answer.remember)
                m_job.m_nOverwrite = choice == OverwriteChoice::Overwrite ? OVERWRITE_REPLACE
                                     : choice == OverwriteChoice::Skip    ? OVERWRITE_SKIP
                                                                          : OVERWRITE_RENAME;
            if (choice == OverwriteChoice::Skip) {
                record.output = existing;
                finish(FileOutcome::Skipped);
                percent();
                return Step::Next;
            }
        } else {
            choice = m_job.m_nOverwrite == OVERWRITE_RENAME ? OverwriteChoice::AutoRename
                                                            : OverwriteChoice::Overwrite;
        }
        // Overwriting needs no deletion first: every output replaces its
        // target only once it is complete. A link there is replaced itself,
        // but never when it (or a hard link) leads to a source.
        if (choice == OverwriteChoice::AutoRename) {
            out.path = m_guard.UniqueName(out.path);
        } else {
            out.path = existing;
            record.target = out.path;
            const std::string clash = m_guard.SourceClash(path, out.path);
            if (!clash.empty()) {
                finish(FileOutcome::SaveError, clash);
                percent();
                return Step::Next;
            }
        }
    }

    record.target = out.path;
    std::string reason;
    // A mirrored tree's folders, and a name template's below them, are
    // made as its files arrive.
    const bool writes = prepared.kind == Kind::Copy || prepared.kind == Kind::Animated || prepared.kind == Kind::Encoded;
    if (!subfolder.empty() && writes) {
        std::error_code ec;
        std::filesystem::create_directories(out.templateFolders.empty() ? SplitPath(out.path).folder : out.baseFolder, ec);
        if (ec) {
            finish(FileOutcome::SaveError, ec.message());
            percent();
            return Step::Next;
        }
    }
    if (!out.templateFolders.empty() && writes && !MakeFoldersBelow(out.baseFolder, out.templateFolders, reason)) {
        finish(FileOutcome::SaveError, reason);
        percent();
        return Step::Next;
    }
    if (prepared.kind == Kind::Copy || prepared.kind == Kind::Animated || prepared.kind == Kind::Encoded)
        m_guard.BeforeWritingInto(SplitPath(out.path).folder);
    if (prepared.kind == Kind::Copy) {
        bool copied = true;
        const EncodedBytes &bytes = prepared.bytes;
        if (bytes.data) {
            // The copy without the metadata the job drops, written over the
            // source too when that is the output.
            NoteWritten(out.path);
            copied =
                WriteAtomically(
                    out.path, stop,
                    [&](CxFile &file) { return file.Write(bytes.data.get(), 1, bytes.size) == bytes.size; },
                    &reason) == WriteResult::Written;
        } else if (out.path != path) {
            NoteWritten(out.path);
            copied = CopyFileAtomically(path, out.path, &reason);
        }
        if (stop.stop_requested())
            return Step::Stop;
        if (copied) {
            if (out.path != path || bytes.data)
                record.output = out.path;
            finish(FileOutcome::Copied);
        } else {
            finish(FileOutcome::SaveError, reason);
        }
        percent();
        return Step::Next;
    }

    if (prepared.kind == Kind::Animated) {
        NoteWritten(out.path);
        switch (ConvertAnimation(path, prepared.frames, prepared.outType, out.path, m_job, m_reporter, stop,
                                 &reason)) {
        case AnimatedResult::Written:
            record.output = out.path;
            finish(FileOutcome::Converted);
            break;
        case AnimatedResult::FrameUnreadable:
            finish(FileOutcome::FrameError, reason);
            break;
        case AnimatedResult::TransformFailed:
            finish(FileOutcome::ConvertError, reason);
            break;
        case AnimatedResult::SaveFailed:
            finish(FileOutcome::SaveError, reason);
            break;
        case AnimatedResult::Stopped:
            return Step::Stop;
        }
        percent();
        return Step::Next;
    }

    if (prepared.kind == Kind::Failed) {
        finish(FileOutcome::ConvertError, prepared.reason);
    } else if (prepared.kind == Kind::EncodeFailed) {
        finish(FileOutcome::SaveError, prepared.reason);
    } else {
        NoteWritten(out.path);
        const EncodedBytes &bytes = prepared.bytes;
        const WriteResult written = WriteAtomically(
            out.path, stop,
            [&](CxFile &file) {
                return bytes.size == 0 || file.Write(bytes.data.get(), 1, bytes.size) == bytes.size;
            },
            &reason);
        switch (written) {
        case WriteResult::Stopped:
            return Step::Stop;
        case WriteResult::Failed:
            finish(FileOutcome::SaveError, reason);
            break;
        case WriteResult::Written:
            if (stop.stop_requested())
                return Step::Stop;
            record.output = out.path;
            finish(FileOutcome::Converted);
            break;
        }
    }
    percent();
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
