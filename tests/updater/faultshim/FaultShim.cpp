// An LD_PRELOAD library that injects a fault into a whole process at one chosen system call: the
// N-th call of a named function either kills the process with SIGKILL or fails with an errno,
// just before the real call or just after it. Process-level tests use it to cut a run at every
// step that touches the disk and then check what is left.
//
// Configuration (read once at load, then removed from the environment so that the programs the
// process starts run unharmed):
//   FAULTSHIM_FUNCTION  mkdirat, openat, copy_file_range, renameat2, unlinkat or remove (openat64 counts
//                       as openat); unset: the shim only counts.
//   FAULTSHIM_CALL      N, 1-based (default 1).
//   FAULTSHIM_WHEN      "before" (default: the call does not happen) or "after" (it happened).
//   FAULTSHIM_ACTION    "kill" (default) or an errno number or name (ENOSPC, EIO, EACCES, EROFS,
//                       EPERM, ENOENT, EXDEV, EINTR): the call returns -1 with that errno.
//   FAULTSHIM_COUNT_FILE when set, the number of calls of each watched function is written there
//                       at exit, one "<name> <count>" per line (to find how many N a run has).
//
// Choices and limits:
// - Only glibc's wrappers are interposed; a raw syscall(2) is not seen (the file layer calls the
//   wrappers). Under AddressSanitizer the shim precedes the runtime: run with
//   ASAN_OPTIONS=verify_asan_link_order=0. The shim itself is built without sanitizers so that
//   it loads into any program.
// - Counting is per process and thread-safe; the fault fires once.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

enum Watched
{
    kMkdirat,
    kOpenat,
    kCopyFileRange,
    kRenameat2,
    kUnlinkat,
    kRemove,
    kWatchedCount
};

constexpr const char* kNames[kWatchedCount] = {"mkdirat",   "openat",   "copy_file_range",
                                               "renameat2", "unlinkat", "remove"};

struct Settings
{
    int fFunction = -1; // a Watched, or -1
    long fCall = 1;
    bool fAfter = false;
    int fErrno = 0; // 0: kill
    char fCountFile[512] = {};
};

Settings gSettings;
std::atomic<long> gCounts[kWatchedCount];

int ErrnoFromText(const char* inText)
{
    static const struct
    {
        const char* fName;
        int fValue;
    } kErrnos[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EACCES", EACCES}, {"EROFS", EROFS},
                   {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EXDEV", EXDEV},   {"EINTR", EINTR}};
    for (const auto& known : kErrnos)
    {
        if (std::strcmp(known.fName, inText) == 0)
        {
            return known.fValue;
        }
    }
    return static_cast<int>(std::strtol(inText, nullptr, 10));
}

__attribute__((constructor)) void LoadSettings()
{
    if (const char* function = std::getenv("FAULTSHIM_FUNCTION"))
    {
        for (int i = 0; i < kWatchedCount; ++i)
        {
            if (std::strcmp(function, kNames[i]) == 0)
            {
                gSettings.fFunction = i;
            }
        }
    }
    if (const char* call = std::getenv("FAULTSHIM_CALL"))
    {
        gSettings.fCall = std::strtol(call, nullptr, 10);
    }
    if (const char* when = std::getenv("FAULTSHIM_WHEN"))
    {
        gSettings.fAfter = std::strcmp(when, "after") == 0;
    }
    if (const char* action = std::getenv("FAULTSHIM_ACTION");
        action != nullptr && std::strcmp(action, "kill") != 0)
    {
        gSettings.fErrno = ErrnoFromText(action);
    }
    if (const char* countFile = std::getenv("FAULTSHIM_COUNT_FILE"))
    {
        std::snprintf(gSettings.fCountFile, sizeof(gSettings.fCountFile), "%s", countFile);
    }
    for (const char* name : {"FAULTSHIM_FUNCTION", "FAULTSHIM_CALL", "FAULTSHIM_WHEN", "FAULTSHIM_ACTION",
                             "FAULTSHIM_COUNT_FILE"})
    {
        unsetenv(name);
    }
}

__attribute__((destructor)) void WriteCounts()
{
    if (gSettings.fCountFile[0] == '\0')
    {
        return;
    }
    if (FILE* file = std::fopen(gSettings.fCountFile, "w"))
    {
        for (int i = 0; i < kWatchedCount; ++i)
        {
            std::fprintf(file, "%s %ld\n", kNames[i], gCounts[i].load());
        }
        std::fclose(file);
    }
}

// Counts the call; true when this is the call at which the fault fires.
bool IsFaultCall(Watched inFunction)
{
    const long number = gCounts[inFunction].fetch_add(1) + 1;
    return gSettings.fFunction == inFunction && number == gSettings.fCall;
}

// Fires the fault: never returns for a kill; -1 with the errno otherwise.
long Fire()
{
    if (gSettings.fErrno == 0)
    {
        raise(SIGKILL);
    }
    errno = gSettings.fErrno;
    return -1;
}

// The real function, found once.
template <typename Function>
Function Real(const char* inName)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, inName));
}

// Runs the real call with the fault before or after it when this is the chosen call.
template <typename Call>
auto Watch(Watched inFunction, Call inCall) -> decltype(inCall())
{
    const bool fault = IsFaultCall(inFunction);
    if (fault && !gSettings.fAfter)
    {
        return static_cast<decltype(inCall())>(Fire());
    }
    auto result = inCall();
    if (fault)
    {
        return static_cast<decltype(inCall())>(Fire());
    }
    return result;
}

mode_t ModeOf(int inFlags, va_list inArgs)
{
    return (inFlags & O_CREAT) != 0 || (inFlags & O_TMPFILE) == O_TMPFILE ? va_arg(inArgs, mode_t) : 0;
}

} // namespace

extern "C"
{

    int mkdirat(int inFolder, const char* inPath, mode_t inMode)
    {
        static auto real = Real<int (*)(int, const char*, mode_t)>("mkdirat");
        return Watch(kMkdirat, [&] { return real(inFolder, inPath, inMode); });
    }

    int openat(int inFolder, const char* inPath, int inFlags, ...)
    {
        static auto real = Real<int (*)(int, const char*, int, ...)>("openat");
        va_list args;
        va_start(args, inFlags);
        const mode_t mode = ModeOf(inFlags, args);
        va_end(args);
        return Watch(kOpenat, [&] { return real(inFolder, inPath, inFlags, mode); });
    }

    int openat64(int inFolder, const char* inPath, int inFlags, ...)
    {
        static auto real = Real<int (*)(int, const char*, int, ...)>("openat64");
        va_list args;
        va_start(args, inFlags);
        const mode_t mode = ModeOf(inFlags, args);
        va_end(args);
        return Watch(kOpenat, [&] { return real(inFolder, inPath, inFlags, mode); });
    }

    ssize_t copy_file_range(int inIn, off64_t* ioInOffset, int inOut, off64_t* ioOutOffset, size_t inLength,
                            unsigned int inFlags)
    {
        static auto real =
            Real<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned int)>("copy_file_range");
        return Watch(kCopyFileRange,
                     [&] { return real(inIn, ioInOffset, inOut, ioOutOffset, inLength, inFlags); });
    }

    int renameat2(int inFromFolder, const char* inFrom, int inToFolder, const char* inTo,
                  unsigned int inFlags)
    {
        static auto real = Real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
        return Watch(kRenameat2, [&] { return real(inFromFolder, inFrom, inToFolder, inTo, inFlags); });
    }

    int unlinkat(int inFolder, const char* inPath, int inFlags)
    {
        static auto real = Real<int (*)(int, const char*, int)>("unlinkat");
        return Watch(kUnlinkat, [&] { return real(inFolder, inPath, inFlags); });
    }

    // The C library's own remove() makes its system calls without the wrappers above.
    int remove(const char* inPath)
    {
        static auto real = Real<int (*)(const char*)>("remove");
        return Watch(kRemove, [&] { return real(inPath); });
    }

} // extern "C"
