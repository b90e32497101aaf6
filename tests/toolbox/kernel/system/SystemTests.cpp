#include "tests/toolbox/kernel/TimeZoneTestSupport.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>

using namespace zorn;

namespace
{

using DateParts = std::array<int16_t, 7>;

std::string Describe(const DateParts& inParts)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d.%03d", inParts[0], inParts[1], inParts[2],
                  inParts[3], inParts[4], inParts[5], inParts[6]);
    return text;
}

TEST(SystemClock, DifferencesAcrossTheWrap)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fLater;
        uint32_t fEarlier;
        int32_t fDelta;
    };
    const Row rows[] = {
        {"plain", 1000, 400, 600},
        {"backwards", 400, 1000, -600},
        {"across the wrap", 5, 0xFFFFFFF6u, 15},
        {"across the wrap, backwards", 0xFFFFFFF6u, 5, -15},
        {"from the top", 0, 0xFFFFFFFFu, 1},
        {"half the circle less one", 0x7FFFFFFFu, 0, INT32_MAX},
        {"equal", 0xDEADBEEFu, 0xDEADBEEFu, 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VSystem::Delta32(row.fLater, row.fEarlier), row.fDelta) << row.fWhat;
    }
    static_assert(VSystem::Delta32(3, 0xFFFFFFFEu) == 5, "usable in constant expressions");
}

TEST(SystemClock, TicksAndMillisecondsAreMonotonic)
{
    uint32_t ticks = VSystem::GetCurrentTicks();
    uint32_t millis = VSystem::GetCurrentTime();
    timespec pause{0, 40 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    int32_t elapsedMillis = VSystem::Delta32(VSystem::GetCurrentTime(), millis);
    EXPECT_GE(elapsedMillis, 40);
    EXPECT_LT(elapsedMillis, 10000);
    EXPECT_GE(VSystem::Delta32(VSystem::GetCurrentTicks(), ticks), 2) << "40 ms is at least 2 ticks";

    // The distance to a tick count taken 10 ticks ago, or lying 10 ticks ahead, is about 10 either
    // way, whatever the numeric values (the subtraction may wrap).
    uint32_t now = VSystem::GetCurrentTicks();
    EXPECT_GE(VSystem::GetCurrentDeltaTicks(now - 10), 10u);
    EXPECT_LT(VSystem::GetCurrentDeltaTicks(now - 10), 100u);
    EXPECT_LE(VSystem::GetCurrentDeltaTicks(now + 10), 10u);
    EXPECT_GE(VSystem::GetCurrentDeltaTicks(now + 10), 9u);
}

TEST(SystemInfo, ProcessorCountAndDemangling)
{
    // Every processor the system is configured with, whether online now or not.
    long configured = sysconf(_SC_NPROCESSORS_CONF);
    EXPECT_EQ(VSystem::GetNumberOfLogicalProcessors(), configured < 2 ? 1 : configured);
    EXPECT_GE(static_cast<unsigned>(VSystem::GetNumberOfLogicalProcessors()),
              std::thread::hardware_concurrency())
        << "never fewer than are online";

    VString text;
    VSystem::DemangleSymbol("_ZN4zorn7VSystem14GetCurrentTimeEv", text);
    EXPECT_EQ(text.CompareTo(VString("zorn::VSystem::GetCurrentTime()")), CR_EQUAL);
    VSystem::DemangleSymbol("main", text);
    EXPECT_EQ(text.CompareTo(VString("main")), CR_EQUAL) << "not a mangled name: unchanged";
    VSystem::DemangleSymbol(nullptr, text);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(SystemRandom, FillsEveryByte)
{
    std::array<unsigned char, 4096> first{};
    std::array<unsigned char, 4096> second{};
    XLinuxSystem::Random(first.data(), first.size());
    XLinuxSystem::Random(second.data(), second.size());
    EXPECT_NE(first, second);
    // A buffer left partly unfilled would keep a long run of zeros at its end.
    EXPECT_FALSE(std::all_of(first.end() - 64, first.end(), [](unsigned char c) { return c == 0; }));

    // Zero bytes asked: nothing written, and no wait for the kernel.
    std::array<unsigned char, 8> untouched{};
    XLinuxSystem::Random(untouched.data(), 0);
    EXPECT_EQ(untouched, (std::array<unsigned char, 8>{}));
}

TEST(SystemVirtualMemory, AllocatesWholeZeroedPages)
{
    size_t page = VSystem::GetVMPageSize();
    EXPECT_EQ(VSystem::RoundUpVMPageSize(1), page);
    EXPECT_EQ(VSystem::RoundUpVMPageSize(page), page);
    EXPECT_EQ(VSystem::RoundUpVMPageSize(SIZE_MAX), 0u) << "does not fit";
    EXPECT_EQ(VSystem::VirtualAlloc(0, nullptr), nullptr);
    EXPECT_EQ(VSystem::VirtualAlloc(SIZE_MAX, nullptr), nullptr);

    auto* block = static_cast<unsigned char*>(VSystem::VirtualAlloc(page + 1, nullptr));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % page, 0u);
    EXPECT_TRUE(std::all_of(block, block + 2 * page, [](unsigned char c) { return c == 0; }))
        << "two whole pages, zero-filled";
    block[2 * page - 1] = 1;
    EXPECT_TRUE(VSystem::VirtualFree(block, page + 1, false));
    EXPECT_FALSE(VSystem::VirtualFree(nullptr, page, false));
}

TEST(SystemVirtualMemory, TakenAddressIsRefusedAndLeftAlone)
{
    size_t page = VSystem::GetVMPageSize();
    auto* taken = static_cast<unsigned char*>(VSystem::VirtualAlloc(4 * page, nullptr));
    ASSERT_NE(taken, nullptr);
    std::memset(taken, 0xA5, 4 * page);

    EXPECT_EQ(VSystem::VirtualAlloc(page, taken), nullptr) << "at the start";
    EXPECT_EQ(VSystem::VirtualAlloc(page, taken + 2 * page), nullptr) << "inside";
    EXPECT_EQ(VSystem::VirtualAlloc(page, taken + 1), nullptr) << "not page-aligned";
    bool firstTry = true;
    auto* elsewhere =
        static_cast<unsigned char*>(VSystem::VirtualAllocPhysicalMemory(page, taken, &firstTry));
    ASSERT_NE(elsewhere, nullptr) << "retried anywhere";
    EXPECT_FALSE(firstTry);
    EXPECT_NE(elsewhere, taken);
    EXPECT_TRUE(std::all_of(taken, taken + 4 * page, [](unsigned char c) { return c == 0xA5; }))
        << "the existing mapping keeps its content";
    EXPECT_TRUE(VSystem::VirtualFree(elsewhere, page, true));

    // Once released, the same address can be had exactly.
    ASSERT_TRUE(VSystem::VirtualFree(taken, 4 * page, false));
    void* again = VSystem::VirtualAllocPhysicalMemory(page, taken, &firstTry);
    EXPECT_EQ(again, taken);
    EXPECT_TRUE(firstTry);
    EXPECT_TRUE(VSystem::VirtualFree(again, page, false));
}

using zorn::test::TimeZoneTest;

TEST_F(TimeZoneTest, ConvertsBetweenUTCAndLocal)
{
    UseZone("Europe/Paris");
    struct Row
    {
        const char* fWhat;
        DateParts fUTC;
        DateParts fLocal;
    };
    const Row rows[] = {
        {"winter", {2024, 1, 15, 12, 0, 0, 123}, {2024, 1, 15, 13, 0, 0, 123}},
        {"summer", {2024, 7, 15, 12, 30, 45, 999}, {2024, 7, 15, 14, 30, 45, 999}},
        {"across the year", {2024, 12, 31, 23, 30, 0, 0}, {2025, 1, 1, 0, 30, 0, 0}},
        {"leap day", {2024, 2, 28, 23, 59, 59, 5}, {2024, 2, 29, 0, 59, 59, 5}},
        {"just after the spring change", {2024, 3, 31, 1, 0, 0, 0}, {2024, 3, 31, 3, 0, 0, 0}},
        {"before 1970", {1960, 6, 1, 0, 0, 0, 0}, {1960, 6, 1, 1, 0, 0, 0}},
    };
    for (const Row& row : rows)
    {
        DateParts parts = row.fUTC;
        VSystem::UTCToLocalTime(parts.data());
        EXPECT_EQ(Describe(parts), Describe(row.fLocal)) << row.fWhat;
        parts = row.fLocal;
        VSystem::LocalToUTCTime(parts.data());
        EXPECT_EQ(Describe(parts), Describe(row.fUTC)) << row.fWhat;
    }

    DateParts carried = {2023, 13, 1, 12, 0, 0, 0};
    VSystem::UTCToLocalTime(carried.data());
    EXPECT_EQ(Describe(carried), Describe({2024, 1, 1, 13, 0, 0, 0}))
        << "month 13 carries into the next year";

    const DateParts empties[] = {{0, 0, 0, 0, 0, 0, 7}, {0, 0, 5, 10, 0, 0, 0}, {0, 3, 1, 0, 20, 0, 0}};
    for (const DateParts& empty : empties)
    {
        DateParts parts = empty;
        VSystem::LocalToUTCTime(parts.data());
        EXPECT_EQ(parts, empty) << Describe(empty) << " is the empty date";
        VSystem::UTCToLocalTime(parts.data());
        EXPECT_EQ(parts, empty) << Describe(empty) << " is the empty date";
    }
}

TEST_F(TimeZoneTest, GMTOffsetFollowsTheZone)
{
    struct Row
    {
        const char* fZone;
        int32_t fStandard;
    };
    // Lord Howe Island shifts by 30 minutes in summer: without daylight it is always +10:30.
    const Row rows[] = {
        {"Europe/Paris", 3600}, {"America/New_York", -18000}, {"Australia/Lord_Howe", 37800}, {"UTC", 0}};
    for (const Row& row : rows)
    {
        UseZone(row.fZone);
        time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        EXPECT_EQ(VSystem::GetGMTOffset(true), local.tm_gmtoff) << row.fZone;
        EXPECT_EQ(VSystem::GetGMTOffset(false), row.fStandard) << row.fZone;
    }
}

TEST_F(TimeZoneTest, CurrentTimeInBothZones)
{
    UseZone("Asia/Kolkata"); // +05:30, no daylight saving
    DateParts utc{};
    DateParts local{};
    VSystem::GetSystemUTCTime(utc.data());
    VSystem::GetSystemLocalTime(local.data());
    time_t now = time(nullptr);
    tm expected{};
    gmtime_r(&now, &expected);
    EXPECT_NEAR(utc[0], expected.tm_year + 1900, 1);
    EXPECT_GE(utc[6], 0);
    EXPECT_LT(utc[6], 1000);
    // Local time read back as UTC lies 5:30 behind, give or take the second between the reads.
    VSystem::LocalToUTCTime(local.data());
    auto seconds = [](const DateParts& inParts) { return inParts[3] * 3600 + inParts[4] * 60 + inParts[5]; };
    int difference = (seconds(local) - seconds(utc) + 86400) % 86400;
    EXPECT_LE(difference, 1) << Describe(utc) << " / " << Describe(local);
}

} // namespace
