#include "convertworker.h"

#include "animatedgif.h"
#include "cximage.h"
#include "largeblocks.h"
#include "naming.h"
#include "outputwriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

std::string convertlog::Summary(int files, int converted, int errors)
{
    char text[160];
    std::snprintf(text, sizeof text, "\r\n总计文件: %d; 已转换: %d; 错误: %d。", files, converted, errors);
    return text;
}

ConvertWorker::ConvertWorker(CConvertJob job, IConvertReporter &reporter, const RunResources &resources)
    : m_job(std::move(job)), m_reporter(reporter), m_resources(resources), m_workers(resources.Workers())
{
}

void ConvertWorker::Run(std::stop_token stop)
{
    const int count = m_job.GetFileCount();
    m_errors = 0;
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
    const std::string summary = convertlog::Summary(count, count - m_errors, m_errors);
    m_reporter.AppendLog(summary);
    m_reporter.SetSummary(summary);
    m_reporter.ConvertDone();
}

namespace {

std::string CanonicalPath(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

} // namespace

void ConvertWorker::NoteWritten(const std::string &path)
{
    m_written.insert(CanonicalPath(path));
}

bool ConvertWorker::WasWritten(const std::string &path) const
{
    return !m_written.empty() && m_written.count(CanonicalPath(path)) != 0;
}

ConvertWorker::Step ConvertWorker::ConvertOne(int i, PrepareAhead &ahead, const std::stop_token &stop)
{
    using namespace convertlog;
    using Kind = PreparedFile::Kind;
    const int count = m_job.GetFileCount();
    const std::string path = m_job.GetFile(i);
    auto percent = [&] {
        if (!stop.stop_requested())
            m_reporter.SetPercent(int((100LL * i + 100) / count));
    };
    auto fail = [&](const char *line) {
        m_reporter.AppendLog(line);
        ++m_errors;
    };

    m_reporter.AnimateStatus();
    m_reporter.AppendLog(kFrom + path + kLineEnd);
    if (!FileExists(path)) {
        ahead.Discard(i);
        fail(kMissing);
        return Step::Next;
    }
    // Folders, pipes and devices are never opened: a pipe would block.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        ahead.Discard(i);
        fail(kOpenError);
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
    if (prepared.kind == Kind::NotLoaded) {
        fail(kOpenError);
        return Step::Next;
    }
    const std::uint32_t sourceType = prepared.sourceType;

    OutputName out = MakeOutputPath(m_job, path, sourceType, count);
    if (FileExists(out.path)) {
        OverwriteChoice choice;
        if (m_job.m_nOverwrite == OVERWRITE_ASK) {
            const OverwriteAnswer answer = m_reporter.AskOverwrite(OverwriteQuestion(out.path));
            if (stop.stop_requested())
                return Step::Stop;
            if (answer.choice == OverwriteChoice::Cancel)
                return Step::EndRun;
            choice = answer.choice;
            if (answer.remember)
                m_job.m_nOverwrite =
                    choice == OverwriteChoice::Overwrite ? OVERWRITE_REPLACE : OVERWRITE_RENAME;
        } else {
            choice = m_job.m_nOverwrite == OVERWRITE_RENAME ? OverwriteChoice::AutoRename
                                                            : OverwriteChoice::Overwrite;
        }
        // Overwriting needs no deletion first: every output replaces its
        // target only once it is complete.
        if (choice == OverwriteChoice::AutoRename)
            out.path = MakeUniqueName(out.path);
    }

    if (prepared.kind == Kind::Copy) {
        if (out.path != path) {
            NoteWritten(out.path);
            if (!CopyFileAtomically(path, out.path)) {
                if (stop.stop_requested())
                    return Step::Stop;
                fail(kSaveError);
            }
        }
        if (stop.stop_requested())
            return Step::Stop;
        percent();
        return Step::Next;
    }

    if (prepared.kind == Kind::Animated) {
        NoteWritten(out.path);
        switch (ConvertAnimatedGif(path, prepared.frames, out.path, m_job, m_reporter, stop)) {
        case AnimatedResult::Written:
            break;
        case AnimatedResult::Failed:
            ++m_errors;
            break;
        case AnimatedResult::Stopped:
            return Step::Stop;
        }
        percent();
        return Step::Next;
    }

    if (prepared.kind == Kind::Failed) {
        m_reporter.AppendLog(kConvertError);
        fail(kSaveError);
    } else if (prepared.kind == Kind::EncodeFailed) {
        fail(kSaveError);
    } else {
        NoteWritten(out.path);
        const EncodedBytes &bytes = prepared.bytes;
        const WriteResult written = WriteAtomically(out.path, stop, [&](CxFile &file) {
            return bytes.size == 0 || file.Write(bytes.data.get(), 1, bytes.size) == bytes.size;
        });
        switch (written) {
        case WriteResult::Stopped:
            return Step::Stop;
        case WriteResult::Failed:
            fail(kSaveError);
            break;
        case WriteResult::Written:
            if (stop.stop_requested())
                return Step::Stop;
            m_reporter.AppendLog(kTo + out.path + kLineEnd);
            m_reporter.AddResult(out.path);
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
