// VSystem: static services of the operating system that the runtime needs: monotonic clocks in
// ticks (1/60 s) and milliseconds, the processor count, virtual memory, the current date and
// time in UTC and in the default time zone with conversions between them, the offset of that
// zone from GMT, and symbol demangling. Random bytes come from XLinuxSystem::Random.
//
// Tick and millisecond counts are used as 32-bit numbers that wrap around (ticks after 2.2 years,
// milliseconds after 49.7 days); compare and subtract them only with Delta32, never with < or -
// on their numeric values.
//
// Dates are seven 16-bit fields: year, month (1-12), day, hour, minute, second, millisecond. The
// default time zone is ICU's (TZ, else /etc/localtime); SystemDateTimeChanged reads it again.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

#include <cstddef>

namespace zorn
{

class VString;

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

    // Logical processors of the machine (at least 1), read once.
    static int32_t GetNumberOfLogicalProcessors();

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
};

} // namespace zorn
