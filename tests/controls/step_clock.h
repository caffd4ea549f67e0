// A frame clock the test steps by hand: the drawing thread reports each wait
// it asks for and stays in it until the test lets it go (or the control
// stops it). The test's own waits are on conditions, with a generous bound
// that only a broken control ever reaches.
#pragma once

#include "animatedpicture.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

class StepClock : public CFrameClock {
public:
    static constexpr std::chrono::seconds kBound{60};

    void Wait(int ms, CStopEvent &stop) override
    {
        std::size_t ticket;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(ms);
            ticket = m_requests.size();
            ++m_entered;
            m_stop = &stop;
        }
        m_cv.notify_all();
        stop.WaitFor(std::chrono::hours(1), [this, ticket] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_released >= ticket;
        });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // A wait ended by a stop counts as let go, so later tickets line up.
            if (m_released < ticket)
                m_released = ticket;
            ++m_exited;
        }
        m_cv.notify_all();
    }

    // Until the drawing thread has asked for its n-th wait (it has drawn
    // that frame and holds still). False when that never happens.
    bool WaitForRequest(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kBound, [&] { return m_requests.size() >= n; });
    }

    // Lets each wait go in turn until the thread has asked for its n-th.
    bool RunTo(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const std::size_t next = m_released + 1;
            if (!m_cv.wait_for(lock, kBound, [&] { return m_requests.size() >= next; }))
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

    // Lets the current wait end.
    void Advance()
    {
        CStopEvent *stop;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_released;
            stop = m_stop;
        }
        if (stop)
            stop->Poke();
    }

    std::vector<int> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // True when no thread is inside Wait.
    bool Idle() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entered == m_exited;
    }
    std::size_t Entered() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entered;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_requests;
    std::size_t m_released = 0;
    std::size_t m_entered = 0;
    std::size_t m_exited = 0;
    CStopEvent *m_stop = nullptr;
};
