#include "convert/prepareahead.h"

#include <algorithm>
#include <sys/stat.h>

PrepareAhead::PrepareAhead(const CConvertJob &job, int threads, int window, std::stop_token stop,
                           const RunResources &resources, Preparer prepare, bool oneDecodeAtOnce)
    : m_job(job), m_count(job.GetFileCount()), m_window(std::max(1, window)), m_runStop(std::move(stop)),
      m_claimed(std::size_t(std::max(0, m_count)), 0), m_running(std::size_t(std::max(0, m_count)), 0),
      m_sizes(std::size_t(std::max(0, m_count)), 0), m_scratch(std::size_t(std::max(0, m_count)), kUnknown),
      m_resources(resources), m_prepare(std::move(prepare)), m_oneDecode(oneDecodeAtOnce)
{
    threads = std::clamp(threads, 0, std::max(0, m_count));
    if (threads > 0) {
        for (int i = 0; i < m_count; ++i) {
            struct stat st;
            if (stat(m_job.GetFile(i).c_str(), &st) == 0)
                m_sizes[std::size_t(i)] = st.st_size;
        }
    }
    for (int t = 0; t < threads; ++t) {
        try {
            m_threads.emplace_back([this](std::stop_token own) { Loop(std::move(own)); });
        } catch (const std::system_error &) {
            break; // fewer helpers; Take prepares on its own thread if none
        }
    }
}

PrepareAhead::~PrepareAhead()
{
    for (std::jthread &t : m_threads)
        t.request_stop();
    m_changed.notify_all();
    m_threads.clear(); // joins
}

void PrepareAhead::SkipTakenLocked()
{
    // Files the writer went past without taking are not wanted.
    for (; m_next < std::min(m_taken, m_count); ++m_next)
        m_claimed[std::size_t(m_next)] = 1;
    while (m_next < m_count && m_claimed[std::size_t(m_next)])
        ++m_next;
}

int PrepareAhead::ChooseLocked(std::vector<int> &toRead)
{
    SkipTakenLocked();
    const int end = std::min(m_count, m_taken + m_window);
    // A few at a time, the writer's own file first, so that other threads
    // (and the writer) need not wait for a whole window of them.
    constexpr std::size_t kReadAtOnce = 4;
    for (int i = m_next; i < end && toRead.size() < kReadAtOnce; ++i) {
        if (!m_claimed[std::size_t(i)] && m_scratch[std::size_t(i)] == kUnknown) {
            m_scratch[std::size_t(i)] = kReading;
            toRead.push_back(i);
        }
    }
    if (!toRead.empty())
        return -1;
    const auto fits = [&](int i, std::size_t limit) {
        const long long need = m_scratch[std::size_t(i)];
        return need == 0 ||
               (need > 0 && (m_scratchRunning == 0 || m_scratchRunning + std::size_t(need) <= limit));
    };
    // Other files only while there is room for their output.
    const bool room = m_heldBytes < m_resources.maxHeldBytes;
    // Every file before m_next is claimed: unless one of those from the
    // writer's file on is still being prepared, the first file the writer
    // waits for is m_next. It comes first, within the whole budget, so
    // outputs never wait for the large files started for the end of the
    // run. The writer's own file is started even without room, or nothing
    // could free what is held.
    const bool writerWaits =
        m_next < end &&
        std::find(m_running.begin() + m_taken, m_running.begin() + m_next, 1) == m_running.begin() + m_next;
    if (writerWaits && (room || m_next == m_taken) && fits(m_next, m_resources.decodeBudgetBytes))
        return m_next;
    if (!room)
        return -1;
    // While that file waits for decoding memory, no other file takes any.
    const bool scratchFree = !writerWaits;
    const auto largest = [&](std::size_t limit, bool needsScratch) {
        int best = -1;
        for (int i = m_next; i < end; ++i)
            if (!m_claimed[std::size_t(i)] && fits(i, limit) &&
                (needsScratch ? m_scratch[std::size_t(i)] > 0
                              : scratchFree || m_scratch[std::size_t(i)] == 0) &&
                (best < 0 || m_sizes[std::size_t(i)] > m_sizes[std::size_t(best)]))
                best = i;
        return best;
    };
    for (const std::size_t limit : {m_resources.preferredScratchBytes, m_resources.decodeBudgetBytes}) {
        // Files that need decoding memory take longest and run one after
        // another: they are started as soon as they may be.
        int best = scratchFree ? largest(limit, true) : -1;
        if (best < 0)
            best = largest(limit, false);
        if (best >= 0)
            return best;
    }
    return -1;
}

void PrepareAhead::Loop(std::stop_token own)
{
    // One file per core already keeps every core busy (a decode shared with
    // a second thread only adds switching and duplicated work here).
    CxImage::SetThreadLimit(1);
    CxImage image;
    std::vector<int> toRead;
    for (;;) {
        int index = -1;
        std::size_t scratch = 0;
        {
            std::unique_lock lock(m_mutex);
            const bool go = m_changed.wait(lock, own, [&] {
                if (m_runStop.stop_requested())
                    return true;
                index = ChooseLocked(toRead);
                return index >= 0 || !toRead.empty() || m_next >= m_count;
            });
            // A stop of the run or of this thread starts nothing more.
            if (!go || own.stop_requested() || m_runStop.stop_requested() || (index < 0 && toRead.empty()))
                return;
            if (index >= 0) {
                m_claimed[std::size_t(index)] = 1;
                m_running[std::size_t(index)] = 1;
                scratch = std::size_t(m_scratch[std::size_t(index)]);
                m_scratchRunning += scratch;
                if (m_oneDecode)
                    m_toDecode.insert(index);
                SkipTakenLocked();
            }
        }
        if (index < 0) {
            // Headers are read outside the lock: a slow disk must not hold
            // up the writer.
            std::vector<long long> found(toRead.size());
            for (std::size_t k = 0; k < toRead.size(); ++k) {
                const std::string &file = m_job.GetFile(toRead[k]);
                // A file whose output is kept is never decoded.
                const bool kept = !KeptOutput(m_job, toRead[k]).empty();
                found[k] = kept ? 0 : (long long)CxImage::DecodeScratchBytes(file.c_str());
            }
            {
                std::lock_guard lock(m_mutex);
                for (std::size_t k = 0; k < toRead.size(); ++k)
                    m_scratch[std::size_t(toRead[k])] = found[k];
            }
            toRead.clear();
            m_changed.notify_all();
            continue;
        }
        // One decoding at a time, the files in turn.
        bool decoding = false;
        if (m_oneDecode) {
            std::unique_lock lock(m_mutex);
            const bool go = m_changed.wait(lock, own, [&] {
                return m_runStop.stop_requested() || (!m_decoding && *m_toDecode.begin() == index);
            });
            m_toDecode.erase(index);
            if (!go)
                return;
            decoding = !m_runStop.stop_requested();
            m_decoding = m_decoding || decoding;
        }
        const auto decoded = [this, &decoding] {
            if (!decoding)
                return;
            decoding = false;
            {
                std::lock_guard lock(m_mutex);
                m_decoding = false;
            }
            m_changed.notify_all();
        };
        if (decoding) {
            SetEncodeStartsHook([this, &decoded](const CxImage &picture) {
                const std::size_t bytes = std::size_t(picture.GetWidth()) * std::size_t(picture.GetHeight()) *
                                          (picture.GetBpp() == 24 ? 3 : 1);
                if (bytes <= m_resources.decodeBudgetBytes)
                    decoded();
            });
        }
        PreparedFile r;
        try {
            r = m_prepare ? m_prepare(index, image, m_runStop) : PrepareFile(m_job, index, image, m_runStop);
        } catch (...) {
            image.Destroy();
            r = PreparedFile{}; // as good as undecodable
        }
        SetEncodeStartsHook(nullptr);
        decoded();
        {
            std::lock_guard lock(m_mutex);
            m_scratchRunning -= scratch;
            m_running[std::size_t(index)] = 0;
            if (index >= m_taken) { // else the writer has gone past it
                m_heldBytes += r.bytes.size;
                m_ready.insert_or_assign(index, std::move(r));
            }
        }
        m_changed.notify_all();
    }
}

PreparedFile PrepareAhead::Take(int index)
{
    std::unique_lock lock(m_mutex);
    m_taken = index;
    m_changed.notify_all();
    if (m_threads.empty()) {
        lock.unlock();
        return PrepareNow(index);
    }
    m_changed.wait(lock, m_runStop, [&] { return m_ready.count(index) != 0; });
    const auto it = m_ready.find(index);
    if (it == m_ready.end()) {
        PreparedFile stopped;
        stopped.kind = PreparedFile::Kind::Stopped;
        return stopped;
    }
    PreparedFile r = std::move(it->second);
    m_ready.erase(it);
    m_heldBytes -= r.bytes.size;
    lock.unlock();
    m_changed.notify_all(); // room for more ahead
    return r;
}

void PrepareAhead::Discard(int index)
{
    {
        std::lock_guard lock(m_mutex);
        m_taken = std::max(m_taken, index + 1);
        if (const auto it = m_ready.find(index); it != m_ready.end()) {
            m_heldBytes -= it->second.bytes.size;
            m_ready.erase(it);
        }
    }
    m_changed.notify_all();
}

PreparedFile PrepareAhead::PrepareNow(int index)
{
    return m_prepare ? m_prepare(index, m_image, m_runStop) : PrepareFile(m_job, index, m_image, m_runStop);
}
