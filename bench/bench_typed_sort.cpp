// Sorting of typed value arrays against std::sort on a std::vector of the same elements:
// VArrayLong (the typed quicksort on raw numbers) and VArrayString (the multi-criteria sort through
// the element compare, against std::sort with the same string compare), on 10^3 to 10^6 elements
// shaped random, sorted, reversed, all equal and ten distinct values. The ratios printed at the
// end are our time over std::sort's, and each shape's time over the random one of the same size.

#include "BenchRunTimes.h"

#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

enum Shape : int64_t
{
    kRandom,
    kSorted,
    kReversed,
    kAllEqual,
    kTenDistinct
};
const char* const kShapeNames[] = {"random", "sorted", "reversed", "all equal", "ten distinct"};

std::vector<int32_t> Numbers(int64_t inShape, int64_t inCount)
{
    std::mt19937 random(static_cast<uint32_t>(inCount));
    std::vector<int32_t> numbers(static_cast<size_t>(inCount));
    for (size_t i = 0; i < numbers.size(); ++i)
    {
        switch (inShape)
        {
        case kRandom:
            numbers[i] = static_cast<int32_t>(random());
            break;
        case kSorted:
            numbers[i] = static_cast<int32_t>(i);
            break;
        case kReversed:
            numbers[i] = static_cast<int32_t>(numbers.size() - i);
            break;
        case kAllEqual:
            numbers[i] = 7;
            break;
        default:
            numbers[i] = static_cast<int32_t>(random() % 10);
            break;
        }
    }
    return numbers;
}

std::vector<VString> Texts(int64_t inShape, int64_t inCount)
{
    std::vector<VString> texts;
    texts.reserve(static_cast<size_t>(inCount));
    char buffer[32];
    for (int32_t number : Numbers(inShape, inCount))
    {
        // Zero-padded so that the text order is the number order for sorted and reversed shapes.
        std::snprintf(buffer, sizeof(buffer), "k%010u", static_cast<uint32_t>(number));
        texts.emplace_back(buffer);
    }
    return texts;
}

void BM_Long_Zorn(benchmark::State& state)
{
    const std::vector<int32_t> numbers = Numbers(state.range(0), state.range(1));
    VArrayLong array(static_cast<int32_t>(numbers.size()));
    for (auto _ : state)
    {
        std::copy(numbers.begin(), numbers.end(), array.Data());
        array.Sort(1, array.GetCount());
        benchmark::DoNotOptimize(array.Data());
    }
}

void BM_Long_Std(benchmark::State& state)
{
    const std::vector<int32_t> numbers = Numbers(state.range(0), state.range(1));
    std::vector<int32_t> vector(numbers.size());
    for (auto _ : state)
    {
        std::copy(numbers.begin(), numbers.end(), vector.begin());
        std::sort(vector.begin(), vector.end());
        benchmark::DoNotOptimize(vector.data());
    }
}

void BM_String_Zorn(benchmark::State& state)
{
    const std::vector<VString> texts = Texts(state.range(0), state.range(1));
    VArrayString array(static_cast<int32_t>(texts.size()));
    for (auto _ : state)
    {
        state.PauseTiming();
        for (size_t i = 0; i < texts.size(); ++i)
        {
            array.FromString(texts[i], static_cast<int32_t>(i + 1));
        }
        state.ResumeTiming();
        array.Sort(0, array.GetCount() - 1);
    }
}

void BM_String_Std(benchmark::State& state)
{
    const std::vector<VString> texts = Texts(state.range(0), state.range(1));
    std::vector<VString> vector = texts;
    for (auto _ : state)
    {
        state.PauseTiming();
        for (size_t i = 0; i < texts.size(); ++i)
        {
            vector[i].FromString(texts[i]);
        }
        state.ResumeTiming();
        std::sort(vector.begin(), vector.end(),
                  [](const VString& a, const VString& b) { return a.CompareToString(b, true) < 0; });
    }
}

void Shapes(benchmark::internal::Benchmark* ioBenchmark)
{
    for (int64_t count : {1000, 10000, 100000, 1000000})
    {
        for (int64_t shape = kRandom; shape <= kTenDistinct; ++shape)
        {
            ioBenchmark->Args({shape, count});
        }
    }
}

BENCHMARK(BM_Long_Zorn)->Apply(Shapes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Long_Std)->Apply(Shapes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_String_Zorn)->Apply(Shapes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_String_Std)->Apply(Shapes)->Unit(benchmark::kMicrosecond);

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nTime over std::sort's (target: long random at most 2, i.e. at least 0.5x its speed),\n"
                "and over our random input of the same size (target: at most 3)\n");
    for (const char* kind : {"Long", "String"})
    {
        for (int64_t count : {1000, 10000, 100000, 1000000})
        {
            const std::string random = std::string("BM_") + kind + "_Zorn/0/" + std::to_string(count);
            for (int64_t shape = kRandom; shape <= kTenDistinct; ++shape)
            {
                const std::string suffix = "/" + std::to_string(shape) + "/" + std::to_string(count);
                const double peer = inTimes.Ratio(std::string("BM_") + kind + "_Zorn" + suffix,
                                                  std::string("BM_") + kind + "_Std" + suffix);
                const double ownRandom = inTimes.Ratio(std::string("BM_") + kind + "_Zorn" + suffix, random);
                if (peer > 0)
                {
                    std::printf("%-6s %8lld %-13s vs std::sort %5.2f   vs random %5.2f\n", kind,
                                static_cast<long long>(count), kShapeNames[shape], peer, ownRandom);
                }
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
