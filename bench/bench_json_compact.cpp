// The compact JSON stream form against the JSON text form, on the same values: twitter.json,
// citm_catalog.json and canada.json read once by the text importer before the timing.
//   - write: VJSONBinaryWriter::StreamValue into a fresh buffer, against VJSONValue::Stringify;
//   - read+free: VJSONBinaryImporter::GetValue of the compact bytes and dropping the value,
//     against VJSONImporter::ParseString of the text.
// Throughput is in MB/s of the JSON text (the same figure for both forms, so the times compare);
// the counters give each form's size.
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONBinaryImporter.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

struct Inputs
{
    VString fText;
    size_t fTextBytes = 0;
    VJSONValue fValue;
    std::string fCompact;
};

void Count(benchmark::State& ioState, const Inputs& inInputs)
{
    ioState.SetBytesProcessed(static_cast<int64_t>(ioState.iterations() * inInputs.fTextBytes));
    ioState.counters["text_KB"] = static_cast<double>(inInputs.fTextBytes) / 1024;
    ioState.counters["compact_KB"] = static_cast<double>(inInputs.fCompact.size()) / 1024;
}

void RegisterDocument(const char* inName, const std::string& inUTF8)
{
    auto inputs = std::make_shared<Inputs>();
    inputs->fText.FromBlock(inUTF8.data(), inUTF8.size(), CharSet::VTC_UTF_8);
    inputs->fTextBytes = inUTF8.size();
    if (VJSONImporter::ParseString(inputs->fText, inputs->fValue, 0) != VE_OK)
    {
        std::fprintf(stderr, "bench_json_compact: %s does not parse\n", inName);
        return;
    }
    VJSONBinaryWriter::Buffer buffer;
    VJSONBinaryWriter writer;
    if (writer.StreamValue(inputs->fValue, buffer) != VE_OK)
    {
        std::fprintf(stderr, "bench_json_compact: %s cannot be written\n", inName);
        return;
    }
    inputs->fCompact.assign(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
    const std::string suffix = std::string("/") + inName;

    benchmark::RegisterBenchmark(("write/compact" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     for (auto _ : ioState)
                                     {
                                         VJSONBinaryWriter::Buffer out;
                                         VJSONBinaryWriter compactWriter;
                                         benchmark::DoNotOptimize(
                                             compactWriter.StreamValue(inputs->fValue, out));
                                     }
                                     Count(ioState, *inputs);
                                 });
    benchmark::RegisterBenchmark(("write/text" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     for (auto _ : ioState)
                                     {
                                         VString text;
                                         benchmark::DoNotOptimize(inputs->fValue.Stringify(text, 1));
                                     }
                                     Count(ioState, *inputs);
                                 });
    benchmark::RegisterBenchmark(("read+free/compact" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     for (auto _ : ioState)
                                     {
                                         VJSONValue value;
                                         VJSONBinaryImporter importer(inputs->fCompact.data(),
                                                                      inputs->fCompact.size());
                                         benchmark::DoNotOptimize(importer.GetValue(value));
                                     }
                                     Count(ioState, *inputs);
                                 });
    benchmark::RegisterBenchmark(("read+free/text" + suffix).c_str(),
                                 [inputs](benchmark::State& ioState)
                                 {
                                     for (auto _ : ioState)
                                     {
                                         VJSONValue value;
                                         benchmark::DoNotOptimize(
                                             VJSONImporter::ParseString(inputs->fText, value, 0));
                                     }
                                     Count(ioState, *inputs);
                                 });
}

} // namespace

int main(int argc, char** argv)
{
    for (const char* name : {"twitter", "citm_catalog", "canada"})
    {
        if (std::optional<std::string> text = ReadJSONTestDocument(name))
        {
            RegisterDocument(name, *text);
        }
        else
        {
            std::fprintf(stderr, "bench_json_compact: %s.json not found in %s; its cases are left out\n",
                         name, ZORN_JSON_TESTDATA);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
