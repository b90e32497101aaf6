// Cost of the international manager's date formats against ICU's own formatters, in one program so
// that the ratios are what counts:
// - VIntlMgr::FormatDateTimeWithPattern (its own letter table) against icu::SimpleDateFormat::format
//   with the same pattern and a formatter made once, for a numeric pattern and one with names;
// - XLinuxIntlMgr::FormatVTime (medium date and time, GMT: a formatter the manager keeps) against
//   an ICU formatter of the same styles made once. Opening a formatter per call, as the manager
//   once did, runs at some 0.03 of the peer.
// Each text ends in a VString, as ours does.

#include "BenchRunTimes.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <benchmark/benchmark.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cstdio>
#include <memory>

using namespace zorn;

namespace
{

constexpr const char* kNumericPattern = "yyyy-MM-dd HH:mm:ss";
constexpr const char* kNamedPattern = "EEEE d MMMM yyyy";
// 9 December 2026 10:30:05 UTC, in milliseconds since 1970.
constexpr double kMilliseconds = 1796812205000.0;

VTime Sample()
{
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 0);
    return time;
}

void ToVString(const icu::UnicodeString& inText, VString& outText)
{
    outText.FromUniCString(reinterpret_cast<const UniChar*>(inText.getBuffer()), inText.length());
}

void PatternZorn(benchmark::State& state, const char* inPattern)
{
    VIntlMgr* manager = VIntlMgr::Create(1033, 1033);
    const VTime time = Sample();
    const VString pattern(inPattern);
    VString text;
    for (auto _ : state)
    {
        manager->FormatDateTimeWithPattern(time, pattern, true, nullptr, text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    manager->Release();
}

void PatternICU(benchmark::State& state, const char* inPattern)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat format(icu::UnicodeString(inPattern), icu::Locale("en_US"), status);
    if (U_FAILURE(status))
    {
        state.SkipWithError("SimpleDateFormat failed");
        return;
    }
    format.setTimeZone(*icu::TimeZone::getGMT());
    VString text;
    for (auto _ : state)
    {
        icu::UnicodeString out;
        ToVString(format.format(kMilliseconds, out), text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}

void BM_PatternNumeric_Zorn(benchmark::State& state)
{
    PatternZorn(state, kNumericPattern);
}

void BM_PatternNumeric_ICU(benchmark::State& state)
{
    PatternICU(state, kNumericPattern);
}

void BM_PatternNamed_Zorn(benchmark::State& state)
{
    PatternZorn(state, kNamedPattern);
}

void BM_PatternNamed_ICU(benchmark::State& state)
{
    PatternICU(state, kNamedPattern);
}

void BM_FormatVTime_Zorn(benchmark::State& state)
{
    VIntlMgr* manager = VIntlMgr::Create(1033, 1033);
    const VTime time = Sample();
    VString text;
    for (auto _ : state)
    {
        manager->GetPlatform().FormatVTime(time, text, 2, 2, true);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    manager->Release();
}

void BM_FormatVTime_ICU(benchmark::State& state)
{
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kMedium, icu::Locale("en_US")));
    if (format == nullptr)
    {
        state.SkipWithError("createDateTimeInstance failed");
        return;
    }
    format->setTimeZone(*icu::TimeZone::getGMT());
    VString text;
    for (auto _ : state)
    {
        icu::UnicodeString out;
        ToVString(format->format(kMilliseconds, out), text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}

BENCHMARK(BM_PatternNumeric_Zorn);
BENCHMARK(BM_PatternNumeric_ICU);
BENCHMARK(BM_PatternNamed_Zorn);
BENCHMARK(BM_PatternNamed_ICU);
BENCHMARK(BM_FormatVTime_Zorn);
BENCHMARK(BM_FormatVTime_ICU);

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nSpeed relative to the peer (peer time / ours; above 1 is faster):\n");
    bench::PrintSpeed(inTimes, "FormatDateTimeWithPattern (numeric) vs SimpleDateFormat",
                      "BM_PatternNumeric_Zorn", "BM_PatternNumeric_ICU");
    bench::PrintSpeed(inTimes, "FormatDateTimeWithPattern (names) vs SimpleDateFormat",
                      "BM_PatternNamed_Zorn", "BM_PatternNamed_ICU");
    bench::PrintSpeed(inTimes, "FormatVTime (medium, medium) vs DateFormat", "BM_FormatVTime_Zorn",
                      "BM_FormatVTime_ICU");
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
