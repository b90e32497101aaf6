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
#include <fstream>
#include <linux/futex.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

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

} // namespace zorn
