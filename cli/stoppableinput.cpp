#include "cli/stoppableinput.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

void StoppableInput::Waker::operator()() const
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
}

StoppableInput::StoppableInput(int fd, std::stop_token stop) : m_fd(fd)
{
    // Without the pipe only a stop asked for already is seen.
    if (pipe2(m_wake, O_CLOEXEC) == 0)
        m_onStop.emplace(stop, Waker{m_wake[1]});
    else
        m_stopped = stop.stop_requested();
}

StoppableInput::~StoppableInput()
{
    m_onStop.reset(); // no wake from here on
    for (const int fd : m_wake)
        if (fd >= 0)
            close(fd);
}

ssize_t StoppableInput::Read(char *buffer, std::size_t size)
{
    while (!m_stopped) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, m_wake[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[1].revents) {
            m_stopped = true;
            break;
        }
        const ssize_t n = read(m_fd, buffer, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n;
    }
    return -1;
}
