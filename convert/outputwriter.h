// Writing a run's outputs so that a stop or a failure never leaves a partial
// file and never costs the file being replaced.
#pragma once

#include "imaging/atomicfile.h"
#include "imaging/cximage.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

enum class WriteResult {
    Written,
    Failed,   // nothing was replaced
    Stopped,  // a stop came before the file was put in place; nothing was replaced
};

// Runs encode on a temporary file beside path and puts it in place unless
// encode fails or a stop was requested meanwhile. On Failed, reason (when
// given) says why: the system's word for a failed write, flush or rename.
WriteResult WriteAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, std::string *reason = nullptr);
// The same up to the flush: Written means staged holds the whole file, for
// an OutputCommitter to put in place.
WriteResult StageAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, StagedFile &staged,
                            std::string *reason = nullptr);

// The image in the given format (0: the format it was loaded from). A failed
// encode's reason is the codec's own.
WriteResult WriteImage(CxImage &img, const std::string &path, std::uint32_t type, const std::stop_token &stop,
                       std::string *reason = nullptr);

// Puts staged outputs in place in groups on a thread of its own, so the run
// goes on converting while a group is flushed: the first file of a run is a
// group of its own (its line comes early), later groups close when 250 ms
// old or full. At most one group waits behind the one being committed.
class OutputCommitter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kMaxAge{250};
    static constexpr std::size_t kMaxFiles = 256;

    struct Slot {
        StagedFile file;
        bool done = false; // under the committer's lock
    };

    explicit OutputCommitter(CommitCalls &calls = SystemCommitCalls(), Clock clock = {});
    ~OutputCommitter(); // commits what is pending
    OutputCommitter(const OutputCommitter &) = delete;
    OutputCommitter &operator=(const OutputCommitter &) = delete;

    // Called on the committer's thread before each group is put in place
    // (the run's journal is flushed to the disk there). Set before Add.
    void SetBeforeGroup(std::function<void()> call) { m_beforeGroup = std::move(call); }
    std::shared_ptr<Slot> Add(StagedFile file);
    // Whether the slot's file was committed (or failed); then its StagedFile
    // says which.
    bool Done(const Slot &slot) const;
    // Commits every file added so far and waits for it.
    void CommitAll();

private:
    using Group = std::vector<std::shared_ptr<Slot>>;
    bool DueLocked() const;
    void CloseLocked(std::unique_lock<std::mutex> &lock);
    void Loop();

    CommitCalls &m_calls;
    const Clock m_clock;
    std::function<void()> m_beforeGroup;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Group m_pending;
    std::chrono::steady_clock::time_point m_opened{};
    std::deque<Group> m_closed;
    bool m_committing = false, m_anyClosed = false, m_quit = false;
    std::thread m_thread;
};
