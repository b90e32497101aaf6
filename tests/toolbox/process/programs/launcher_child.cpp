// A child program for the launcher tests. The first argument picks what it does:
//   exit N            exits with N
//   write N           writes N bytes to standard error, then N to standard output
//   pidfile PATH MS   writes its pid to PATH, then sleeps MS milliseconds
//   closein           closes standard input, prints "closed", sleeps 10 s
//   stop              stops itself (SIGSTOP), then exits 0
//   grandchild PATH   forks a child that writes its pid to PATH; both sleep 30 s
//   fds               prints its open descriptors, blank-separated
//   ignoreterm        ignores SIGTERM, prints "ready", sleeps 30 s
//   args ...          prints each following argument followed by a NUL byte
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
void WriteAll(int inFd, const std::string& inText)
{
    size_t done = 0;
    while (done < inText.size())
    {
        ssize_t count = ::write(inFd, inText.data() + done, inText.size() - done);
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            std::_Exit(9);
        }
        done += static_cast<size_t>(count);
    }
}

void SleepMs(long inMs)
{
    ::usleep(static_cast<useconds_t>(inMs) * 1000);
}
} // namespace

int main(int argc, char** argv)
{
    rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc > 2)
    {
        return std::atoi(argv[2]);
    }
    if (mode == "write" && argc > 2)
    {
        size_t count = std::strtoul(argv[2], nullptr, 10);
        WriteAll(2, std::string(count, 'e'));
        WriteAll(1, std::string(count, 'o'));
        return 0;
    }
    if (mode == "pidfile" && argc > 3)
    {
        std::ofstream(argv[2]) << ::getpid() << '\n';
        SleepMs(std::atol(argv[3]));
        return 0;
    }
    if (mode == "closein")
    {
        ::close(0);
        WriteAll(1, "closed\n");
        SleepMs(10000);
        return 0;
    }
    if (mode == "stop")
    {
        ::raise(SIGSTOP);
        return 0;
    }
    if (mode == "grandchild" && argc > 2)
    {
        if (::fork() == 0)
        {
            std::ofstream(argv[2]) << ::getpid() << '\n';
            SleepMs(30000);
            return 0;
        }
        SleepMs(30000);
        return 0;
    }
    if (mode == "fds")
    {
        DIR* folder = ::opendir("/proc/self/fd");
        std::string list;
        while (dirent* entry = ::readdir(folder))
        {
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(folder))
            {
                list += (list.empty() ? "" : " ") + std::string(entry->d_name);
            }
        }
        ::closedir(folder);
        WriteAll(1, list);
        return 0;
    }
    if (mode == "ignoreterm")
    {
        ::signal(SIGTERM, SIG_IGN);
        WriteAll(1, "ready\n");
        SleepMs(30000);
        return 0;
    }
    if (mode == "args")
    {
        for (int i = 2; i < argc; ++i)
        {
            WriteAll(1, std::string(argv[i]) + '\0');
        }
        return 0;
    }
    return 100;
}
