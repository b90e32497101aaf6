// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFd: owns one descriptor and closes it when it goes, so that no path of the back ends can
// leak one. Moving hands the descriptor on; Release gives it up without closing it.
//
// Choices and limits:
// - close(2) is called once and its result ignored: on Linux the descriptor is gone whatever
//   close says, and a second close could hit a descriptor another thread has just been given.
//   Where the result matters (a written file), call Close and look at its errno.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zorn
{

class XLinuxFd
{
public:
    XLinuxFd() = default;
    explicit XLinuxFd(int inFd) : fFd(inFd) {}
    ~XLinuxFd() { Reset(); }
    XLinuxFd(const XLinuxFd&) = delete;
    XLinuxFd& operator=(const XLinuxFd&) = delete;
    XLinuxFd(XLinuxFd&& ioOther) noexcept : fFd(ioOther.Release()) {}
    XLinuxFd& operator=(XLinuxFd&& ioOther) noexcept
    {
        if (this != &ioOther)
        {
            Reset(ioOther.Release());
        }
        return *this;
    }

    int Get() const { return fFd; }
    bool IsOpen() const { return fFd >= 0; }
    // Closes the descriptor held (if any), then holds inFd; errno is kept as it was.
    void Reset(int inFd = -1)
    {
        if (fFd >= 0)
        {
            const int saved = errno;
            ::close(fFd);
            errno = saved;
        }
        fFd = inFd;
    }
    int Release() { return std::exchange(fFd, -1); }
    // Closes now; the errno of a failed close, else 0.
    int Close()
    {
        const int fd = Release();
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int fFd = -1;
};

} // namespace zorn
