// A stand-in application for the opener's tests. In the folder named by $ZQ_PROBE_DIR it writes
// "report" (its pid and session id, then each open descriptor and what it points to) and "argv"
// (its arguments after argv[0], each followed by a NUL), then "ready". It then keeps running until
// the test creates "release" (at most 20 s), and writes "done" before it ends.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace
{

std::string DescribeDescriptors()
{
    std::string text;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr)
    {
        return "unreadable\n";
    }
    while (const dirent* entry = ::readdir(folder))
    {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || std::atoi(name.c_str()) == ::dirfd(folder))
        {
            continue;
        }
        char target[4096] = {};
        const ssize_t length = ::readlink(("/proc/self/fd/" + name).c_str(), target, sizeof(target) - 1);
        text += "fd " + name + " " + std::string(target, length > 0 ? static_cast<size_t>(length) : 0) + "\n";
    }
    ::closedir(folder);
    return text;
}

bool Exists(const std::string& inPath)
{
    return ::access(inPath.c_str(), F_OK) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* folder = std::getenv("ZQ_PROBE_DIR");
    if (folder == nullptr)
    {
        return 2;
    }
    const std::string base = folder;
    const std::string descriptors = DescribeDescriptors();
    std::ofstream(base + "/report") << "pid " << ::getpid() << "\nsid " << ::getsid(0) << "\n" << descriptors;
    {
        std::ofstream arguments(base + "/argv", std::ios::binary);
        for (int index = 1; index < argc; ++index)
        {
            arguments << argv[index] << '\0';
        }
    }
    std::ofstream(base + "/ready.tmp") << "ready";
    std::rename((base + "/ready.tmp").c_str(), (base + "/ready").c_str());
    for (int wait = 0; wait < 2000 && !Exists(base + "/release"); ++wait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ofstream(base + "/done") << "done";
    return 0;
}
