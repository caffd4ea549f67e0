#include "cli/stopsignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
// Lock-free, so safe in the handler, and seen by every thread.
std::atomic<int> g_signal = 0;
// A signal ignored when the program started (a background job of a script)
// stays ignored.
bool g_ignored[2] = {false, false};
constexpr int kSignals[2] = {SIGINT, SIGTERM};

void SetDefault()
{
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int i = 0; i < 2; ++i)
        if (!g_ignored[i])
            sigaction(kSignals[i], &dfl, nullptr);
}

// Runs on the watcher thread, the only one that takes these signals: it only
// passes the signal on through the pipe.
void OnSignal(int sig)
{
    // Noted first: the thread that asks whether a stop came may look before
    // the watcher has passed it on.
    if (!g_signal)
        g_signal = sig;
    const int saved = errno;
    SetDefault();
    const char byte = char(sig);
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// A stop signal held back and not yet taken, taken without waiting; 0 when
// none. The zero timeout is of the type the wait call takes.
template <class Timeout>
int TakeHeld(int (*wait)(const sigset_t *, siginfo_t *, const Timeout *))
{
    const sigset_t set = StopSet();
    const Timeout none{};
    const int sig = wait(&set, nullptr, &none);
    return sig > 0 ? sig : 0;
}

} // namespace

StopSignals::StopSignals(std::stop_source stop) : m_stop(std::move(stop))
{
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (pipe2(g_pipe, O_CLOEXEC) != 0)
        return; // the signals keep their usual effect once unblocked
    struct sigaction act = {};
    act.sa_handler = OnSignal;
    act.sa_flags = SA_RESTART;
    sigemptyset(&act.sa_mask);
    for (int i = 0; i < 2; ++i) {
        struct sigaction old = {};
        sigaction(kSignals[i], nullptr, &old);
        g_ignored[i] = old.sa_handler == SIG_IGN;
        if (!g_ignored[i])
            sigaction(kSignals[i], &act, nullptr);
    }
    m_watcher = std::thread([this] { Watch(); });
}

StopSignals::~StopSignals()
{
    Finish();
}

void StopSignals::Watch()
{
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (;;) {
        char byte = 0;
        const ssize_t n = read(g_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == 0) // 0: Finish
            break;
        m_stop.request_stop();
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopSignals::Finish()
{
    if (m_watcher.joinable()) {
        const char quit = 0;
        [[maybe_unused]] const ssize_t n = write(g_pipe[1], &quit, 1);
        m_watcher.join();
        close(g_pipe[0]);
        close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
    }
    // A signal that came once the watcher had ended is still held back: it
    // counts as a stop too, rather than ending the program unannounced when
    // unblocked.
    for (int sig; (sig = TakeHeld(sigtimedwait)) > 0;)
        if (!g_signal)
            g_signal = sig;
    SetDefault();
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool StopSignals::TakePending()
{
    // The watcher takes a signal only once it is scheduled; this thread
    // holds the signals back too and may take one first.
    if (const int sig = TakeHeld(sigtimedwait); sig > 0) {
        if (!g_signal)
            g_signal = sig;
        SetDefault(); // a second one ends the program at once, as after the first
        m_stop.request_stop();
    }
    // Taken by the watcher, which may not have passed it on yet.
    if (g_signal)
        m_stop.request_stop();
    return m_stop.stop_requested();
}

int StopSignals::Signal() const
{
    return g_signal;
}

void StopSignals::RaiseAgain()
{
    if (const int sig = g_signal) {
        Finish();
        raise(sig);
    }
}
