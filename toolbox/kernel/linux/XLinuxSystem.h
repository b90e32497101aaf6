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
#include <string_view>
#include <vector>

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

    // ---- Clocks ----
    // Seconds since boot, suspended time included (CLOCK_BOOTTIME); -1 when the clock fails.
    static double GetUptime();
    // Nanoseconds of CLOCK_MONOTONIC.
    static uint64_t GetMonotonicNanoseconds();
    // Sleeps inMilliseconds (0 or more), resuming with the time left after each interruption.
    static void Sleep(int32_t inMilliseconds);

    // ---- OS and machine ----
    // uname: the system's name ("Linux"), its release ("6.1.0-13-amd64") and version (the build
    // text "#1 SMP PREEMPT_DYNAMIC Debian ..."). False (outputs untouched) when uname fails.
    static bool GetKernelName(std::string& outName, std::string& outRelease, std::string& outVersion);
    // PRETTY_NAME of /etc/os-release (else /usr/lib/os-release); empty when neither says.
    static std::string GetOSPrettyName();
    // The product name of the machine's DMI data; false when it cannot be read or is empty.
    static bool GetProductName(std::string& outName);
    // /proc/cpuinfo, empty when it cannot be read.
    static std::string ReadCPUInfo();

    // Readers of system text files, kept apart from the reading so that tests and fuzzers can
    // feed them any text. None of them fails: malformed input gives the empty answer.
    // The value of inKey in an os-release text: KEY=value lines, the value unquoted ('...' as it
    // stands, "..." with \ escapes); empty when the key is absent.
    static std::string ParseOSReleaseValue(std::string_view inText, std::string_view inKey);
    // The first "model name" of a /proc/cpuinfo text, empty when there is none.
    static std::string ParseCPUModelName(std::string_view inText);
    // The distinct ("physical id", "core id") pairs of a /proc/cpuinfo text: the physical cores
    // online. 0 when the text does not say.
    static int32_t CountPhysicalCores(std::string_view inText);
    // The state letter of a /proc/<pid>/stat line, read after the line's last ')' since the
    // command name in parentheses may itself hold ')' and blanks; 0 when the line has none.
    static char ParseProcessState(std::string_view inStatLine);

    // ---- Processes ----
    // Appends the id of every process (the numeric entries of /proc), keeping what is there.
    static void AppendProcessIDs(std::vector<int32_t>& ioPIDs);
    // /proc/<pid>/comm without its newline; false when it cannot be read.
    static bool GetProcessName(int32_t inPID, std::string& outName);
    // The target of /proc/<pid>/exe; false when it cannot be read.
    static bool GetProcessPath(int32_t inPID, std::string& outPath);
    // Sends SIGKILL; whether it was sent.
    static bool KillProcess(int32_t inPID);
    // waitid for the child inPID: blocks while inTimeout is negative, else polls once. True when
    // it ended (it is reaped); else false and outReason (may be null) 1 when it is no child of this
    // process, 2 when it has not ended; other failures leave outReason alone.
    static bool WaitForProcess(int32_t inPID, int32_t inTimeout, int32_t* outReason);
    // Whether the process has ended and waits to be reaped (state 'Z' in /proc/<pid>/stat).
    static bool IsProcessZombie(int32_t inPID);

    // ---- Users and host ----
    static bool GetHostName(std::string& outName);
    // The real user's full name (the first GECOS field), else the login name; false when the
    // user has no password entry.
    static bool GetLoginUserFullName(std::string& outName);
    // The login name of the effective user; false when it has no password entry.
    static bool GetEffectiveUserName(std::string& outName);
    // The terminal bell on the controlling terminal, when there is one.
    static void Beep();
};

} // namespace zorn
