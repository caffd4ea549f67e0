// Ctrl-C and SIGTERM on a terminal run do what the progress dialog's Stop
// does; afterwards the program ends by that same signal, so shells, GNU
// parallel and schedulers see how it ended.
#pragma once

#include <stop_token>
#include <thread>

class StopSignals {
public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
    // it starts later, and takes them on a thread of its own, which asks stop
    // to stop. A second signal ends the program at once. Make it before any
    // other thread starts; only one may exist.
    explicit StopSignals(std::stop_source stop);
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Takes a stop signal sent but not yet delivered, so that any signal
    // sent before the call has asked for the stop by its end. True once a
    // stop was asked for.
    bool TakePending();
    // Stops watching; a signal held back meanwhile counts as a stop, one that
    // comes later has its usual effect.
    void Finish();
    // The signal that asked for the stop, 0 when none came.
    int Signal() const;
    // Ends the program by that signal; returns only when none came.
    void RaiseAgain();

private:
    void Watch();

    std::stop_source m_stop;
    std::thread m_watcher;
};
