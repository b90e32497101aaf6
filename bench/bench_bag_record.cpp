// The log-record pattern: a record of 8 attributes (five strings, a level, a sequence number and a
// time) is filled, read back and destroyed, as a value bag with prepared static keys (the way log
// producers use their key table) against std::unordered_map<std::string,
// std::variant<int64_t, double, std::string>> doing the same. Both sides copy the same texts in and
// out through outputs reused across records. Reported: ns per record, mallocs per record (counted
// by wrapping the C library's malloc; not counted under the sanitizers, which own malloc) and the
// time ratio.

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <variant>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZORN_COUNT_MALLOCS 0
#else
#define ZORN_COUNT_MALLOCS 1
#endif

namespace
{
std::atomic<uint64_t> gMallocs{0};
}

#if ZORN_COUNT_MALLOCS
extern "C" void* __libc_malloc(size_t inSize);
extern "C" void* __libc_realloc(void* inBlock, size_t inSize);
extern "C" void* __libc_calloc(size_t inCount, size_t inSize);

extern "C" void* malloc(size_t inSize)
{
    gMallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(inSize);
}
extern "C" void* realloc(void* inBlock, size_t inSize)
{
    gMallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(inBlock, inSize);
}
extern "C" void* calloc(size_t inCount, size_t inSize)
{
    gMallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(inCount, inSize);
}
#endif

using namespace zorn;

namespace
{

const char* const kMessage = "The file could not be opened because it is locked by another task";
const char* const kSource = "updater.install";
const char* const kTaskName = "Main";
const char* const kFileName = "VFile.cpp";
const char* const kCrawl = "VFile::Open <- VUpdater::Install <- main";

void CountMallocs(benchmark::State& ioState, uint64_t inBefore)
{
    const double mallocs = static_cast<double>(gMallocs.load() - inBefore);
    ioState.counters["mallocs"] =
        ZORN_COUNT_MALLOCS ? mallocs / static_cast<double>(ioState.iterations()) : -1.0;
}

void BM_Record_ValueBag(benchmark::State& ioState)
{
    static const VValueBag::StKey kMessageKey("message");
    static const VValueBag::StKey kSourceKey("source");
    static const VValueBag::StKey kTaskKey("task_name");
    static const VValueBag::StKey kFileKey("file_name");
    static const VValueBag::StKey kCrawlKey("stack_crawl");
    static const VValueBag::StKey kLevelKey("level");
    static const VValueBag::StKey kSequenceKey("sequence");
    static const VValueBag::StKey kTimeKey("time");
    const VString message(kMessage);
    const VString source(kSource);
    const VString task(kTaskName);
    const VString file(kFileName);
    const VString crawl(kCrawl);
    VTime now;
    VTime::Now(now);
    VString text;
    int32_t level = 0;
    int64_t sequence = 0;
    VTime time;
    int64_t next = 0;
    const uint64_t before = gMallocs.load();
    for (auto _ : ioState)
    {
        auto* record = new VValueBag();
        record->SetString(kMessageKey, message);
        record->SetLong(kLevelKey, 6);
        record->SetString(kSourceKey, source);
        record->SetString(kTaskKey, task);
        record->SetString(kFileKey, file);
        record->SetString(kCrawlKey, crawl);
        record->SetLong8(kSequenceKey, ++next);
        record->SetTime(kTimeKey, now);
        record->GetString(kMessageKey, text);
        record->GetString(kSourceKey, text);
        record->GetString(kTaskKey, text);
        record->GetString(kFileKey, text);
        record->GetString(kCrawlKey, text);
        record->GetLong(kLevelKey, level);
        record->GetLong8(kSequenceKey, sequence);
        record->GetTime(kTimeKey, time);
        benchmark::DoNotOptimize(text.GetLength() + level + sequence);
        record->Release();
    }
    CountMallocs(ioState, before);
}

using MapValue = std::variant<int64_t, double, std::string>;
using MapRecord = std::unordered_map<std::string, MapValue>;

void BM_Record_UnorderedMap(benchmark::State& ioState)
{
    const std::string message(kMessage);
    const std::string source(kSource);
    const std::string task(kTaskName);
    const std::string file(kFileName);
    const std::string crawl(kCrawl);
    VTime now;
    VTime::Now(now);
    const int64_t nowMilliseconds = now.GetMilliseconds();
    std::string text;
    int64_t level = 0;
    int64_t sequence = 0;
    int64_t time = 0;
    int64_t next = 0;
    const uint64_t before = gMallocs.load();
    for (auto _ : ioState)
    {
        auto* record = new MapRecord();
        (*record)["message"] = message;
        (*record)["level"] = int64_t{6};
        (*record)["source"] = source;
        (*record)["task_name"] = task;
        (*record)["file_name"] = file;
        (*record)["stack_crawl"] = crawl;
        (*record)["sequence"] = ++next;
        (*record)["time"] = nowMilliseconds;
        text = std::get<std::string>(record->find("message")->second);
        text = std::get<std::string>(record->find("source")->second);
        text = std::get<std::string>(record->find("task_name")->second);
        text = std::get<std::string>(record->find("file_name")->second);
        text = std::get<std::string>(record->find("stack_crawl")->second);
        level = std::get<int64_t>(record->find("level")->second);
        sequence = std::get<int64_t>(record->find("sequence")->second);
        time = std::get<int64_t>(record->find("time")->second);
        benchmark::DoNotOptimize(text.size() + static_cast<size_t>(level + sequence + time));
        delete record;
    }
    CountMallocs(ioState, before);
}

void PrintRatio(const bench::BenchRunTimes& inTimes)
{
    double ratio = inTimes.Ratio("BM_Record_ValueBag", "BM_Record_UnorderedMap");
    if (ratio > 0)
    {
        std::printf("\nRecord time relative to the map (bag / map; below 1 is faster): %.2f\n", ratio);
    }
}

} // namespace

BENCHMARK(BM_Record_ValueBag);
BENCHMARK(BM_Record_UnorderedMap);

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatio);
}
