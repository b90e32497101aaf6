// Cost of printf formatting into a VString against the C library's snprintf followed by
// FromCString (the ratio is what counts: Printf should reach at least 0.8 of the peer's speed),
// the same line with a %S object, and FormatWithTemplate on a three-marker template. The template
// splits with the collated GetSubStrings, so its figure includes the cost of collated search.

#include "bench/BenchRunTimes.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace zorn;

static void BM_LogLine_Printf(benchmark::State& state)
{
    VString text;
    int task = 0;
    for (auto _ : state)
    {
        text.Printf("%s: task %d took %.3f ms", "updater", ++task, 12.3456);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_LogLine_Printf);

static void BM_LogLine_snprintf_FromCString(benchmark::State& state)
{
    VString text;
    int task = 0;
    for (auto _ : state)
    {
        char buffer[1024];
        std::snprintf(buffer, sizeof(buffer), "%s: task %d took %.3f ms", "updater", ++task, 12.3456);
        text.FromCString(buffer);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_LogLine_snprintf_FromCString);

static void BM_LogLine_PrintfWithObject(benchmark::State& state)
{
    VString text;
    VString name("updater");
    int task = 0;
    for (auto _ : state)
    {
        text.Printf("%S: task %d took %.3f ms", &name, ++task, 12.3456);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_LogLine_PrintfWithObject);

static void BM_FormatWithTemplate(benchmark::State& state)
{
    VJSONValue user(JSON_object);
    user.GetObject()->SetProperty(VString("first"), VJSONValue(VString("Ann")));
    VJSONValue root(JSON_object);
    root.GetObject()->SetProperty(VString("user"), user);
    root.GetObject()->SetProperty(VString("app"), VJSONValue(VString("Zorn Editor")));
    root.GetObject()->SetProperty(VString("version"), VJSONValue(2.5));
    VString pattern("Dear {{user.first}}, {{app}} {{version}} is ready to install.");
    for (auto _ : state)
    {
        VString result;
        pattern.FormatWithTemplate(root.GetObject(), result);
        benchmark::DoNotOptimize(result.GetCPointer());
    }
    state.SetLabel("per template");
}
BENCHMARK(BM_FormatWithTemplate)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(
        argc, argv,
        [](const zorn::bench::BenchRunTimes& inTimes)
        {
            std::printf("Speed relative to the peer (its time / ours; above 1 is "
                        "faster):\n");
            zorn::bench::PrintSpeed(inTimes, "Printf vs snprintf + FromCString", "BM_LogLine_Printf",
                                    "BM_LogLine_snprintf_FromCString");
        });
}
