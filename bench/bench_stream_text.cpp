// Reading lines: VStream::GetTextLine over 20 MB of UTF-8 text in memory (a VConstPtrStream,
// decoded into a VString per line) against std::getline on a std::istringstream of the same bytes
// (bytes only, no decoding). Lines are 20 to 120 characters, mostly ASCII with some accented
// Latin and CJK characters, ending in LF. After the runs the program prints MB/s of each side and
// the time of our code divided by the peer's (below 1: faster).

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>

using namespace zorn;

namespace
{

constexpr size_t kTextBytes = 20 * 1024 * 1024;

const std::string& Text()
{
    static const std::string text = []
    {
        static const char* const pieces[] = {
            "word ",   "line ",         "caf\xC3\xA9 ", "\xE6\x96\x87\xE5\xAD\x97 ",
            "stream ", "na\xC3\xAFve ", "text, ",       "42 "};
        std::mt19937 random(7);
        std::string result;
        result.reserve(kTextBytes + 256);
        while (result.size() < kTextBytes)
        {
            size_t length = 20 + random() % 100;
            size_t start = result.size();
            while (result.size() - start < length)
            {
                result += pieces[random() % std::size(pieces)];
            }
            result += '\n';
        }
        return result;
    }();
    return text;
}

void BM_Lines_GetTextLine(benchmark::State& state)
{
    const std::string& text = Text();
    for (auto _ : state)
    {
        VConstPtrStream stream(text.data(), text.size());
        stream.OpenReading();
        stream.SetCharSet(CharSet::VTC_UTF_8);
        VString line;
        size_t lines = 0;
        while (stream.GetTextLine(line) == VE_OK)
        {
            ++lines;
        }
        stream.CloseReading();
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Lines_GetTextLine)->Unit(benchmark::kMillisecond);

void BM_Lines_StdGetline(benchmark::State& state)
{
    const std::string& text = Text();
    for (auto _ : state)
    {
        std::istringstream stream(text);
        std::string line;
        size_t lines = 0;
        while (std::getline(stream, line))
        {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Lines_StdGetline)->Unit(benchmark::kMillisecond);

void PrintRatio(const zorn::bench::BenchRunTimes& inTimes)
{
    const double megabytes = static_cast<double>(Text().size()) / (1024.0 * 1024.0);
    double ours = inTimes.Find("BM_Lines_GetTextLine");
    double peer = inTimes.Find("BM_Lines_StdGetline");
    if (ours > 0 && peer > 0)
    {
        // Times are in the unit of the benchmarks: milliseconds.
        std::printf("\nGetTextLine: %.0f MB/s, std::getline: %.0f MB/s\n", megabytes * 1000.0 / ours,
                    megabytes * 1000.0 / peer);
        std::printf("Time ratio GetTextLine / std::getline (below 1 is faster): %.2f\n", ours / peer);
    }
}

} // namespace

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(argc, argv, PrintRatio);
}
