// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxSystem: the kernel's Linux back end for system services. Portable kernel units (VSystem,
// the memory manager, errors) call these narrow functions rather than the system, so that every
// system call, glibc extension and compiler-ABI call of the kernel sits in this folder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace zorn
{

class XLinuxSystem
{
public:
    XLinuxSystem() = delete;

    // Fills inCount bytes from the kernel's cryptographic random source (getrandom). It cannot
    // fail: where the kernel gives no random bytes at all the process is aborted, since random
    // identifiers made from anything weaker would collide.
    static void Random(void* outBuffer, size_t inCount);

    // Processors the system is configured with (not only those online now); at least 1.
    static int32_t GetConfiguredProcessorCount();
    // The virtual-memory page size; 4096 if the system does not say.
    static size_t GetPageSize();

    // Maps inSize bytes (a multiple of the page size) of private anonymous read-write memory.
    // With an address, exactly there or nowhere: an existing mapping is never replaced. Null on
    // failure.
    static void* MapMemory(size_t inSize, const void* inAddress);
    // Unmaps a block that MapMemory returned; whether the system agreed.
    static bool UnmapMemory(void* inAddress, size_t inSize);

    // The usable size of a block from the C library's malloc (at least the size asked for).
    static size_t GetMallocBlockSize(const void* inBlock);

    // The C++ ABI's demangled form of a symbol; false (outName untouched) when it is no mangled
    // name.
    static bool Demangle(const char* inSymbol, std::string& outName);

    // The C library's text for an errno value ("Unknown error N" for numbers it does not know).
    static std::string GetErrnoText(int inErrno);

    // Whether a debugger (any tracer) is attached to the process: the TracerPid of
    // /proc/self/status, read at each call since one may attach or leave at any time.
    static bool IsDebuggerAttached();
    // Stops in the attached debugger (SIGTRAP). Without a tracer the signal would end the
    // process, so callers check IsDebuggerAttached first.
    static void BreakIntoDebugger();
    // A futex on a 32-bit word: waits while *inWord equals inExpected (returns at once when it
    // does not, and may return spuriously); wakes up to inCount waiters of the word.
    static void FutexWait(std::atomic<uint32_t>* inWord, uint32_t inExpected);
    static void FutexWake(std::atomic<uint32_t>* inWord, int inCount);

    // The local date and time of inTime in the default time zone (localtime_r).
    static void GetLocalTime(std::time_t inTime, std::tm& outLocal);
};

} // namespace zorn
