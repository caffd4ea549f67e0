#include "convertworker.h"

#include "animatedgif.h"
#include "cximage.h"
#include "naming.h"
#include "outputwriter.h"
#include "pipeline.h"

#include <cstdio>
#include <sys/stat.h>

std::string convertlog::Summary(int files, int converted, int errors)
{
    char text[160];
    std::snprintf(text, sizeof text, "\r\n总计文件: %d; 已转换: %d; 错误: %d。", files, converted, errors);
    return text;
}

ConvertWorker::ConvertWorker(CConvertJob job, IConvertReporter &reporter)
    : m_job(std::move(job)), m_reporter(reporter)
{
}

void ConvertWorker::Run(std::stop_token stop)
{
    const int count = m_job.GetFileCount();
    m_errors = 0;
    CxImage image(CXIMAGE_FORMAT_UNKNOWN);
    for (int i = 0; i < count; ++i) {
        if (stop.stop_requested())
            return;
        switch (ConvertOne(i, image, stop)) {
        case Step::Next: break;
        case Step::Stop: return;
        case Step::EndRun:
            if (!stop.stop_requested())
                m_reporter.ConvertDone();
            return;
        }
    }
    image.Destroy();
    if (stop.stop_requested())
        return;
    const std::string summary = convertlog::Summary(count, count - m_errors, m_errors);
    m_reporter.AppendLog(summary);
    m_reporter.SetSummary(summary);
    m_reporter.ConvertDone();
}

ConvertWorker::Step ConvertWorker::ConvertOne(int i, CxImage &image, const std::stop_token &stop)
{
    using namespace convertlog;
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
        fail(kMissing);
        return Step::Next;
    }
    // Folders, pipes and devices are never opened: a pipe would block.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(kOpenError);
        return Step::Next;
    }
    const std::uint32_t sourceType = TypeFromExtension(LowerExtension(path));
    if (!image.Load(path.c_str(), sourceType)) {
        fail(kOpenError);
        return Step::Next;
    }
    if (stop.stop_requested())
        return Step::Stop;

    OutputName out = MakeOutputPath(m_job, path, sourceType, count);
    if (FileExists(out.path)) {
        OverwriteChoice choice;
        if (m_job.m_nOverwrite == OVERWRITE_ASK) {
            const OverwriteAnswer answer = m_reporter.AskOverwrite(OverwriteQuestion(out.path));
            if (stop.stop_requested())
                return Step::Stop;
            if (answer.choice == OverwriteChoice::Cancel) {
                image.Destroy();
                return Step::EndRun;
            }
            choice = answer.choice;
            if (answer.remember)
                m_job.m_nOverwrite = choice == OverwriteChoice::Overwrite ? OVERWRITE_REPLACE : OVERWRITE_RENAME;
        } else {
            choice = m_job.m_nOverwrite == OVERWRITE_RENAME ? OverwriteChoice::AutoRename : OverwriteChoice::Overwrite;
        }
        // Overwriting needs no deletion first: every output replaces its
        // target only once it is complete.
        if (choice == OverwriteChoice::AutoRename)
            out.path = MakeUniqueName(out.path);
    }

    if (!m_job.m_bStamp && !m_job.m_bRotate && !m_job.m_bResize && out.type == sourceType) {
        if (out.path != path && !CopyFileAtomically(path, out.path)) {
            if (stop.stop_requested())
                return Step::Stop;
            fail(kSaveError);
        }
        if (stop.stop_requested())
            return Step::Stop;
        percent();
        return Step::Next;
    }

    if (sourceType == CXIMAGE_FORMAT_GIF && out.type == CXIMAGE_FORMAT_GIF && image.GetNumFrames() > 1) {
        const int frames = image.GetNumFrames();
        image.Destroy();
        switch (ConvertAnimatedGif(path, frames, out.path, m_job, m_reporter, stop)) {
        case AnimatedResult::Written: break;
        case AnimatedResult::Failed: ++m_errors; break;
        case AnimatedResult::Stopped: return Step::Stop;
        }
        percent();
        return Step::Next;
    }

    const TransformOutcome t = TransformImage(image, m_job, true);
    if (stop.stop_requested())
        return Step::Stop;
    if (t.failed) {
        m_reporter.AppendLog(kConvertError);
        fail(kSaveError);
    } else {
        PrepareForOutput(image, out.type, m_job, t.stampDrawn);
        switch (WriteImage(image, out.path, out.type, stop)) {
        case WriteResult::Stopped: return Step::Stop;
        case WriteResult::Failed: fail(kSaveError); break;
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

ConvertRun::ConvertRun(CConvertJob job, IConvertReporter &reporter)
    : m_worker(std::make_unique<ConvertWorker>(std::move(job), reporter))
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
        m_thread = std::jthread([worker = m_worker.get()](std::stop_token stop) {
            ConvertThreadProc(worker, std::move(stop));
        });
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
