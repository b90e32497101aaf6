// A small tmpfs for tests that need a full disk. A child process enters a user and mount
// namespace of its own, mounts a tmpfs of the given size there and hands its root folder back as a
// descriptor, then exits; the descriptor keeps the (then detached) file system alive, and
// "/proc/self/fd/<fd>/name" reaches its files from the test process. Where the kernel refuses
// unprivileged namespaces, there is no tmpfs and the tests use the descriptors' fault seam instead.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zorn::test
{

class SmallTmpfs
{
public:
    explicit SmallTmpfs(size_t inBytes) { fFd = _Mount(inBytes); }
    ~SmallTmpfs()
    {
        if (fFd >= 0)
        {
            ::close(fFd);
        }
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool IsMounted() const { return fFd >= 0; }
    // The POSIX path of a name in the tmpfs's root.
    std::string PathOf(const std::string& inName) const
    {
        return "/proc/self/fd/" + std::to_string(fFd) + "/" + inName;
    }

private:
    static bool _WriteFile(const char* inPath, const char* inText)
    {
        int fd = ::open(inPath, O_WRONLY | O_CLOEXEC);
        if (fd < 0)
        {
            return false;
        }
        const auto size = static_cast<ssize_t>(std::strlen(inText));
        bool ok = ::write(fd, inText, static_cast<size_t>(size)) == size;
        ::close(fd);
        return ok;
    }

    // In the child: only system calls and fixed buffers (the parent may have other threads).
    static int _MountInChild(size_t inBytes)
    {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        {
            return -1;
        }
        char map[64];
        _WriteFile("/proc/self/setgroups", "deny");
        std::snprintf(map, sizeof map, "0 %u 1", uid);
        if (!_WriteFile("/proc/self/uid_map", map))
        {
            return -1;
        }
        std::snprintf(map, sizeof map, "0 %u 1", gid);
        _WriteFile("/proc/self/gid_map", map);
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        {
            return -1;
        }
        char options[64];
        std::snprintf(options, sizeof options, "size=%zu,mode=0777", inBytes);
        // Mounted over /tmp in this namespace only; the parent never sees it there.
        if (::mount("tmpfs", "/tmp", "tmpfs", 0, options) != 0)
        {
            return -1;
        }
        return ::open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }

    static int _Mount(size_t inBytes)
    {
        int sockets[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        {
            return -1;
        }
        pid_t child = ::fork();
        if (child == 0)
        {
            int fd = _MountInChild(inBytes);
            char byte = fd >= 0 ? 1 : 0;
            iovec part = {&byte, 1};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr message = {};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            if (fd >= 0)
            {
                message.msg_control = control;
                message.msg_controllen = sizeof control;
                cmsghdr* header = CMSG_FIRSTHDR(&message);
                header->cmsg_level = SOL_SOCKET;
                header->cmsg_type = SCM_RIGHTS;
                header->cmsg_len = CMSG_LEN(sizeof(int));
                std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
            }
            ::sendmsg(sockets[1], &message, 0);
            ::_exit(0);
        }
        ::close(sockets[1]);
        int received = -1;
        if (child > 0)
        {
            char byte = 0;
            iovec part = {&byte, 1};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr message = {};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (::recvmsg(sockets[0], &message, MSG_CMSG_CLOEXEC) == 1 && byte == 1)
            {
                cmsghdr* header = CMSG_FIRSTHDR(&message);
                if (header != nullptr && header->cmsg_type == SCM_RIGHTS)
                {
                    std::memcpy(&received, CMSG_DATA(header), sizeof received);
                }
            }
            int status = 0;
            ::waitpid(child, &status, 0);
        }
        ::close(sockets[0]);
        return received;
    }

    int fFd = -1;
};

} // namespace zorn::test
