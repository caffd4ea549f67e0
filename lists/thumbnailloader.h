// The loader thread of the folder listing: decodes the listed files one after
// the other, in row order, and hands back each file's size and thumbnail.
// It owns copies of the paths it works on, so the listing may change under
// it; results name their row by serial, never by position.
#pragma once

#include "lists/thumbcache.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LoaderJob {
    std::uint64_t serial = 0;
    std::string path; // encoded for the file system
    int type = 0;     // GetImageType of the path
    bool autoRotate = true; // photos turned upright as their file says
};

struct LoaderResult {
    std::uint64_t serial = 0;
    long width = 0;
    long height = 0;
    bool valid = false; // thumb holds the picture
    int pages = 0;      // a PDF's or TIFF's pages, 0 for other files or when unknown
    QImage thumb;
};

class CThumbnailLoader {
public:
    // wake runs on the loader thread whenever results become available after
    // the queue was emptied, and once more when the thread ends. It must only
    // post work to the receiving thread. With a cache, cards come from it
    // where it holds them, and what is decoded is written to it.
    CThumbnailLoader(std::vector<LoaderJob> jobs, std::function<void()> wake,
                     std::shared_ptr<const CThumbCache> cache = nullptr);
    ~CThumbnailLoader(); // stops and joins
    CThumbnailLoader(const CThumbnailLoader &) = delete;
    CThumbnailLoader &operator=(const CThumbnailLoader &) = delete;

    void Start();
    // Asks the thread to end; a long decode in progress is cut short.
    void RequestStop() { m_bStopLoader = true; }
    bool IsStopRequested() const { return m_bStopLoader; }
    bool IsDecoding() const { return m_bDecoding; }
    bool IsFinished() const { return m_bFinished; }
    void Join();

    // Results delivered since the last call, in row order.
    std::vector<LoaderResult> TakeResults();
    std::size_t JobCount() const { return m_jobs.size(); }

private:
    void Run();
    // The card of job from the cache, or decoded (then kept in the cache);
    // false when a stop cut the decode short.
    bool Load(const LoaderJob &job, LoaderResult &result);
    void Deliver(LoaderResult result);

    const std::vector<LoaderJob> m_jobs;
    const std::function<void()> m_wake;
    const std::shared_ptr<const CThumbCache> m_cache;
    std::thread m_thread;
    std::atomic<bool> m_bStopLoader{false};
    std::atomic<bool> m_bDecoding{false};
    std::atomic<bool> m_bFinished{false};
    std::mutex m_mutex;
    std::vector<LoaderResult> m_results; // guarded by m_mutex
};
