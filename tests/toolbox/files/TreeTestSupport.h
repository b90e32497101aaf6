// Shared pieces of the file tests that look at trees on disk: reading and writing bytes,
// listing a folder, a manifest of a tree (types, modes, times, contents, link texts, extended
// attributes and hard-link groups) to compare two trees item by item, a file error's parameter,
// and a child process with a tmpfs mounted in a mount namespace of its own.
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace zorn::test
{

inline std::string Read(const std::string& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void Write(const std::string& inPath, const std::string& inBytes)
{
    std::ofstream(inPath, std::ios::binary) << inBytes;
}

// The POSIX path a file or folder acts on, as its portable POSIX form gives it.
template <class Item>
std::string PosixPathOf(const Item& inItem)
{
    VString text;
    inItem.GetPlatformPath(text, FPS_POSIX);
    return XLinuxFile::AllocatePosixPathFromString(text);
}

inline bool Exists(const std::string& inPath)
{
    struct stat status = {};
    return ::lstat(inPath.c_str(), &status) == 0;
}

// Names in a folder, "." and ".." left out.
inline std::vector<std::string> List(const std::string& inFolder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(inFolder.c_str()))
    {
        while (const dirent* entry = ::readdir(dir))
        {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
            {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One line per item below inRoot: type, mode, owner (with inOwners), size, mtime, content or link
// text, user.* attributes and, for names of one inode, the first name of that inode.
inline void Describe(const std::string& inRoot, const std::string& inRelative, bool inOwners,
                     std::map<std::pair<dev_t, ino_t>, std::string>& ioInodes,
                     std::vector<std::string>& outLines)
{
    const std::string path = inRoot + inRelative;
    struct stat status = {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0) << path;
    std::ostringstream line;
    line << inRelative << " type=" << (status.st_mode & S_IFMT) << " mode=" << std::oct
         << (status.st_mode & 07777) << std::dec;
    if (inOwners)
    {
        line << " owner=" << status.st_uid << ":" << status.st_gid;
    }
    if (!S_ISDIR(status.st_mode))
    {
        line << " mtime=" << status.st_mtim.tv_sec << "." << status.st_mtim.tv_nsec;
    }
    if (S_ISREG(status.st_mode))
    {
        line << " data=" << Read(path);
        if (status.st_nlink > 1)
        {
            auto [found, inserted] =
                ioInodes.emplace(std::make_pair(status.st_dev, status.st_ino), inRelative);
            line << " inode-of=" << found->second;
        }
        char names[1024] = {};
        ssize_t size = ::listxattr(path.c_str(), names, sizeof(names));
        for (const char* name = names; size > 0 && name < names + size; name += std::strlen(name) + 1)
        {
            char value[256] = {};
            ssize_t length = ::getxattr(path.c_str(), name, value, sizeof(value));
            line << " " << name << "="
                 << std::string(value, static_cast<size_t>(std::max<ssize_t>(length, 0)));
        }
    }
    if (S_ISLNK(status.st_mode))
    {
        char target[4096] = {};
        line << " link="
             << std::string(target, static_cast<size_t>(::readlink(path.c_str(), target, sizeof(target))));
    }
    outLines.push_back(line.str());
    if (S_ISDIR(status.st_mode))
    {
        line << " mtime=" << status.st_mtim.tv_sec;
        outLines.back() = line.str();
        for (const std::string& name : List(path))
        {
            Describe(inRoot, inRelative + "/" + name, inOwners, ioInodes, outLines);
        }
    }
}

inline std::vector<std::string> Describe(const std::string& inRoot, bool inOwners)
{
    std::map<std::pair<dev_t, ino_t>, std::string> inodes;
    std::vector<std::string> lines;
    Describe(inRoot, "", inOwners, inodes, lines);
    return lines;
}

inline void SetMtime(const std::string& inPath, time_t inSeconds)
{
    const struct timespec times[2] = {{inSeconds, 0}, {inSeconds, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, inPath.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << inPath;
}

// A parameter of an error as the bytes of the name it holds.
inline std::string Parameter(const VErrorBase* inError, const char* inName)
{
    VString text;
    inError->GetParameters()->GetProperty(VString(inName)).GetString(text);
    std::string bytes;
    XLinuxFile::EncodeNameBytes(text, bytes);
    return bytes;
}

// Runs inBody in a child that has a mount namespace of its own (a user namespace too when not
// root) with a tmpfs of inSize mounted at inMountPoint; the child's exit status is inBody's
// result (0 for success). 77 means the kernel refused the namespace or the mount.
inline int RunWithTmpfsMounted(const std::string& inMountPoint, const char* inSize,
                               const std::function<int()>& inBody)
{
    pid_t child = ::fork();
    if (child == 0)
    {
        const int flags = ::geteuid() == 0 ? CLONE_NEWNS : CLONE_NEWNS | CLONE_NEWUSER;
        const std::string options = std::string("size=") + inSize;
        if (::unshare(flags) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", inMountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0)
        {
            ::_exit(77);
        }
        const int result = inBody();
        ::umount(inMountPoint.c_str());
        ::_exit(result);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace zorn::test
