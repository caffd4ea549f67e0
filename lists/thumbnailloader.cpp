#include "lists/thumbnailloader.h"

#include "imaging/largeblocks.h"
#include "imaging/thumbnail.h"

CThumbnailLoader::CThumbnailLoader(std::vector<LoaderJob> jobs, std::function<void()> wake)
    : m_jobs(std::move(jobs)), m_wake(std::move(wake))
{
}

CThumbnailLoader::~CThumbnailLoader()
{
    RequestStop();
    Join();
}

void CThumbnailLoader::Start()
{
    if (!m_thread.joinable() && !m_bFinished)
        m_thread = std::thread([this] { Run(); });
}

void CThumbnailLoader::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<LoaderResult> CThumbnailLoader::TakeResults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_results, {});
}

void CThumbnailLoader::Run()
{
    for (const LoaderJob &job : m_jobs) {
        if (m_bStopLoader)
            break;
        if (job.type == 0)
            continue;
        LoaderResult result;
        result.serial = job.serial;
        m_bDecoding = true;
        const ThumbnailResult made =
            MakeThumbnail(job.path, job.type, result.thumb, &m_bStopLoader, job.autoRotate);
        m_bDecoding = false;
        // A decode cut short says nothing about the file.
        if (m_bStopLoader)
            break;
        result.width = made.width;
        result.height = made.height;
        result.valid = made.valid;
        if (!made.valid)
            result.thumb = QImage();
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            first = m_results.empty();
            m_results.push_back(std::move(result));
        }
        // One wake per batch: while the receiver is busy, results pile up
        // and are taken together.
        if (first)
            m_wake();
    }
    // The decoders' kept blocks are not needed until the next folder.
    largeblocks::Trim();
    m_bFinished = true;
    m_wake();
}
