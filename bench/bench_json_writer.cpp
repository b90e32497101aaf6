// The JSON text writer against its peers, on twitter.json, citm_catalog.json and canada.json
// (the test data of the Debian package golang-github-valyala-fastjson-dev; the cases are left
// out when it is not installed), compact (options 0x1) and pretty with tabs (0x9). Every writer
// prints numbers at full precision, texts that read back as the same doubles (ours the shortest,
// std::to_chars; RapidJSON's Grisu2; nlohmann's Grisu2), so the work is alike:
//   - VJSONWriter on the tree built by replaying the document's parse events (VJSONBuilder);
//   - RapidJSON's Writer / PrettyWriter (tab indent) writing a GenericDocument<UTF16<char16_t>>
//     into a UTF-16 string buffer, the like-for-like peer (UTF-16 in, UTF-16 out);
//   - nlohmann ordered_json dump() (UTF-8), compact and with one tab of indent.
// Depth: arrays of the same number of numbers nested 1 to 900 deep, compact; the time per
// number must stay flat as the depth grows.
// The program ends with each peer's time over ours per file and form (five repetitions in random
// order by default, the fastest of each kept).
#include "bench/BenchRunTimes.h"
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <bit>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Document16 = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;
using Buffer16 = rapidjson::GenericStringBuffer<rapidjson::UTF16<char16_t>>;

struct Form
{
    const char* fName;
    uint32_t fOptions;
    bool fPretty;
};

// The numbers of a tree in document order.
void CollectNumbers(const VJSONValue& inValue, std::vector<double>& ioNumbers)
{
    if (inValue.IsNumber())
    {
        ioNumbers.push_back(inValue.GetNumber());
    }
    else if (const VJSONArray* array = inValue.GetArray())
    {
        for (const VJSONValue& element : array->GetElements())
        {
            CollectNumbers(element, ioNumbers);
        }
    }
    else if (const VJSONObject* object = inValue.GetObject())
    {
        for (const VJSONObject::OwnProperty& property : object->GetOwnProperties())
        {
            CollectNumbers(property.fValue, ioNumbers);
        }
    }
}

// Like for like: the texts of both writers read back (by our importer) as the very doubles of the
// tree; says so, or how many numbers differ.
void CheckFullPrecision(const char* inName, const VJSONValue& inTree, const Document16& inDocument)
{
    VString ours;
    VJSONWriter(1).StringifyValue(inTree, ours);
    Buffer16 buffer;
    rapidjson::Writer<Buffer16, rapidjson::UTF16<char16_t>, rapidjson::UTF16<char16_t>> writer(buffer);
    inDocument.Accept(writer);
    const VString theirs(reinterpret_cast<const UniChar*>(buffer.GetString()),
                         static_cast<int32_t>(buffer.GetSize() / sizeof(char16_t)));
    std::vector<double> expected;
    CollectNumbers(inTree, expected);
    for (const auto& [writerName, text] : {std::pair{"zorn::VJSONWriter", static_cast<const VString*>(&ours)},
                                           std::pair{"rapidjson", &theirs}})
    {
        VJSONValue reread;
        VJSONImporter::ParseString(*text, reread, 0);
        std::vector<double> numbers;
        CollectNumbers(reread, numbers);
        size_t differ = numbers.size() == expected.size() ? 0 : expected.size();
        for (size_t i = 0; differ == 0 && i < numbers.size(); ++i)
        {
            differ += std::bit_cast<uint64_t>(numbers[i]) != std::bit_cast<uint64_t>(expected[i]) ? 1 : 0;
        }
        std::fprintf(stderr, "bench_json_writer: %s.json, %s: %zu of %zu numbers %s\n", inName, writerName,
                     expected.size() - differ, expected.size(),
                     differ == 0 ? "read back exactly" : "read back");
    }
}

void RegisterDocument(const char* inName, const std::string& inText)
{
    auto tape = std::make_shared<JSONTape>();
    if (!RecordJSONTape(inText, *tape))
    {
        std::fprintf(stderr, "bench_json_writer: %s.json does not parse\n", inName);
        return;
    }
    auto tree = std::make_shared<VJSONValue>(ReplayJSONTape(*tape));
    auto document = std::make_shared<Document16>();
    document->Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(inText.c_str());
    auto ordered = std::make_shared<nlohmann::ordered_json>(nlohmann::ordered_json::parse(inText));
    CheckFullPrecision(inName, *tree, *document);
    for (const Form& form : {Form{"compact", 0x1, false}, Form{"pretty", 0x9, true}})
    {
        std::string suffix = std::string(inName) + "/" + form.fName;
        benchmark::RegisterBenchmark(("zorn::VJSONWriter/" + suffix).c_str(),
                                     [tree, form](benchmark::State& ioState)
                                     {
                                         for (auto _ : ioState)
                                         {
                                             VString text;
                                             VJSONWriter writer(form.fOptions);
                                             writer.StringifyValue(*tree, text);
                                             benchmark::DoNotOptimize(text.GetCPointer());
                                         }
                                     });
        benchmark::RegisterBenchmark(
            ("rapidjson::Writer/" + suffix).c_str(),
            [document, form](benchmark::State& ioState)
            {
                for (auto _ : ioState)
                {
                    Buffer16 buffer;
                    if (form.fPretty)
                    {
                        rapidjson::PrettyWriter<Buffer16, rapidjson::UTF16<char16_t>,
                                                rapidjson::UTF16<char16_t>>
                            writer(buffer);
                        writer.SetIndent('\t', 1);
                        document->Accept(writer);
                    }
                    else
                    {
                        rapidjson::Writer<Buffer16, rapidjson::UTF16<char16_t>, rapidjson::UTF16<char16_t>>
                            writer(buffer);
                        document->Accept(writer);
                    }
                    benchmark::DoNotOptimize(buffer.GetString());
                }
            });
        benchmark::RegisterBenchmark(("nlohmann::ordered_json::dump/" + suffix).c_str(),
                                     [ordered, form](benchmark::State& ioState)
                                     {
                                         for (auto _ : ioState)
                                         {
                                             std::string text =
                                                 form.fPretty ? ordered->dump(1, '\t') : ordered->dump();
                                             benchmark::DoNotOptimize(text.data());
                                         }
                                     });
    }
}

// 4096 numbers in arrays nested inDepth deep: each level holds 4096 / inDepth numbers and the
// next level.
VJSONValue NestedNumbers(int inDepth)
{
    const int perLevel = 4096 / inDepth;
    VJSONValue root(JSON_array);
    VJSONValue cursor = root;
    for (int level = 0; level < inDepth; ++level)
    {
        for (int i = 0; i < perLevel; ++i)
        {
            cursor.GetArray()->Push(VJSONValue(static_cast<double>(i)));
        }
        if (level + 1 < inDepth)
        {
            VJSONValue child(JSON_array);
            cursor.GetArray()->Push(child);
            cursor = std::move(child);
        }
    }
    return root;
}

void BM_WriterDepth(benchmark::State& ioState)
{
    const int depth = static_cast<int>(ioState.range(0));
    VJSONValue tree = NestedNumbers(depth);
    for (auto _ : ioState)
    {
        VString text;
        VJSONWriter writer(1);
        writer.StringifyValue(tree, text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    ioState.SetItemsProcessed(static_cast<int64_t>(ioState.iterations()) * (4096 / depth) * depth);
}
BENCHMARK(BM_WriterDepth)->Arg(1)->Arg(8)->Arg(64)->Arg(256)->Arg(512)->Arg(900);

// Speed relative to each peer, per file and form: the peer's time over ours (above 1 is faster).
void PrintSpeeds(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nSpeed relative to the peer (peer's time / ours; above 1 is faster):\n");
    for (const char* name : {"twitter", "citm_catalog", "canada"})
    {
        for (const char* form : {"compact", "pretty"})
        {
            const std::string suffix = std::string(name) + "/" + form;
            const std::string ours = "zorn::VJSONWriter/" + suffix;
            for (const char* peer : {"rapidjson::Writer/", "nlohmann::ordered_json::dump/"})
            {
                const double ratio = inTimes.Ratio(peer + suffix, ours);
                if (ratio > 0)
                {
                    std::printf("  %-22s vs %-30s %.2fx\n", suffix.c_str(), peer, ratio);
                }
            }
        }
    }
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
            std::fprintf(stderr, "bench_json_writer: %s.json not found in %s; its cases are left out\n", name,
                         ZORN_JSON_TESTDATA);
        }
    }
    return bench::RunWithRatios(argc, argv, PrintSpeeds);
}
