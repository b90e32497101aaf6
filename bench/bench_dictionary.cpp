// Cost of a lookup by key in a packed attribute dictionary (VPackedDictionary_with_backstore,
// GetValue into a VLong) against std::unordered_map<std::string, VLong> (find, then the value
// taken into a VLong), at 1, 5, 6, 50, 1,000 and 10,000 keys. Keys are prepared once, as the static key
// tables of bags and logs prepare them; both sides then hash and compare on every lookup. Every key is looked
// up in turn. The ratio of each pair is what counts: the dictionary should be at least as fast up to 50 keys,
// the size of log records and bags.

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/values/VPackedDictionary.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

using namespace zorn;

namespace
{

// Names like those of bag attributes: short, with a common prefix.
std::vector<std::string> Names(int64_t inCount)
{
    std::vector<std::string> names;
    for (int64_t i = 0; i < inCount; ++i)
    {
        names.push_back("attribute_" + std::to_string(i));
    }
    return names;
}

void BM_PackedDictionary(benchmark::State& ioState)
{
    const std::vector<std::string> names = Names(ioState.range(0));
    std::vector<StPackedDictionaryKey> keys;
    keys.reserve(names.size());
    VPackedDictionary_with_backstore dictionary;
    for (size_t i = 0; i < names.size(); ++i)
    {
        keys.emplace_back(names[i].c_str());
        dictionary.Append(keys.back(), VLong(static_cast<int32_t>(i)));
    }
    VLong value;
    size_t next = 0;
    for (auto _ : ioState)
    {
        dictionary.GetValue(keys[next], value);
        benchmark::DoNotOptimize(value.GetLong());
        next = next + 1 == keys.size() ? 0 : next + 1;
    }
}

void BM_UnorderedMap(benchmark::State& ioState)
{
    const std::vector<std::string> names = Names(ioState.range(0));
    std::unordered_map<std::string, VLong> map;
    for (size_t i = 0; i < names.size(); ++i)
    {
        map.emplace(names[i], VLong(static_cast<int32_t>(i)));
    }
    VLong value;
    size_t next = 0;
    for (auto _ : ioState)
    {
        auto found = map.find(names[next]);
        value.FromValueSameKind(&found->second);
        benchmark::DoNotOptimize(value.GetLong());
        next = next + 1 == names.size() ? 0 : next + 1;
    }
}

} // namespace

BENCHMARK(BM_PackedDictionary)->Arg(1)->Arg(5)->Arg(6)->Arg(50)->Arg(1000)->Arg(10000);
BENCHMARK(BM_UnorderedMap)->Arg(1)->Arg(5)->Arg(6)->Arg(50)->Arg(1000)->Arg(10000);

int main(int argc, char** argv)
{
    return bench::RunWithRatios(
        argc, argv,
        [](const bench::BenchRunTimes& inTimes)
        {
            std::printf("Speed relative to std::unordered_map (its time / ours; above 1 is "
                        "faster):\n");
            for (const char* keys : {"1", "5", "6", "50", "1000", "10000"})
            {
                bench::PrintSpeed(inTimes, (std::string(keys) + " keys").c_str(),
                                  (std::string("BM_PackedDictionary/") + keys).c_str(),
                                  (std::string("BM_UnorderedMap/") + keys).c_str());
            }
        });
}
