// VSystem: static services of the operating system: monotonic clocks in ticks (1/60 s),
// milliseconds and nanoseconds, virtual memory, the current date and time in UTC and in the
// default time zone with conversions between them, the offset of that zone from GMT, symbol
// demangling, the OS version, processors, processes, user and host names, the executable search,
// and alerts to the user. Random bytes come from XLinuxSystem::Random.
//
// Tick and millisecond counts are used as 32-bit numbers that wrap around (ticks after 2.2 years,
// milliseconds after 49.7 days); compare and subtract them only with Delta32, never with < or -
// on their numeric values.
//
// Dates are seven 16-bit fields: year, month (1-12), day, hour, minute, second, millisecond. The
// default time zone is ICU's (TZ, else /etc/localtime); SystemDateTimeChanged reads it again.
//
// Choices and limits of the system information:
// - Nothing raises an error: a failure shows as the documented fallback (false, 1, an output
//   left unchanged).
// - OS texts come from uname and os-release's PRETTY_NAME; the build number is uname's version
//   text. The processor text is /proc/cpuinfo's "model name" ("-" when there is none).
// - Physical cores are the distinct (package, core) pairs of /proc/cpuinfo, which lists the online
//   processors: the physical and the enabled counts are the same figure, and both fall back to 1
//   when the file does not say (some virtual machines and other architectures).
// - Caches (OS version text, processor text, processor counts) are filled on first use; a race
//   only computes the same value twice.
// - Memory figures: the process's from /proc/self/statm and /proc/self/maps, the machine's total
//   from sysinfo and its free memory as /proc/meminfo's MemAvailable (what new work can take
//   without swapping, the page cache it may reclaim included), not MemFree.
// - Processor use is the busy share of all processors together since the previous call, from
//   /proc/stat: 0 to 1 for the whole machine (not divided again by the processor count). The
//   application's use is the processor time of all its threads against the wall time since the
//   previous call (since the process started, at the first call), divided by the logical
//   processor count: 0 to 1 of the whole machine as well.
// - Network throughput sums the 64-bit byte counters of /proc/net/dev of every interface but
//   loopbacks, in the process's network namespace.
// - The inventories are JSON arrays and need the JSON layer (VKernelHooks): without it they return
//   false and leave the value alone. Adapters: {"type", "name", "ipAddresses": [{"ip", "type"}]},
//   the name being the interface's; partitions: {"mountPoint", "capacity", "available" (KiB),
//   "filesystem", "name" (the file system's label, else the mount point's last name), "disk"}.
//   "disk" is {"interface", "description", "size" (KiB), "identifier"}: "network" for network file
//   systems, the members of an md or dm device as an array, the block device otherwise, and for a
//   file system without a device (tmpfs) an interface "" and its own size. XLinuxSystemInfo tells
//   where each value comes from.
// - The samples of processor and network use are process-wide, behind one lock.
// - Alerts go through the platform's dialog programs (platform/Dialogs.h): without a display or a
//   dialog program nothing is shown and a given answer place gets eNotificationResponse_Cancelled.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

#include <cstddef>
#include <vector>

namespace zorn
{

class VString;
class VFilePath;
class VJSONValue;

// The answer to an alert (VSystem::DisplayNotification).
enum ENotificationResponse : int32_t
{
    eNotificationResponse_None = 0,
    eNotificationResponse_OK = 1,
    eNotificationResponse_Cancel = 2,
    eNotificationResponse_Yes = 3,
    eNotificationResponse_No = 4,
    eNotificationResponse_Abort = 5,
    eNotificationResponse_Retry = 6,
    eNotificationResponse_Ignore = 7,
    eNotificationResponse_Cancelled = 8 // dismissed without a button, or never shown
};

class VSystem
{
public:
    VSystem() = delete;

    // Monotonic milliseconds and ticks since an arbitrary start, truncated to 32 bits.
    static uint32_t GetCurrentTime();
    static uint32_t GetCurrentTicks();

    // The signed distance from inEarlier to inLater of two wrapping 32-bit counts: exact while the
    // two lie less than 2^31 units apart, whatever wrap lies between them.
    static constexpr int32_t Delta32(uint32_t inLater, uint32_t inEarlier)
    {
        return static_cast<int32_t>(inLater - inEarlier);
    }

    // The distance, in ticks, between now and inTicks (a value of GetCurrentTicks), either way.
    static uint32_t GetCurrentDeltaTicks(uint32_t inTicks);

    static size_t GetVMPageSize();
    // inSize raised to a whole number of pages; 0 when that does not fit in size_t.
    static size_t RoundUpVMPageSize(size_t inSize);

    // Reserves and commits inSize bytes (whole pages, zero-filled, read-write) anywhere when
    // inAddress is null, else exactly at inAddress. Memory already mapped there is never replaced:
    // the request then fails. Null on failure.
    static void* VirtualAlloc(size_t inSize, const void* inAddress);
    // As VirtualAlloc; when the first attempt fails it is tried once more anywhere.
    // outFirstTry (may be null) tells whether the first attempt succeeded.
    static void* VirtualAllocPhysicalMemory(size_t inSize, const void* inAddress, bool* outFirstTry);
    // Releases a region of VirtualAlloc (inSize as given there). inPhysical is not used.
    static bool VirtualFree(void* inAddress, size_t inSize, bool inPhysical);

    // The mapping that holds inAddress: its size and start, state 0. When inAddress lies in a gap
    // below a mapping: the distance to it and inAddress, state 1 (free). Above the last mapping
    // (or when the table cannot be read) all three are 0. Each out-parameter may be null; returns
    // whether the size is not 0.
    static bool VirtualQuery(const void* inAddress, size_t* outSize, int32_t* outState, const void** outBase);
    // The process's virtual and resident sizes, the machine's memory and its available memory, in
    // bytes; 0 when the system does not tell.
    static uint64_t VirtualMemoryUsedSize();
    static uint64_t GetApplicationPhysicalMemSize();
    static uint64_t GetPhysicalMemSize();
    static uint64_t GetPhysicalFreeMemSize();

    // The real-time clock: nanoseconds since 1970-01-01 UTC (time-ordered identifiers).
    static int64_t GetRealTimeNanoseconds();

    // The current date and time in UTC, or in the default time zone.
    static void GetSystemUTCTime(int16_t outParts[7]);
    static void GetSystemLocalTime(int16_t outParts[7]);
    // Rewrite the fields in place between UTC and the default time zone, with the zone's offset at
    // that date. Seconds are whole; the millisecond field keeps its value. Fields out of range are
    // carried (month 13 is January of the next year). A value whose year is 0 is left unchanged
    // when its month or its hour is 0 (the empty date).
    static void UTCToLocalTime(int16_t ioParts[7]);
    static void LocalToUTCTime(int16_t ioParts[7]);

    // The default time zone's offset from UTC at this moment, in seconds, positive east of
    // Greenwich. inWithDaylight false leaves out the daylight-saving shift while one is in effect.
    // Computed once and kept until the zone's next transition (or SystemDateTimeChanged).
    static int32_t GetGMTOffset(bool inWithDaylight);
    // Reads the system's time zone again (after TZ or /etc/localtime changed) and recomputes the
    // offsets.
    static void SystemDateTimeChanged();
    // A count that SystemDateTimeChanged increments: holders of objects built for the default time
    // zone (date formatters) compare it to know when to build them again.
    static uint32_t GetTimeZoneGeneration();

    // The readable form of a C++ symbol name; the symbol unchanged when it is not a mangled name.
    static void DemangleSymbol(const char* inSymbol, VString& outDemangled);

    // ---- Clocks ----
    // Seconds since boot, suspended time included; -1 when the system does not tell.
    static double GetUptime();
    // Sleeps inMilliseconds (0 or more), whatever signals interrupt it.
    static void Delay(int32_t inMilliseconds);
    // A monotonic count of nanoseconds, also stored through outCounter when it is not null.
    static uint64_t GetProfilingCounter(uint64_t* outCounter = nullptr);
    // Counts of GetProfilingCounter per second.
    static constexpr uint64_t GetProfilingFrequency() { return 1000000000; }
    // The monotonic clock in microseconds.
    static uint64_t GetMicrosecFromProfilingCounter();
    static constexpr uint32_t GetDoubleClicTicks() { return 30; }
    static constexpr uint32_t GetCaretTicks() { return 60; }
    static constexpr uint32_t GetTipsTimeoutTicks() { return 600; }
    static constexpr uint32_t GetSelectDelayTicks() { return 15; }
    static constexpr int32_t GetDragOffset() { return 2; }
    // The year that splits two-digit years between centuries; 0 until set.
    static void SetCenturyPivotYear(int16_t inYear);
    static int16_t GetCenturyPivotYear();

    // ---- OS and machine ----
    // Draws a first random value (the random source works); true.
    static bool Init();
    // inVersion names a macOS release (11 = 10.9 ... 22 = 15); every value is true here.
    static bool IsSystemVersionOrAbove(int32_t inVersion);
    // PRETTY_NAME ("Debian GNU/Linux 12 (bookworm)"), else uname's name and release; cached.
    static void GetOSVersionString(VString& outVersion);
    // The kernel release as major * 10000 + minor * 100 + patch (6.1.0 is 60100); 0 unknown.
    static int32_t MAC_GetSystemVersionDecimal();
    // The version text, the kernel release and, in parentheses, the build number.
    static void GetFullOSName(VString& outName);
    // uname's version text; outBuild unchanged when uname fails.
    static void GetSystemBuildNumber(VString& outBuild);
    // The machine's DMI product name; outName unchanged when it cannot be read.
    static void GetComputerManufacturer(VString& outName);
    // The processor's "model name". inCompact trims blanks at both ends and turns each run of
    // blanks into one space. The first call's text is kept and returned by every later call,
    // whatever its flag.
    static void GetProcessorTypeString(VString& outText, bool inCompact);
    // Logical processors of the machine (at least 1), read once.
    static int32_t GetNumberOfLogicalProcessors();
    // Physical cores (at least 1): read once, and read again at each call.
    static int32_t GetNumberOfPhysicalProcessors();
    static int32_t GetEnabledCoresNumber();
    static bool IsUnderRosettaTranslation() { return false; }

    // ---- Processes ----
    // Reason of a failed WaitForProcess.
    enum EWFP_Reason : int32_t
    {
        EWFP_NotAChild = 1,
        EWFP_NotEnded = 2
    };
    // Appends the id of every process; what ioPIDs held stays in front.
    static void GetProcessList(std::vector<int32_t>& ioPIDs);
    // The process's command name (at most 15 bytes, as the system keeps it); false (outName
    // unchanged) when there is no such process.
    static bool GetProcessName(int32_t inPID, VString& outName);
    // The process's executable file; false (outPath unchanged) when it cannot be read.
    static bool GetProcessPath(int32_t inPID, VString& outPath);
    // Ends the process (SIGKILL). False for pid 0 (and any pid below 1) and when nothing was sent.
    static bool KillProcess(int32_t inPID);
    // Waits for the child inPID to end and reaps it: blocks while inTimeout is negative, else
    // polls once. False, with the reason when outReason is given, when it did not end.
    static bool WaitForProcess(int32_t inPID, int32_t inTimeout, EWFP_Reason* outReason);
    // Whether the process ended and waits for its parent to reap it.
    static bool IsProcessZombie(int32_t inPID);

    // ---- Users and host ----
    // outName unchanged when the system does not tell.
    static void GetHostName(VString& outName);
    // The full name of the user who runs the program, else the login name.
    static void GetLoginUserName(VString& outName);
    // The login name of the effective user.
    static void GetCurrentUserName(VString& outName);
    static bool AllowedToGetSystemInfo() { return true; }
    // The terminal bell, when the program has a terminal.
    static void Beep();
    // The executable of a name: a name holding '/' is resolved, any other is searched in PATH
    // (empty elements skipped); a candidate must be a regular file the effective user may run.
    // outPath is set to it, or cleared when none qualifies. Needs the file layer, which fills
    // paths: without it outPath is left alone and the result is false.
    static bool SearchExecutablePath(const VString& inName, VFilePath& outPath);

    // ---- Statistics and inventories ----
    // The machine's processor use since the previous call, 0 to 1 in outUse. The first call only
    // takes the sample: false, outUse 0. False as well when /proc/stat cannot be read.
    static bool GetProcessorsPercentageUse(double& outUse);
    // This process's processor use since the previous call, 0 to 1 of the machine; -1 on failure.
    static double GetApplicationProcessorsPercentageUse();
    // Clears outStats; then, from the second call on, bytes in and bytes out per second since the
    // previous call (true). The first call, and one where a total went down (a counter reset),
    // append nothing and return false; each call that read the counters replaces the sample.
    static bool GetInOutNetworkStats(std::vector<double>& outStats);
    // The network adapters with an address that counts, as a JSON array (above).
    static bool GetNetworkAdaptersInformations(VJSONValue& outAdapters);
    // The mounted file systems with a size, as a JSON array (above).
    static bool GetDiskPartitionsInfos(VJSONValue& outPartitions);

    // ---- Alerts ----
    // Shows an alert. inFlags & 15 is the button set (1 OK/Cancel, 2 Yes/No, 4 Yes/No/Cancel,
    // 5 Retry/Ignore/Abort, any other one button answering OK); flags 16 and 32 choose the
    // default button; flag 512 shows the warning icon. With outResponse the call waits for the
    // answer (0 first); without, it returns at once and the alert stays until answered or
    // cancelled. True when the alert was shown; otherwise outResponse gets
    // eNotificationResponse_Cancelled.
    static bool DisplayNotification(const VString& inTitle, const VString& inMessage, uint32_t inFlags,
                                    ENotificationResponse* outResponse = nullptr);
    // Closes every alert shown without an answer place that is still open.
    static void CancelAllPendingUserNotifications();
};

} // namespace zorn
