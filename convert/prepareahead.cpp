#include "prepareahead.h"

#include <algorithm>
#include <sys/stat.h>

PrepareAhead::PrepareAhead(const CConvertJob &job, int threads, int window, std::stop_token stop,
                           std::size_t maxHeldBytes)
    : m_job(job), m_count(job.GetFileCount()), m_window(std::max(1, window)), m_runStop(std::move(stop)),
      m_ready(std::size_t(std::max(0, m_count))), m_claimed(std::size_t(std::max(0, m_count)), 0),
      m_sizes(std::size_t(std::max(0, m_count)), 0), m_maxHeldBytes(maxHeldBytes)
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

void PrepareAhead::Loop(std::stop_token own)
{
    // One file per core already keeps every core busy.
    CxImage::SetThreadLimit(1);
    CxImage image(CXIMAGE_FORMAT_UNKNOWN);
    for (;;) {
        int index;
        {
            std::unique_lock lock(m_mutex);
            const bool go = m_changed.wait(lock, own, [&] {
                // Files the writer went past without taking are not wanted.
                for (; m_next < std::min(m_taken, m_count); ++m_next)
                    m_claimed[std::size_t(m_next)] = 1;
                while (m_next < m_count && m_claimed[std::size_t(m_next)])
                    ++m_next;
                if (m_runStop.stop_requested() || m_next >= m_count)
                    return true;
                // The writer's own file is always started, or nothing could
                // free what is held.
                return m_next < m_taken + m_window && (m_heldBytes < m_maxHeldBytes || m_next == m_taken);
            });
            if (!go || m_runStop.stop_requested() || m_next >= m_count)
                return;
            // The file being taken first, then the largest in the window.
            index = m_next;
            if (m_next != m_taken && m_heldBytes < m_maxHeldBytes) {
                const int end = std::min(m_count, m_taken + m_window);
                for (int i = m_next; i < end; ++i)
                    if (!m_claimed[std::size_t(i)] && m_sizes[std::size_t(i)] > m_sizes[std::size_t(index)])
                        index = i;
            }
            m_claimed[std::size_t(index)] = 1;
            while (m_next < m_count && m_claimed[std::size_t(m_next)])
                ++m_next;
        }
        PreparedFile r;
        try {
            r = PrepareFile(m_job, m_job.GetFile(index), image, m_runStop);
        } catch (...) {
            image.Destroy();
            r = PreparedFile{}; // as good as undecodable
        }
        {
            std::lock_guard lock(m_mutex);
            if (index >= m_taken) { // else the writer has gone past it
                m_heldBytes += r.bytes.size;
                m_ready[std::size_t(index)] = std::move(r);
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
    m_changed.wait(lock, m_runStop, [&] { return m_ready[std::size_t(index)].has_value(); });
    if (!m_ready[std::size_t(index)]) {
        PreparedFile stopped;
        stopped.kind = PreparedFile::Kind::Stopped;
        return stopped;
    }
    PreparedFile r = std::move(*m_ready[std::size_t(index)]);
    m_ready[std::size_t(index)].reset();
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
        if (m_ready[std::size_t(index)])
            m_heldBytes -= m_ready[std::size_t(index)]->bytes.size;
        m_ready[std::size_t(index)].reset();
    }
    m_changed.notify_all();
}

PreparedFile PrepareAhead::PrepareNow(int index)
{
    return PrepareFile(m_job, m_job.GetFile(index), m_image, m_runStop);
}
