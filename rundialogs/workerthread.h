// The thread of one conversion run, and the keeper of runs that were told to
// stop while still inside a long step (a big decode or encode): the window
// closes at once and the thread is joined later, at the latest when the
// application object goes away.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

class CWorkerThread {
public:
    CWorkerThread() = default;
    // Asks the body to stop and waits for it.
    ~CWorkerThread();
    CWorkerThread(CWorkerThread &&) noexcept = default;
    CWorkerThread &operator=(CWorkerThread &&) noexcept = default;
    CWorkerThread(const CWorkerThread &) = delete;
    CWorkerThread &operator=(const CWorkerThread &) = delete;

    // Runs body once on a new thread; a second call does nothing.
    void Start(std::function<void(std::stop_token)> body);
    void RequestStop();
    bool IsStarted() const { return m_thread.joinable(); }
    // The body has returned (the thread may still be unwinding).
    bool IsFinished() const;
    void Join();

private:
    std::shared_ptr<std::atomic<bool>> m_finished;
    std::jthread m_thread;
};

// Takes a thread that was asked to stop and joins it once it ends. Joined
// threads that have finished are dropped on each call.
void KeepStoppedThread(CWorkerThread thread);
// Waits for every kept thread. Also runs when the application object is
// destroyed, so no worker outlives it.
void JoinStoppedThreads();
// Kept threads not joined yet.
int StoppedThreadCount();
