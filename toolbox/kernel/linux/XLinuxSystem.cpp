// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/futex.h>
#include <malloc.h>
#include <pwd.h>
#include <set>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace zorn
{

void XLinuxSystem::Random(void* outBuffer, size_t inCount)
{
    auto* bytes = static_cast<unsigned char*>(outBuffer);
    while (inCount > 0)
    {
        // Blocks only until the kernel's pool is first initialised, early at boot.
        ssize_t count = ::getrandom(bytes, inCount, 0);
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            std::fprintf(stderr, "zorn: getrandom failed (errno %d)\n", errno);
            std::abort();
        }
        bytes += count;
        inCount -= static_cast<size_t>(count);
    }
}

int32_t XLinuxSystem::GetConfiguredProcessorCount()
{
    long configured = ::sysconf(_SC_NPROCESSORS_CONF);
    return configured < 2 ? 1 : static_cast<int32_t>(std::min<long>(configured, INT32_MAX));
}

size_t XLinuxSystem::GetPageSize()
{
    long pageSize = ::sysconf(_SC_PAGESIZE);
    return pageSize > 0 ? static_cast<size_t>(pageSize) : 4096;
}

void* XLinuxSystem::MapMemory(size_t inSize, const void* inAddress)
{
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (inAddress != nullptr)
    {
        // Never MAP_FIXED: that would silently replace whatever is mapped there.
        flags |= MAP_FIXED_NOREPLACE;
    }
    void* block = ::mmap(const_cast<void*>(inAddress), inSize, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (block == MAP_FAILED)
    {
        return nullptr;
    }
    if (inAddress != nullptr && block != inAddress)
    {
        // A kernel that does not know MAP_FIXED_NOREPLACE takes the address as a mere hint.
        ::munmap(block, inSize);
        return nullptr;
    }
    return block;
}

bool XLinuxSystem::UnmapMemory(void* inAddress, size_t inSize)
{
    return ::munmap(inAddress, inSize) == 0;
}

size_t XLinuxSystem::GetMallocBlockSize(const void* inBlock)
{
    return ::malloc_usable_size(const_cast<void*>(inBlock));
}

bool XLinuxSystem::Demangle(const char* inSymbol, std::string& outName)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(inSymbol, nullptr, nullptr, &status);
    bool done = status == 0 && demangled != nullptr;
    if (done)
    {
        outName = demangled;
    }
    std::free(demangled);
    return done;
}

std::string XLinuxSystem::GetErrnoText(int inErrno)
{
    char buffer[1024];
    // GNU strerror_r: always returns a text, which may or may not be in the buffer.
    return ::strerror_r(inErrno, buffer, sizeof(buffer));
}

bool XLinuxSystem::IsDebuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.rfind("TracerPid:", 0) == 0)
        {
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
        }
    }
    return false;
}

void XLinuxSystem::BreakIntoDebugger()
{
    ::raise(SIGTRAP);
}

void XLinuxSystem::FutexWait(std::atomic<uint32_t>* inWord, uint32_t inExpected)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(inWord), FUTEX_WAIT_PRIVATE, inExpected, nullptr,
              nullptr, 0);
}

void XLinuxSystem::FutexWake(std::atomic<uint32_t>* inWord, int inCount)
{
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(inWord), FUTEX_WAKE_PRIVATE, inCount, nullptr, nullptr,
              0);
}

void XLinuxSystem::GetLocalTime(std::time_t inTime, std::tm& outLocal)
{
    if (::localtime_r(&inTime, &outLocal) == nullptr)
    {
        outLocal = std::tm{};
    }
}

// ---- Clocks ----

double XLinuxSystem::GetUptime()
{
    timespec now;
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
    {
        return -1;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

uint64_t XLinuxSystem::GetMonotonicNanoseconds()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void XLinuxSystem::Sleep(int32_t inMilliseconds)
{
    if (inMilliseconds <= 0)
    {
        return;
    }
    timespec wanted{inMilliseconds / 1000, static_cast<long>(inMilliseconds % 1000) * 1000000};
    timespec left;
    while (::nanosleep(&wanted, &left) != 0 && errno == EINTR)
    {
        wanted = left;
    }
}

// ---- OS and machine ----

namespace
{

// A whole small file of /proc, /sys or /etc (those report a size of 0, so read to the end).
bool ReadTextFile(const char* inPath, std::string& outText)
{
    int file = ::open(inPath, O_RDONLY | O_CLOEXEC);
    if (file < 0)
    {
        return false;
    }
    outText.clear();
    char buffer[4096];
    ssize_t count;
    constexpr size_t kMaxSize = 4 << 20;
    while ((count = ::read(file, buffer, sizeof(buffer))) != 0)
    {
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            break;
        }
        outText.append(buffer, static_cast<size_t>(count));
        if (outText.size() > kMaxSize)
        {
            break;
        }
    }
    ::close(file);
    return count == 0;
}

bool IsBlank(char inChar)
{
    return inChar == ' ' || inChar == '\t' || inChar == '\r' || inChar == '\n' || inChar == '\v' ||
           inChar == '\f';
}

std::string_view Trim(std::string_view inText)
{
    while (!inText.empty() && IsBlank(inText.front()))
    {
        inText.remove_prefix(1);
    }
    while (!inText.empty() && IsBlank(inText.back()))
    {
        inText.remove_suffix(1);
    }
    return inText;
}

// Calls inVisit(line) for each line of the text, without its newline, until it returns false.
template <typename Visit>
void ForEachLine(std::string_view inText, Visit inVisit)
{
    while (!inText.empty())
    {
        size_t end = inText.find('\n');
        if (!inVisit(inText.substr(0, end)))
        {
            return;
        }
        inText = end == std::string_view::npos ? std::string_view() : inText.substr(end + 1);
    }
}

// A "key : value" line of /proc/cpuinfo: whether its key is inKey, with the value.
bool CPUInfoField(std::string_view inLine, std::string_view inKey, std::string_view& outValue)
{
    size_t colon = inLine.find(':');
    if (colon == std::string_view::npos || Trim(inLine.substr(0, colon)) != inKey)
    {
        return false;
    }
    outValue = Trim(inLine.substr(colon + 1));
    return true;
}

bool ReadPasswordEntry(uid_t inUser, std::string& outLoginName, std::string& outGecos)
{
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry;
    passwd* found = nullptr;
    int error;
    while ((error = ::getpwuid_r(inUser, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
    {
        buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || found == nullptr)
    {
        return false;
    }
    outLoginName = entry.pw_name != nullptr ? entry.pw_name : "";
    outGecos = entry.pw_gecos != nullptr ? entry.pw_gecos : "";
    return true;
}

} // namespace

bool XLinuxSystem::GetKernelName(std::string& outName, std::string& outRelease, std::string& outVersion)
{
    utsname names;
    if (::uname(&names) != 0)
    {
        return false;
    }
    outName = names.sysname;
    outRelease = names.release;
    outVersion = names.version;
    return true;
}

std::string XLinuxSystem::GetOSPrettyName()
{
    std::string text;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"})
    {
        if (ReadTextFile(path, text))
        {
            return ParseOSReleaseValue(text, "PRETTY_NAME");
        }
    }
    return {};
}

bool XLinuxSystem::GetProductName(std::string& outName)
{
    std::string text;
    if (!ReadTextFile("/sys/class/dmi/id/product_name", text) || Trim(text).empty())
    {
        return false;
    }
    outName = Trim(text);
    return true;
}

std::string XLinuxSystem::ReadCPUInfo()
{
    std::string text;
    ReadTextFile("/proc/cpuinfo", text);
    return text;
}

std::string XLinuxSystem::ParseOSReleaseValue(std::string_view inText, std::string_view inKey)
{
    std::string value;
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    inLine = Trim(inLine);
                    if (inLine.size() <= inKey.size() || inLine.substr(0, inKey.size()) != inKey ||
                        inLine[inKey.size()] != '=')
                    {
                        return true;
                    }
                    std::string_view raw = inLine.substr(inKey.size() + 1);
                    value.clear();
                    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'')
                    {
                        value = raw.substr(1, raw.size() - 2);
                    }
                    else if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
                    {
                        raw = raw.substr(1, raw.size() - 2);
                        for (size_t i = 0; i < raw.size(); ++i)
                        {
                            if (raw[i] == '\\' && i + 1 < raw.size())
                            {
                                ++i;
                            }
                            value += raw[i];
                        }
                    }
                    else
                    {
                        value = raw;
                    }
                    return false;
                });
    return value;
}

std::string XLinuxSystem::ParseCPUModelName(std::string_view inText)
{
    std::string name;
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    std::string_view value;
                    if (CPUInfoField(inLine, "model name", value))
                    {
                        name = value;
                        return false;
                    }
                    return true;
                });
    return name;
}

int32_t XLinuxSystem::CountPhysicalCores(std::string_view inText)
{
    std::set<std::pair<std::string, std::string>> cores;
    std::string package;
    std::string core;
    auto endOfProcessor = [&]
    {
        if (!core.empty())
        {
            cores.emplace(package, core);
        }
        package.clear();
        core.clear();
    };
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    std::string_view value;
                    if (Trim(inLine).empty())
                    {
                        endOfProcessor();
                    }
                    else if (CPUInfoField(inLine, "physical id", value))
                    {
                        package = value;
                    }
                    else if (CPUInfoField(inLine, "core id", value))
                    {
                        core = value;
                    }
                    return true;
                });
    endOfProcessor();
    return static_cast<int32_t>(std::min<size_t>(cores.size(), INT32_MAX));
}

char XLinuxSystem::ParseProcessState(std::string_view inStatLine)
{
    size_t close = inStatLine.rfind(')');
    if (close == std::string_view::npos)
    {
        return 0;
    }
    std::string_view rest = inStatLine.substr(close + 1);
    // ") S ...": one blank, then the state letter, then a blank or the end.
    if (rest.size() < 2 || rest[0] != ' ' || IsBlank(rest[1]) || (rest.size() > 2 && rest[2] != ' '))
    {
        return 0;
    }
    return rest[1];
}

// ---- Processes ----

void XLinuxSystem::AppendProcessIDs(std::vector<int32_t>& ioPIDs)
{
    DIR* folder = ::opendir("/proc");
    if (folder == nullptr)
    {
        return;
    }
    while (dirent* entry = ::readdir(folder))
    {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9')
        {
            continue;
        }
        char* end = nullptr;
        long pid = std::strtol(name, &end, 10);
        if (*end == 0 && pid > 0 && pid <= INT32_MAX)
        {
            ioPIDs.push_back(static_cast<int32_t>(pid));
        }
    }
    ::closedir(folder);
}

bool XLinuxSystem::GetProcessName(int32_t inPID, std::string& outName)
{
    std::string text;
    std::string path = "/proc/" + std::to_string(inPID) + "/comm";
    if (inPID <= 0 || !ReadTextFile(path.c_str(), text))
    {
        return false;
    }
    if (!text.empty() && text.back() == '\n')
    {
        text.pop_back();
    }
    outName = std::move(text);
    return true;
}

bool XLinuxSystem::GetProcessPath(int32_t inPID, std::string& outPath)
{
    if (inPID <= 0)
    {
        return false;
    }
    std::string link = "/proc/" + std::to_string(inPID) + "/exe";
    std::string target(PATH_MAX, '\0');
    ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size())
    {
        return false;
    }
    target.resize(static_cast<size_t>(length));
    outPath = std::move(target);
    return true;
}

bool XLinuxSystem::KillProcess(int32_t inPID)
{
    // Never 0 or a negative number: those would reach a whole process group.
    return inPID > 0 && ::kill(inPID, SIGKILL) == 0;
}

bool XLinuxSystem::WaitForProcess(int32_t inPID, int32_t inTimeout, int32_t* outReason)
{
    siginfo_t info{};
    int options = WEXITED | (inTimeout < 0 ? 0 : WNOHANG);
    int result;
    do
    {
        result = ::waitid(P_PID, static_cast<id_t>(inPID), &info, options);
    } while (result != 0 && errno == EINTR);
    if (result == 0 && info.si_pid == inPID)
    {
        return true;
    }
    if (outReason != nullptr)
    {
        if (result == 0)
        {
            *outReason = 2;
        }
        else if (errno == ECHILD)
        {
            *outReason = 1;
        }
    }
    return false;
}

bool XLinuxSystem::IsProcessZombie(int32_t inPID)
{
    std::string line;
    std::string path = "/proc/" + std::to_string(inPID) + "/stat";
    return inPID > 0 && ReadTextFile(path.c_str(), line) && ParseProcessState(line) == 'Z';
}

// ---- Users and host ----

bool XLinuxSystem::GetHostName(std::string& outName)
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0)
    {
        return false;
    }
    outName = name;
    return true;
}

bool XLinuxSystem::GetLoginUserFullName(std::string& outName)
{
    std::string login;
    std::string gecos;
    if (!ReadPasswordEntry(::getuid(), login, gecos))
    {
        return false;
    }
    std::string_view fullName = Trim(std::string_view(gecos).substr(0, gecos.find(',')));
    outName = fullName.empty() ? login : std::string(fullName);
    return true;
}

bool XLinuxSystem::GetEffectiveUserName(std::string& outName)
{
    std::string gecos;
    return ReadPasswordEntry(::geteuid(), outName, gecos);
}

void XLinuxSystem::Beep()
{
    int terminal = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0)
    {
        [[maybe_unused]] ssize_t written = ::write(terminal, "\a", 1);
        ::close(terminal);
    }
}

} // namespace zorn
