#include "rundialogs/workerthread.h"

#include <QCoreApplication>

#include <mutex>
#include <vector>

CWorkerThread::~CWorkerThread()
{
    RequestStop();
    Join();
}

void CWorkerThread::Start(std::function<void(std::stop_token)> body)
{
    if (m_thread.joinable() || !body)
        return;
    m_finished = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::jthread([body = std::move(body), finished = m_finished](std::stop_token stop) {
        body(std::move(stop));
        finished->store(true);
    });
}

void CWorkerThread::RequestStop()
{
    m_thread.request_stop();
}

bool CWorkerThread::IsFinished() const
{
    return m_finished && m_finished->load();
}

void CWorkerThread::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

namespace {

struct Keeper {
    std::mutex mutex;
    std::vector<CWorkerThread> threads;
    const QCoreApplication *watchedApp = nullptr;
};

Keeper &TheKeeper()
{
    // Never destroyed before the threads in it: those are joined by the
    // application's clean-up, or here at the very end.
    static Keeper keeper;
    return keeper;
}

void JoinAtApplicationExit()
{
    {
        Keeper &k = TheKeeper();
        std::lock_guard lock(k.mutex);
        k.watchedApp = nullptr; // a later application object registers anew
    }
    JoinStoppedThreads();
}

} // namespace

void KeepStoppedThread(CWorkerThread thread)
{
    if (!thread.IsStarted())
        return;
    thread.RequestStop();
    Keeper &k = TheKeeper();
    std::vector<CWorkerThread> finished;
    {
        std::lock_guard lock(k.mutex);
        for (auto it = k.threads.begin(); it != k.threads.end();) {
            if (it->IsFinished()) {
                finished.push_back(std::move(*it));
                it = k.threads.erase(it);
            } else {
                ++it;
            }
        }
        k.threads.push_back(std::move(thread));
        const QCoreApplication *app = QCoreApplication::instance();
        if (app && app != k.watchedApp) {
            k.watchedApp = app;
            qAddPostRoutine(JoinAtApplicationExit);
        }
    }
    // Their bodies have returned: joining them here takes no time.
    finished.clear();
}

void JoinStoppedThreads()
{
    Keeper &k = TheKeeper();
    std::vector<CWorkerThread> threads;
    {
        std::lock_guard lock(k.mutex);
        threads.swap(k.threads);
    }
    threads.clear();
}

int StoppedThreadCount()
{
    Keeper &k = TheKeeper();
    std::lock_guard lock(k.mutex);
    return int(k.threads.size());
}
