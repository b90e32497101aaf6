#include "toolbox/kernel/system/VSystem.h"

#include "platform/ChildProcess.h"
#include "platform/Dialogs.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <unicode/basictz.h>
#include <unicode/timezone.h>
#include <unicode/tztrans.h>

namespace zorn
{

namespace
{

constexpr int64_t kMillisPerDay = 86400000;

int64_t FloorDiv(int64_t inA, int64_t inB)
{
    int64_t q = inA / inB;
    return (inA % inB != 0 && (inA < 0) != (inB < 0)) ? q - 1 : q;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1-12).
int64_t DaysFromCivil(int64_t inYear, int64_t inMonth, int64_t inDay)
{
    inYear -= inMonth <= 2 ? 1 : 0;
    int64_t era = FloorDiv(inYear, 400);
    int64_t yearOfEra = inYear - era * 400;
    int64_t dayOfYear = (153 * (inMonth + (inMonth > 2 ? -3 : 9)) + 2) / 5 + inDay - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t inDays, int64_t& outYear, int64_t& outMonth, int64_t& outDay)
{
    inDays += 719468;
    int64_t era = FloorDiv(inDays, 146097);
    int64_t dayOfEra = inDays - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    outDay = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    outMonth = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    outYear = yearOfEra + era * 400 + (outMonth <= 2 ? 1 : 0);
}

// The fields read as a time on the UTC scale, whole seconds, in milliseconds since 1970; fields
// out of range carry into the next larger one.
int64_t PartsToMillis(const int16_t inParts[7])
{
    int64_t monthIndex = static_cast<int64_t>(inParts[1]) - 1;
    int64_t year = inParts[0] + FloorDiv(monthIndex, 12);
    int64_t month = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
    int64_t days = DaysFromCivil(year, month, 1) + inParts[2] - 1;
    int64_t seconds = days * 86400 + static_cast<int64_t>(inParts[3]) * 3600 +
                      static_cast<int64_t>(inParts[4]) * 60 + inParts[5];
    return seconds * 1000;
}

// Writes year to second of a time in milliseconds; the millisecond field only when asked.
void MillisToParts(int64_t inMillis, int16_t outParts[7], bool inWithMillis)
{
    int64_t days = FloorDiv(inMillis, kMillisPerDay);
    int64_t inDay = inMillis - days * kMillisPerDay;
    int64_t year;
    int64_t month;
    int64_t day;
    CivilFromDays(days, year, month, day);
    outParts[0] = static_cast<int16_t>(year);
    outParts[1] = static_cast<int16_t>(month);
    outParts[2] = static_cast<int16_t>(day);
    outParts[3] = static_cast<int16_t>(inDay / 3600000);
    outParts[4] = static_cast<int16_t>(inDay / 60000 % 60);
    outParts[5] = static_cast<int16_t>(inDay / 1000 % 60);
    if (inWithMillis)
    {
        outParts[6] = static_cast<int16_t>(inDay % 1000);
    }
}

bool IsEmptyDate(const int16_t inParts[7])
{
    return inParts[0] == 0 && (inParts[1] == 0 || inParts[3] == 0);
}

int64_t NowUTCMillis()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Time since an arbitrary fixed point that no change of the system clock moves (CLOCK_MONOTONIC).
std::chrono::steady_clock::duration MonotonicNow()
{
    return std::chrono::steady_clock::now().time_since_epoch();
}

std::unique_ptr<icu::TimeZone> DefaultZone()
{
    return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
}

// The default zone's total offset in milliseconds at a UTC time, or at a local wall time.
int32_t ZoneOffsetMillis(const icu::TimeZone& inZone, int64_t inMillis, bool inLocal, int32_t* outDaylight)
{
    int32_t raw = 0;
    int32_t daylight = 0;
    UErrorCode status = U_ZERO_ERROR;
    inZone.getOffset(static_cast<UDate>(inMillis), inLocal, raw, daylight, status);
    if (U_FAILURE(status))
    {
        raw = 0;
        daylight = 0;
    }
    if (outDaylight != nullptr)
    {
        *outDaylight = daylight;
    }
    return raw + daylight;
}

// The GMT offsets and the moment until which they hold.
struct GMTOffsetCache
{
    std::mutex fMutex;
    bool fValid = false;
    int32_t fWithDaylight = 0;
    int32_t fWithoutDaylight = 0;
    double fValidUntil = 0;

    // Called with the mutex held.
    void Update()
    {
        std::unique_ptr<icu::TimeZone> zone = DefaultZone();
        int64_t now = NowUTCMillis();
        int32_t daylight = 0;
        int32_t total = zone ? ZoneOffsetMillis(*zone, now, false, &daylight) : 0;
        fWithDaylight = total / 1000;
        // The zone's own saving, not a fixed hour: some zones shift by 30 minutes.
        fWithoutDaylight = (total - daylight) / 1000;
        fValidUntil = std::numeric_limits<double>::infinity();
        icu::TimeZoneTransition transition;
        auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone.get());
        if (basic != nullptr && basic->getNextTransition(static_cast<UDate>(now), false, transition))
        {
            fValidUntil = transition.getTime();
        }
        fValid = true;
    }
};

GMTOffsetCache& TheGMTOffsetCache()
{
    static GMTOffsetCache sCache;
    return sCache;
}

} // namespace

uint32_t VSystem::GetCurrentTime()
{
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(MonotonicNow()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(millis));
}

uint32_t VSystem::GetCurrentTicks()
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 60>>;
    auto ticks = std::chrono::duration_cast<Ticks>(MonotonicNow()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ticks));
}

uint32_t VSystem::GetCurrentDeltaTicks(uint32_t inTicks)
{
    int32_t delta = Delta32(GetCurrentTicks(), inTicks);
    // The absolute value as unsigned, so that INT32_MIN does not overflow.
    return delta < 0 ? 0u - static_cast<uint32_t>(delta) : static_cast<uint32_t>(delta);
}

size_t VSystem::GetVMPageSize()
{
    static std::atomic<size_t> sPageSize{0};
    size_t size = sPageSize.load(std::memory_order_relaxed);
    if (size == 0)
    {
        size = XLinuxSystem::GetPageSize();
        sPageSize.store(size, std::memory_order_relaxed);
    }
    return size;
}

size_t VSystem::RoundUpVMPageSize(size_t inSize)
{
    size_t page = GetVMPageSize();
    if (inSize > std::numeric_limits<size_t>::max() - (page - 1))
    {
        return 0;
    }
    return (inSize + page - 1) / page * page;
}

void* VSystem::VirtualAlloc(size_t inSize, const void* inAddress)
{
    size_t size = RoundUpVMPageSize(inSize);
    if (size == 0)
    {
        return nullptr;
    }
    return XLinuxSystem::MapMemory(size, inAddress);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t inSize, const void* inAddress, bool* outFirstTry)
{
    void* block = VirtualAlloc(inSize, inAddress);
    if (outFirstTry != nullptr)
    {
        *outFirstTry = block != nullptr;
    }
    if (block == nullptr)
    {
        block = VirtualAlloc(inSize, nullptr);
    }
    return block;
}

bool VSystem::VirtualFree(void* inAddress, size_t inSize, bool /*inPhysical*/)
{
    size_t size = RoundUpVMPageSize(inSize);
    return inAddress != nullptr && size != 0 && XLinuxSystem::UnmapMemory(inAddress, size);
}

int64_t VSystem::GetRealTimeNanoseconds()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

void VSystem::GetSystemUTCTime(int16_t outParts[7])
{
    MillisToParts(NowUTCMillis(), outParts, true);
}

void VSystem::GetSystemLocalTime(int16_t outParts[7])
{
    int64_t now = NowUTCMillis();
    std::unique_ptr<icu::TimeZone> zone = DefaultZone();
    int64_t offset = zone ? ZoneOffsetMillis(*zone, now, false, nullptr) : 0;
    MillisToParts(now + offset, outParts, true);
}

void VSystem::UTCToLocalTime(int16_t ioParts[7])
{
    if (IsEmptyDate(ioParts))
    {
        return;
    }
    int64_t utc = PartsToMillis(ioParts);
    std::unique_ptr<icu::TimeZone> zone = DefaultZone();
    int64_t offset = zone ? ZoneOffsetMillis(*zone, utc, false, nullptr) : 0;
    MillisToParts(utc + offset, ioParts, false);
}

void VSystem::LocalToUTCTime(int16_t ioParts[7])
{
    if (IsEmptyDate(ioParts))
    {
        return;
    }
    int64_t local = PartsToMillis(ioParts);
    std::unique_ptr<icu::TimeZone> zone = DefaultZone();
    int64_t offset = zone ? ZoneOffsetMillis(*zone, local, true, nullptr) : 0;
    MillisToParts(local - offset, ioParts, false);
}

int32_t VSystem::GetGMTOffset(bool inWithDaylight)
{
    GMTOffsetCache& cache = TheGMTOffsetCache();
    std::lock_guard lock(cache.fMutex);
    if (!cache.fValid || static_cast<double>(NowUTCMillis()) >= cache.fValidUntil)
    {
        cache.Update();
    }
    return inWithDaylight ? cache.fWithDaylight : cache.fWithoutDaylight;
}

namespace
{
std::atomic<uint32_t> sTimeZoneGeneration{0};
} // namespace

uint32_t VSystem::GetTimeZoneGeneration()
{
    return sTimeZoneGeneration.load(std::memory_order_acquire);
}

void VSystem::SystemDateTimeChanged()
{
    icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
    sTimeZoneGeneration.fetch_add(1, std::memory_order_acq_rel);
    GMTOffsetCache& cache = TheGMTOffsetCache();
    std::lock_guard lock(cache.fMutex);
    cache.Update();
}

void VSystem::DemangleSymbol(const char* inSymbol, VString& outDemangled)
{
    if (inSymbol == nullptr)
    {
        outDemangled.Clear();
        return;
    }
    std::string demangled;
    outDemangled.FromCString(XLinuxSystem::Demangle(inSymbol, demangled) ? demangled.c_str() : inSymbol);
}

// ---- Clocks ----

double VSystem::GetUptime()
{
    return XLinuxSystem::GetUptime();
}

void VSystem::Delay(int32_t inMilliseconds)
{
    XLinuxSystem::Sleep(inMilliseconds);
}

uint64_t VSystem::GetProfilingCounter(uint64_t* outCounter)
{
    uint64_t counter = XLinuxSystem::GetMonotonicNanoseconds();
    if (outCounter != nullptr)
    {
        *outCounter = counter;
    }
    return counter;
}

uint64_t VSystem::GetMicrosecFromProfilingCounter()
{
    return XLinuxSystem::GetMonotonicNanoseconds() / 1000;
}

namespace
{
std::atomic<int16_t> sCenturyPivotYear{0};
} // namespace

void VSystem::SetCenturyPivotYear(int16_t inYear)
{
    sCenturyPivotYear.store(inYear, std::memory_order_relaxed);
}

int16_t VSystem::GetCenturyPivotYear()
{
    return sCenturyPivotYear.load(std::memory_order_relaxed);
}

// ---- OS and machine ----

namespace
{

// A text computed once. Readers may race with the first computation: each then computes the same
// text, and one of them is kept.
class CachedText
{
public:
    template <typename Compute>
    std::string Get(Compute inCompute)
    {
        std::lock_guard lock(fMutex);
        if (!fReady)
        {
            fText = inCompute();
            fReady = true;
        }
        return fText;
    }

private:
    std::mutex fMutex;
    bool fReady = false;
    std::string fText;
};

void FromUTF8(const std::string& inText, VString& outText)
{
    outText.FromBlock(inText.data(), inText.size(), CharSet::VTC_UTF_8);
}

std::string OSVersionText()
{
    static CachedText sText;
    return sText.Get(
        []
        {
            std::string pretty = XLinuxSystem::GetOSPrettyName();
            if (!pretty.empty())
            {
                return pretty;
            }
            std::string name;
            std::string release;
            std::string version;
            return XLinuxSystem::GetKernelName(name, release, version) ? name + " " + release : std::string();
        });
}

// The rule of the processor counts: 1 when the system does not say or says less than 2.
int32_t AtLeastOne(int32_t inCount)
{
    return inCount < 2 ? 1 : inCount;
}

// Trims blanks at both ends and makes each run of blanks one space; texts shorter than 2
// characters stay as they are.
std::string CompactText(const std::string& inText)
{
    if (inText.size() < 2)
    {
        return inText;
    }
    std::string compact;
    bool blank = false;
    for (char c : inText)
    {
        if (c == ' ' || c == '\t')
        {
            blank = !compact.empty();
            continue;
        }
        if (blank)
        {
            compact += ' ';
            blank = false;
        }
        compact += c;
    }
    return compact;
}

} // namespace

bool VSystem::Init()
{
    uint32_t value;
    XLinuxSystem::Random(&value, sizeof(value));
    return true;
}

bool VSystem::IsSystemVersionOrAbove(int32_t /*inVersion*/)
{
    // The versions name macOS releases; no Linux system stands below one of them.
    return true;
}

void VSystem::GetOSVersionString(VString& outVersion)
{
    FromUTF8(OSVersionText(), outVersion);
}

int32_t VSystem::MAC_GetSystemVersionDecimal()
{
    std::string name;
    std::string release;
    std::string version;
    if (!XLinuxSystem::GetKernelName(name, release, version))
    {
        return 0;
    }
    int32_t parts[3] = {0, 0, 0};
    const char* cursor = release.c_str();
    for (int32_t& part : parts)
    {
        char* end = nullptr;
        long number = std::strtol(cursor, &end, 10);
        if (end == cursor || number < 0 || number > 99)
        {
            break;
        }
        part = static_cast<int32_t>(number);
        if (*end != '.')
        {
            break;
        }
        cursor = end + 1;
    }
    return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

void VSystem::GetFullOSName(VString& outName)
{
    std::string text = OSVersionText();
    std::string name;
    std::string release;
    std::string version;
    if (XLinuxSystem::GetKernelName(name, release, version))
    {
        text += " " + release + " (" + version + ")";
    }
    FromUTF8(text, outName);
}

void VSystem::GetSystemBuildNumber(VString& outBuild)
{
    std::string name;
    std::string release;
    std::string version;
    if (XLinuxSystem::GetKernelName(name, release, version))
    {
        FromUTF8(version, outBuild);
    }
}

void VSystem::GetComputerManufacturer(VString& outName)
{
    std::string product;
    if (XLinuxSystem::GetProductName(product))
    {
        FromUTF8(product, outName);
    }
}

void VSystem::GetProcessorTypeString(VString& outText, bool inCompact)
{
    static CachedText sText;
    std::string text = sText.Get(
        [inCompact]
        {
            std::string model = XLinuxSystem::ParseCPUModelName(XLinuxSystem::ReadCPUInfo());
            if (model.empty())
            {
                return std::string("-");
            }
            return inCompact ? CompactText(model) : model;
        });
    FromUTF8(text, outText);
}

int32_t VSystem::GetNumberOfLogicalProcessors()
{
    static std::atomic<int32_t> sCount{0};
    int32_t count = sCount.load(std::memory_order_relaxed);
    if (count == 0)
    {
        count = AtLeastOne(XLinuxSystem::GetConfiguredProcessorCount());
        sCount.store(count, std::memory_order_relaxed);
    }
    return count;
}

int32_t VSystem::GetNumberOfPhysicalProcessors()
{
    static std::atomic<int32_t> sCount{0};
    int32_t count = sCount.load(std::memory_order_relaxed);
    if (count == 0)
    {
        count = GetEnabledCoresNumber();
        sCount.store(count, std::memory_order_relaxed);
    }
    return count;
}

int32_t VSystem::GetEnabledCoresNumber()
{
    return AtLeastOne(XLinuxSystem::CountPhysicalCores(XLinuxSystem::ReadCPUInfo()));
}

// ---- Processes ----

void VSystem::GetProcessList(std::vector<int32_t>& ioPIDs)
{
    XLinuxSystem::AppendProcessIDs(ioPIDs);
}

bool VSystem::GetProcessName(int32_t inPID, VString& outName)
{
    std::string name;
    if (!XLinuxSystem::GetProcessName(inPID, name))
    {
        return false;
    }
    FromUTF8(name, outName);
    return true;
}

bool VSystem::GetProcessPath(int32_t inPID, VString& outPath)
{
    std::string path;
    if (!XLinuxSystem::GetProcessPath(inPID, path))
    {
        return false;
    }
    FromUTF8(path, outPath);
    return true;
}

bool VSystem::KillProcess(int32_t inPID)
{
    return XLinuxSystem::KillProcess(inPID);
}

bool VSystem::WaitForProcess(int32_t inPID, int32_t inTimeout, EWFP_Reason* outReason)
{
    int32_t reason = 0;
    bool ended = XLinuxSystem::WaitForProcess(inPID, inTimeout, &reason);
    if (!ended && reason != 0 && outReason != nullptr)
    {
        *outReason = static_cast<EWFP_Reason>(reason);
    }
    return ended;
}

bool VSystem::IsProcessZombie(int32_t inPID)
{
    return XLinuxSystem::IsProcessZombie(inPID);
}

// ---- Users and host ----

void VSystem::GetHostName(VString& outName)
{
    std::string name;
    if (XLinuxSystem::GetHostName(name))
    {
        FromUTF8(name, outName);
    }
}

void VSystem::GetLoginUserName(VString& outName)
{
    std::string name;
    if (XLinuxSystem::GetLoginUserFullName(name))
    {
        FromUTF8(name, outName);
    }
}

void VSystem::GetCurrentUserName(VString& outName)
{
    std::string name;
    if (XLinuxSystem::GetEffectiveUserName(name))
    {
        FromUTF8(name, outName);
    }
}

void VSystem::Beep()
{
    XLinuxSystem::Beep();
}

bool VSystem::SearchExecutablePath(const VString& inName, VFilePath& outPath)
{
    std::string found = platform::SearchExecutable(to_string(inName));
    if (!detail::SetFilePathFromPosix(found.empty() ? nullptr : found.c_str(), outPath))
    {
        return false;
    }
    return !found.empty();
}

// ---- Alerts ----

static_assert(eNotificationResponse_OK == platform::kDialogAnswerOK &&
              eNotificationResponse_Cancel == platform::kDialogAnswerCancel &&
              eNotificationResponse_Yes == platform::kDialogAnswerYes &&
              eNotificationResponse_No == platform::kDialogAnswerNo &&
              eNotificationResponse_Abort == platform::kDialogAnswerAbort &&
              eNotificationResponse_Retry == platform::kDialogAnswerRetry &&
              eNotificationResponse_Ignore == platform::kDialogAnswerIgnore &&
              eNotificationResponse_Cancelled == platform::kDialogAnswerCancelled);

bool VSystem::DisplayNotification(const VString& inTitle, const VString& inMessage, uint32_t inFlags,
                                  ENotificationResponse* outResponse)
{
    int32_t answer = eNotificationResponse_None;
    bool shown = platform::ShowDialog(to_string(inTitle), to_string(inMessage), inFlags,
                                      outResponse != nullptr ? &answer : nullptr);
    if (outResponse != nullptr)
    {
        *outResponse = static_cast<ENotificationResponse>(answer);
    }
    return shown;
}

void VSystem::CancelAllPendingUserNotifications()
{
    platform::CancelAllDialogs();
}

} // namespace zorn
