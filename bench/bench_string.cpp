// Cost of the string storage paths: inline text, copy-on-write sharing and progressive growth.

#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>

using namespace zorn;

static void BM_CopyHeapString(benchmark::State& state)
{
    VString source;
    UniChar* units = source.GetCPointerForWrite(1000);
    for (int i = 0; i < 1000; ++i)
    {
        units[i] = static_cast<UniChar>('a' + i % 26);
    }
    source.Validate(1000);
    for (auto _ : state)
    {
        VString copy(source); // shares the buffer: one atomic increment
        benchmark::DoNotOptimize(copy.GetCPointer());
    }
}
BENCHMARK(BM_CopyHeapString);

static void BM_GrowByOneUnit(benchmark::State& state)
{
    const int32_t target = static_cast<int32_t>(state.range(0));
    for (auto _ : state)
    {
        VString text;
        for (int32_t length = 1; length <= target; ++length)
        {
            UniChar* units = text.GetCPointerForWrite(length);
            units[length - 1] = 'x';
            text.Validate(length);
        }
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_GrowByOneUnit)->Arg(100)->Arg(100000);

static void BM_InlineShortString(benchmark::State& state)
{
    for (auto _ : state)
    {
        VStr<31> text("short text in place");
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_InlineShortString);
