// Reading lines: VStream::GetTextLine over 20 MB of UTF-8 text, in memory (a VConstPtrStream) and
// in a file (a VFileStream), each line decoded into a reused VString, against std::getline on a
// std::ifstream of the same file (bytes only, no decoding). Lines are 20 to 120 characters, mostly
// ASCII with some accented Latin and CJK characters, ending in LF. After the runs the program
// prints MB/s of each side and each of ours as a speed ratio to the peer (above 1: faster).

#include "bench/BenchRunTimes.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileStream.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
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

// The text in a file of its own, removed at exit.
const std::string& TextFile()
{
    static const std::string path = []
    {
        std::string result = "/tmp/zorn-bench-lines-" + std::to_string(::getpid()) + ".txt";
        std::ofstream(result, std::ios::binary) << Text();
        std::atexit([] { ::unlink(TextFile().c_str()); });
        return result;
    }();
    return path;
}

void BM_Lines_FileGetTextLine(benchmark::State& state)
{
    VRefPtr<VFile> file(new VFile(VString(TextFile().c_str()), FPS_POSIX), true);
    for (auto _ : state)
    {
        VFileStream stream(file.Get());
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
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}
BENCHMARK(BM_Lines_FileGetTextLine)->Unit(benchmark::kMillisecond);

void BM_Lines_StdGetline(benchmark::State& state)
{
    const std::string& text = Text();
    TextFile();
    for (auto _ : state)
    {
        std::ifstream stream(TextFile(), std::ios::binary);
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
    const double peer = inTimes.Find("BM_Lines_StdGetline");
    if (peer <= 0)
    {
        return;
    }
    // Times are in the unit of the benchmarks: milliseconds.
    std::printf("\nstd::getline on an ifstream: %.0f MB/s\n", megabytes * 1000.0 / peer);
    for (const char* name : {"BM_Lines_GetTextLine", "BM_Lines_FileGetTextLine"})
    {
        const double ours = inTimes.Find(name);
        if (ours > 0)
        {
            std::printf("%s: %.0f MB/s, speed ratio to std::getline (above 1 is faster): %.2f\n", name,
                        megabytes * 1000.0 / ours, peer / ours);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(argc, argv, PrintRatio);
}
