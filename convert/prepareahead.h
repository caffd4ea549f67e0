// Threads that prepare the files of a run ahead of the one writing them.
#pragma once

#include "convert/convertjob.h"
#include "convert/filepreparer.h"
#include "imaging/runresources.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stop_token>
#include <thread>
#include <vector>

class PrepareAhead {
public:
    // How one file is prepared: PrepareFile unless given.
    using Preparer = std::function<PreparedFile(int index, CxImage &image, const std::stop_token &stop)>;

    // Starts `threads` threads over the job's sources; none runs more than
    // `window` files ahead of the file being taken. The first file the
    // writer still waits for is always being prepared when memory allows,
    // so outputs keep coming in order; the other threads take the largest
    // files of the window first, so one big file does not end a run alone.
    // With no threads each file is prepared when it is taken, on the taking
    // thread. The encoded output held and the decoding memory of the files
    // running together stay within the resources' bounds: a large
    // progressive photo is decoded while the other threads take the smaller
    // files, and two only at once when there is nothing else to do or the
    // writer waits for the second.
    //
    // With oneDecodeAtOnce, the threads take the files in turn, one
    // decoding at a time: the next starts when the one before has only its
    // encode left (SetEncodeStartsHook) or is done. A run of one job so
    // decodes one file while the file before it is encoded, as a file whose
    // rows stream is decoded and encoded at once, and holds at most two
    // pictures (one too large to hold twice within the decoding budget is
    // done before the next begins).
    PrepareAhead(const CConvertJob &job, int threads, int window, std::stop_token stop,
                 const RunResources &resources = {}, Preparer prepare = {}, bool oneDecodeAtOnce = false);
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
    static constexpr long long kUnknown = -1, kReading = -2;

    void Loop(std::stop_token own);
    // Under the lock: the file a helper starts next, or -1 when none may start
    // now. Files whose headers must be read first are marked and listed in
    // toRead instead.
    int ChooseLocked(std::vector<int> &toRead);
    void SkipTakenLocked();

    const CConvertJob m_job; // its own copy: the writer advances the running number
    const int m_count;
    const int m_window;
    std::stop_token m_runStop;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::map<int, PreparedFile> m_ready; // by index: at most a window of them
    std::vector<char> m_claimed;
    std::vector<char> m_running;      // being prepared by a thread now
    std::vector<long long> m_sizes;   // file sizes: the larger files are started first
    int m_next = 0;                   // next index to claim
    int m_taken = 0;                  // index being taken by the writer
    std::size_t m_heldBytes = 0;      // encoded output waiting to be written
    std::vector<long long> m_scratch; // decoding memory by file: bytes, kUnknown or kReading
    std::size_t m_scratchRunning = 0; // of the files being prepared
    const RunResources m_resources;
    const Preparer m_prepare;
    const bool m_oneDecode;
    bool m_decoding = false;  // a thread is decoding (oneDecodeAtOnce)
    std::set<int> m_toDecode; // claimed files not yet begun, in turn
    CxImage m_image; // for files prepared by Take
    std::vector<std::jthread> m_threads;
};
