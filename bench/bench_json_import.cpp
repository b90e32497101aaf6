// The JSON text importer against its peers, on twitter.json, citm_catalog.json and canada.json
// (the test data of the Debian package golang-github-valyala-fastjson-dev; the cases are left out
// when it is not installed). Inputs are prepared before the timing: UTF-16 for ours and for
// RapidJSON's GenericDocument<UTF16<char16_t>> (the like-for-like peer), UTF-8 for nlohmann
// ordered_json and for simdjson's DOM (the scale; built only when libsimdjson-dev is installed).
//   - parse+free: a document read and dropped, each iteration (the targets are on this one);
//   - parse and free alone, the other half paused;
//   - our options 8 (paths), 192 (dates) and 0x100 (storage locker) against 0;
//   - utf8_to_utf16: the decoding that a file read adds before the importer, on its own;
//   - parse+free from the UTF-8 bytes: that decoding and the parse, as a file is read (the row
//     compared with simdjson, which reads the same bytes).
// Throughput is in MB/s of the UTF-8 text; "allocs/KB" counts heap allocations (malloc, calloc,
// realloc, and operator new through them) per KB of UTF-8 text, for one parse+free.
#include "bench/BenchRunTimes.h"
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONImporter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#if defined(ZORN_BENCH_SIMDJSON)
#include <simdjson.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace zorn;
using namespace zorn::test;

// Allocation counting: the C library's allocator, counted. Not under the sanitizers, which bring
// their own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZORN_COUNT_ALLOCATIONS 0
#else
#define ZORN_COUNT_ALLOCATIONS 1
#endif

namespace
{
std::atomic<uint64_t> sAllocations{0};
}

#if ZORN_COUNT_ALLOCATIONS
extern "C"
{
    void* __libc_malloc(size_t);
    void* __libc_calloc(size_t, size_t);
    void* __libc_realloc(void*, size_t);
    void* malloc(size_t inSize)
    {
        sAllocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_malloc(inSize);
    }
    void* calloc(size_t inCount, size_t inSize)
    {
        sAllocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_calloc(inCount, inSize);
    }
    void* realloc(void* inBlock, size_t inSize)
    {
        sAllocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_realloc(inBlock, inSize);
    }
}
#endif

namespace
{

using Document16 = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;

struct Inputs
{
    std::string fUTF8;
    std::u16string fUTF16;
    VString fText;
};

// Runs inParse (which reads and drops one document) in the loop, with the throughput and the
// allocations of one run.
template <class TParse>
void ParseAndFree(benchmark::State& ioState, const Inputs& inInputs, TParse&& inParse)
{
    uint64_t before = sAllocations.load(std::memory_order_relaxed);
    inParse();
    uint64_t allocations = sAllocations.load(std::memory_order_relaxed) - before;
    for (auto _ : ioState)
    {
        inParse();
    }
    ioState.SetBytesProcessed(static_cast<int64_t>(ioState.iterations() * inInputs.fUTF8.size()));
    ioState.counters["allocs/KB"] = ZORN_COUNT_ALLOCATIONS ? static_cast<double>(allocations) * 1024.0 /
                                                                 static_cast<double>(inInputs.fUTF8.size())
                                                           : 0.0;
}

// The parse or the free alone: inMake builds a document into a holder that the loop drops.
template <class THolder, class TMake>
void ParseOnly(benchmark::State& ioState, const Inputs& inInputs, bool inTimeFree, TMake&& inMake)
{
    for (auto _ : ioState)
    {
        if (inTimeFree)
        {
            ioState.PauseTiming();
        }
        auto holder = std::make_unique<THolder>();
        inMake(*holder);
        if (inTimeFree)
        {
            ioState.ResumeTiming();
        }
        else
        {
            ioState.PauseTiming();
        }
        holder.reset();
        if (!inTimeFree)
        {
            ioState.ResumeTiming();
        }
    }
    ioState.SetBytesProcessed(static_cast<int64_t>(ioState.iterations() * inInputs.fUTF8.size()));
}

void RegisterDocument(const char* inName, const std::string& inUTF8)
{
    auto inputs = std::make_shared<Inputs>();
    inputs->fUTF8 = inUTF8;
    inputs->fText.FromBlock(inUTF8.data(), inUTF8.size(), CharSet::VTC_UTF_8);
    inputs->fUTF16.assign(reinterpret_cast<const char16_t*>(inputs->fText.GetCPointer()),
                          static_cast<size_t>(inputs->fText.GetLength()));
    {
        VJSONValue check;
        if (VJSONImporter::ParseString(inputs->fText, check, VJSONImporter::kStrict) != VE_OK)
        {
            std::fprintf(stderr, "bench_json_import: %s.json does not read\n", inName);
            return;
        }
    }
    const std::string suffix = std::string("/") + inName;
    auto ours = [inputs](uint32_t inOptions)
    {
        return [inputs, inOptions](benchmark::State& ioState)
        {
            ParseAndFree(ioState, *inputs,
                         [&]
                         {
                             VJSONValue value;
                             VJSONImporter::ParseString(inputs->fText, value, inOptions);
                             benchmark::DoNotOptimize(value.GetType());
                         });
        };
    };
    benchmark::RegisterBenchmark(("parse+free/zorn::VJSONImporter" + suffix).c_str(), ours(0));
    // As ParseFile reads a file's bytes: decoded, then parsed.
    benchmark::RegisterBenchmark(("parse+free/zorn::VJSONImporter(UTF-8)" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     ParseAndFree(ioState, *inputs,
                                                  [&]
                                                  {
                                                      VString text;
                                                      VJSONImporter::DecodeUTF8(inputs->fUTF8.data(),
                                                                                inputs->fUTF8.size(), 0,
                                                                                VString(), text);
                                                      VJSONValue value;
                                                      VJSONImporter importer(text, 0);
                                                      importer.Parse(value);
                                                      benchmark::DoNotOptimize(value.GetType());
                                                  });
                                 });
    benchmark::RegisterBenchmark(("parse+free/rapidjson::Document16" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     ParseAndFree(ioState, *inputs,
                                                  [&]
                                                  {
                                                      Document16 document;
                                                      document.Parse(inputs->fUTF16.c_str());
                                                      benchmark::DoNotOptimize(document.IsObject());
                                                  });
                                 });
    benchmark::RegisterBenchmark(("parse+free/nlohmann::ordered_json" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     ParseAndFree(ioState, *inputs,
                                                  [&]
                                                  {
                                                      auto document =
                                                          nlohmann::ordered_json::parse(inputs->fUTF8);
                                                      benchmark::DoNotOptimize(document.is_object());
                                                  });
                                 });
#if defined(ZORN_BENCH_SIMDJSON)
    benchmark::RegisterBenchmark(("parse+free/simdjson::dom" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     simdjson::padded_string padded(inputs->fUTF8);
                                     simdjson::dom::parser parser;
                                     ParseAndFree(ioState, *inputs,
                                                  [&]
                                                  {
                                                      auto document = parser.parse(padded);
                                                      benchmark::DoNotOptimize(document.error());
                                                  });
                                 });
#endif

    for (bool timeFree : {false, true})
    {
        const std::string kind = timeFree ? "free" : "parse";
        benchmark::RegisterBenchmark((kind + "/zorn::VJSONImporter" + suffix).c_str(),
                                     [inputs, timeFree](benchmark::State& ioState)
                                     {
                                         ParseOnly<VJSONValue>(
                                             ioState, *inputs, timeFree,
                                             [&](VJSONValue& outValue)
                                             { VJSONImporter::ParseString(inputs->fText, outValue, 0); });
                                     });
        benchmark::RegisterBenchmark((kind + "/rapidjson::Document16" + suffix).c_str(),
                                     [inputs, timeFree](benchmark::State& ioState)
                                     {
                                         ParseOnly<Document16>(ioState, *inputs, timeFree,
                                                               [&](Document16& outDocument) {
                                                                   outDocument.Parse(inputs->fUTF16.c_str());
                                                               });
                                     });
        benchmark::RegisterBenchmark((kind + "/nlohmann::ordered_json" + suffix).c_str(),
                                     [inputs, timeFree](benchmark::State& ioState)
                                     {
                                         ParseOnly<nlohmann::ordered_json>(
                                             ioState, *inputs, timeFree,
                                             [&](nlohmann::ordered_json& outDocument)
                                             { outDocument = nlohmann::ordered_json::parse(inputs->fUTF8); });
                                     });
    }

    benchmark::RegisterBenchmark(("options/zorn::VJSONImporter/0x8" + suffix).c_str(),
                                 ours(VJSONImporter::kPathsAndLines));
    benchmark::RegisterBenchmark(("options/zorn::VJSONImporter/192" + suffix).c_str(),
                                 ours(VJSONImporter::kMarkedDates | VJSONImporter::kISODates));
    benchmark::RegisterBenchmark(("options/zorn::VJSONImporter/0x100" + suffix).c_str(),
                                 ours(VJSONImporter::kStorageLocker));
    benchmark::RegisterBenchmark(
        ("utf8_to_utf16/VString::FromBlock" + suffix).c_str(),
        [inputs](benchmark::State& ioState)
        {
            ParseAndFree(ioState, *inputs,
                         [&]
                         {
                             VString text;
                             text.FromBlock(inputs->fUTF8.data(), inputs->fUTF8.size(), CharSet::VTC_UTF_8);
                             benchmark::DoNotOptimize(text.GetCPointer());
                         });
        });
    // What reading a file costs before the parse.
    benchmark::RegisterBenchmark(("utf8_to_utf16/VJSONImporter::DecodeUTF8" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     ParseAndFree(ioState, *inputs,
                                                  [&]
                                                  {
                                                      VString text;
                                                      VJSONImporter::DecodeUTF8(inputs->fUTF8.data(),
                                                                                inputs->fUTF8.size(), 0,
                                                                                VString(), text);
                                                      benchmark::DoNotOptimize(text.GetCPointer());
                                                  });
                                 });
}

const char* const kDocuments[] = {"twitter", "citm_catalog", "canada"};

// Each peer's time over ours, per document, for the whole parse+free and its two halves, and each
// option's time over none.
void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("%-28s %-14s %10s %10s %10s\n", "peer time / ours", "document", "parse+free", "parse",
                "free");
    for (const char* peer : {"rapidjson::Document16", "nlohmann::ordered_json", "simdjson::dom"})
    {
        for (const char* document : kDocuments)
        {
            const std::string suffix = std::string("/") + document;
            std::printf("%-28s %-14s", peer, document);
            for (const char* kind : {"parse+free", "parse", "free"})
            {
                double ratio = inTimes.Ratio(std::string(kind) + "/" + peer + suffix,
                                             std::string(kind) + "/zorn::VJSONImporter" + suffix);
                ratio >= 0 ? std::printf(" %10.2f", ratio) : std::printf(" %10s", "-");
            }
            std::printf("\n");
        }
    }
    // The scale for reading a file: simdjson on the UTF-8 bytes against our decoding and parse.
    for (const char* document : kDocuments)
    {
        const std::string suffix = std::string("/") + document;
        double ratio = inTimes.Ratio("parse+free/simdjson::dom" + suffix,
                                     "parse+free/zorn::VJSONImporter(UTF-8)" + suffix);
        std::printf("%-28s %-14s", "simdjson::dom, from UTF-8", document);
        ratio >= 0 ? std::printf(" %10.2f\n", ratio) : std::printf(" %10s\n", "-");
    }
    std::printf("%-28s %-14s %10s %10s %10s\n", "option time / none", "document", "0x8", "192", "0x100");
    for (const char* document : kDocuments)
    {
        const std::string suffix = std::string("/") + document;
        std::printf("%-28s %-14s", "zorn::VJSONImporter", document);
        for (const char* option : {"0x8", "192", "0x100"})
        {
            double ratio = inTimes.Ratio(std::string("options/zorn::VJSONImporter/") + option + suffix,
                                         "parse+free/zorn::VJSONImporter" + suffix);
            ratio >= 0 ? std::printf(" %10.2f", ratio) : std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (const char* name : kDocuments)
    {
        if (std::optional<std::string> text = ReadJSONTestDocument(name))
        {
            RegisterDocument(name, *text);
        }
        else
        {
            std::fprintf(stderr, "bench_json_import: %s.json not found in %s; its cases are left out\n", name,
                         ZORN_JSON_TESTDATA);
        }
    }
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
