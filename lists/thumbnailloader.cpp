#include "lists/thumbnailloader.h"

#include "imaging/formats.h"
#include "imaging/imageheader.h"
#include "imaging/largeblocks.h"
#include "imaging/thumbnail.h"

#include <ctime>

CThumbnailLoader::CThumbnailLoader(std::vector<LoaderJob> jobs, std::function<void()> wake,
                                   std::shared_ptr<const CThumbCache> cache)
    : m_jobs(std::move(jobs)), m_wake(std::move(wake)), m_cache(std::move(cache))
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

namespace {

// Only documents are counted: any other file is one picture.
bool MayHavePages(int type)
{
    return type == CXIMAGE_FORMAT_PDF || type == CXIMAGE_FORMAT_TIF;
}

} // namespace

bool CThumbnailLoader::Load(const LoaderJob &job, LoaderResult &result)
{
    ThumbKey key;
    const bool cached = m_cache && CThumbCache::KeyOf(job.path, key) && !m_cache->Holds(job.path);
    if (cached) {
        CachedCard card = m_cache->Find(key);
        if (card.kind != CachedCard::Kind::Miss) {
            result.width = card.width;
            result.height = card.height;
            result.valid = card.kind == CachedCard::Kind::Card;
            result.thumb = std::move(card.card);
            // A card another program cached may not say how many pages.
            if (result.valid && MayHavePages(job.type))
                result.pages = card.pages > 0 ? card.pages : CountPages(job.path.c_str());
            return true;
        }
    }
    QImage fitted;
    m_bDecoding = true;
    const ThumbnailResult made =
        MakeThumbnail(job.path, job.type, result.thumb, &m_bStopLoader, job.autoRotate,
                      cached ? &fitted : nullptr, thumbcache::kNormalSide);
    m_bDecoding = false;
    // A decode cut short says nothing about the file.
    if (m_bStopLoader)
        return false;
    result.width = made.width;
    result.height = made.height;
    result.valid = made.valid;
    if (!made.valid)
        result.thumb = QImage();
    else if (MayHavePages(job.type))
        result.pages = CountPages(job.path.c_str());
    if (m_bStopLoader)
        return false;
    // A file changed within this second may change again under the same
    // mtime: its picture is not kept.
    if (cached && key.mtime < std::int64_t(std::time(nullptr))) {
        if (made.valid)
            m_cache->StoreNormal(key, fitted, made.width, made.height, result.pages);
        else
            m_cache->StoreFailure(key, made.width, made.height);
    }
    return true;
}

void CThumbnailLoader::Deliver(LoaderResult result)
{
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

void CThumbnailLoader::Run()
{
    for (const LoaderJob &job : m_jobs) {
        if (m_bStopLoader)
            break;
        if (job.type == 0)
            continue;
        LoaderResult result;
        result.serial = job.serial;
        if (!Load(job, result))
            break;
        Deliver(std::move(result));
    }
    // The decoders' kept blocks are not needed until the next folder.
    largeblocks::Trim();
    m_bFinished = true;
    m_wake();
}
