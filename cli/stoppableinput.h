// Reading input that a stop interrupts: a blocking read would not notice
// Ctrl-C or SIGTERM while a pipe stays open and silent.
#pragma once

#include <cstddef>
#include <optional>
#include <stop_token>
#include <sys/types.h>

class StoppableInput {
public:
    StoppableInput(int fd, std::stop_token stop);
    ~StoppableInput();
    StoppableInput(const StoppableInput &) = delete;
    StoppableInput &operator=(const StoppableInput &) = delete;

    // Waits for input on fd, or for the stop. The count of bytes read, 0 at
    // the end of the input, -1 on an error or once the stop is asked for
    // (Stopped() tells which).
    ssize_t Read(char *buffer, std::size_t size);
    bool Stopped() const { return m_stopped; }

private:
    // Wakes the wait from the thread that asks for the stop.
    struct Waker {
        int fd;
        void operator()() const;
    };

    int m_fd;
    int m_wake[2] = {-1, -1};
    bool m_stopped = false;
    std::optional<std::stop_callback<Waker>> m_onStop;
};
