// A frame clock the test steps by hand: the drawing thread records each wait
// it asks for and stays in it until the test lets it go or the control stops
// it. The test waits on conditions only, bounded so a broken control fails.
#pragma once

#include "controls/animatedpicture.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

class StepClock : public CFrameClock {
public:
    void Wait(int ms, CStopEvent &stop) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_requests.push_back(ms);
        const std::size_t ticket = m_requests.size();
        ++m_inside;
        m_stop = &stop;
        m_cv.notify_all();
        lock.unlock();
        stop.WaitFor(std::chrono::hours(1), [&] {
            std::lock_guard<std::mutex> inner(m_mutex);
            return m_released >= ticket;
        });
        lock.lock();
        m_released = std::max(m_released, ticket); // a stopped wait counts as let go
        --m_inside;
    }

    // Lets the waits go one by one until the thread has asked for its n-th
    // (it has drawn that frame and holds still). False if it never does.
    bool RunTo(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const std::size_t next = m_released + 1;
            if (!m_cv.wait_for(lock, std::chrono::seconds(60), [&] { return m_requests.size() >= next; }))
                return false;
            if (next >= n)
                return true;
            ++m_released;
            CStopEvent *stop = m_stop;
            lock.unlock();
            stop->Poke();
            lock.lock();
        }
    }

    std::vector<int> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    bool Idle() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_inside == 0;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_requests;
    std::size_t m_released = 0;
    int m_inside = 0;
    CStopEvent *m_stop = nullptr;
};
