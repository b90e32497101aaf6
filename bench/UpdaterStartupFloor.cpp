// The floor of the updater's start-up benchmark: the least a program can do to log one line. It
// opens a file in the folder it is given, writes one line in the log file's format and exits; no
// C++ runtime work beyond what every program of the project loads.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        return 1;
    }
    char path[4096];
    std::snprintf(path, sizeof(path), "%s/floor_log_1.txt", argv[1]);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        return 1;
    }
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local = {};
    ::localtime_r(&now.tv_sec, &local);
    char stamp[64];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &local);
    char line[256];
    const int length =
        std::snprintf(line, sizeof(line), "1 %s.%03ld [Updater.ZqUP] INFO - Updater starting ()\n", stamp,
                      now.tv_nsec / 1000000);
    const bool written = ::write(fd, line, static_cast<size_t>(length)) == length;
    ::close(fd);
    return written ? 0 : 1;
}
