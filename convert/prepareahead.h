// Threads that prepare the files of a run ahead of the one writing them.
#pragma once

#include "convertjob.h"
#include "filepreparer.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

class PrepareAhead {
public:
    // Starts `threads` threads over the job's sources; none runs more than
    // `window` files ahead of the file being taken; within that window the
    // largest files go first, so one big file does not end a run alone.
    // With no threads each file is prepared when it is taken, on the taking
    // thread.
    // Encoded output held for the writer beyond which only the file being
    // taken is started (large BMP or TIFF outputs, a slow disk, a question
    // waiting for its answer).
    static constexpr std::size_t kMaxHeldBytes = std::size_t(384) << 20;
    PrepareAhead(const CConvertJob &job, int threads, int window, std::stop_token stop,
                 std::size_t maxHeldBytes = kMaxHeldBytes);
    // Stops the threads and waits for them.
    ~PrepareAhead();
    PrepareAhead(const PrepareAhead &) = delete;
    PrepareAhead &operator=(const PrepareAhead &) = delete;

    // The prepared file of index i (taken in increasing order), waiting for
    // it when needed. A stop gives a Stopped result at once.
    PreparedFile Take(int index);
    // Prepares file index now, on the calling thread, whatever is ahead.
    PreparedFile PrepareNow(int index);
    // The writer does not need file index (nor any before it).
    void Discard(int index);

private:
    void Loop(std::stop_token own);

    const CConvertJob m_job; // its own copy: the writer advances the running number
    const int m_count;
    const int m_window;
    std::stop_token m_runStop;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<std::optional<PreparedFile>> m_ready;
    std::vector<char> m_claimed;
    std::vector<long long> m_sizes;          // file sizes: the larger files are started first
    int m_next = 0;                          // next index to claim
    int m_taken = 0;                         // index being taken by the writer
    std::size_t m_heldBytes = 0;             // encoded output waiting to be written
    const std::size_t m_maxHeldBytes;
    CxImage m_image{CXIMAGE_FORMAT_UNKNOWN}; // for files prepared by Take
    std::vector<std::jthread> m_threads;
};
