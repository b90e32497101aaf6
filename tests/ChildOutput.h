// Reading what a child process writes on its standard output and error, for tests that run a
// program and compare its texts: both pipes are read together (a child that fills one pipe while
// the test waits on the other would stall) until each reaches end of file.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace zorn::test
{

// Reads the pipes inOut and inErr into ioOut and ioErr until both reach end of file, then closes
// them. Stops early at inDeadline, or once both stay silent for inQuietLimit (a pipe held open by
// another process); the pipes are closed all the same. True when both reached end of file.
inline bool ReadChildOutput(int inOut, int inErr, std::string& ioOut, std::string& ioErr,
                            std::chrono::steady_clock::time_point inDeadline,
                            std::chrono::milliseconds inQuietLimit = std::chrono::hours(1))
{
    pollfd fds[2] = {{inOut, POLLIN, 0}, {inErr, POLLIN, 0}};
    std::string* texts[2] = {&ioOut, &ioErr};
    auto quietSince = std::chrono::steady_clock::now();
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() <= inDeadline)
    {
        if (::poll(fds, 2, 200) <= 0)
        {
            if (std::chrono::steady_clock::now() - quietSince >= inQuietLimit)
            {
                break;
            }
            continue;
        }
        quietSince = std::chrono::steady_clock::now();
        for (int index = 0; index < 2; ++index)
        {
            if (fds[index].fd >= 0 && fds[index].revents != 0)
            {
                char buffer[4096];
                const ssize_t count = ::read(fds[index].fd, buffer, sizeof(buffer));
                if (count > 0)
                {
                    texts[index]->append(buffer, static_cast<size_t>(count));
                }
                else
                {
                    ::close(fds[index].fd);
                    fds[index].fd = -1;
                }
            }
        }
    }
    const bool ended = fds[0].fd < 0 && fds[1].fd < 0;
    for (const pollfd& fd : fds)
    {
        if (fd.fd >= 0)
        {
            ::close(fd.fd);
        }
    }
    return ended;
}

} // namespace zorn::test
