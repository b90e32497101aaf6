// Property set and get on JSON objects of 10, 1,000 and 100,000 members, with names that exist
// (hit) and names that do not (miss), against nlohmann::json's ordered_json (insertion-ordered
// like VJSONObject) and RapidJSON's Document objects. Every library stores and reads numbers under
// the same names; "set miss" adds a new member (the object is rebuilt, untimed, after it has
// doubled). At the end the program prints the ratio of each peer's time to VJSONObject's.
//
// What to expect: both peers keep members in a vector and find names by a linear scan, VJSONObject
// scans up to 16 members and indexes larger objects, so the ratios grow with the size; at 10
// members the constant costs (VJSONValue copies take an atomic stamp) decide.
//
// Documents: twitter.json, citm_catalog.json and canada.json (the test data of the Debian package
// golang-github-valyala-fastjson-dev; the cases are left out when it is not installed). Each is
// read once, untimed, by RapidJSON's SAX Reader into a tape of parse events (UTF-16 strings), and
// then:
//   - Build: VJSONObject trees built by replaying the tape through VJSONBuilder (the path of the
//     readers), against the same tape replayed into RapidJSON's UTF-16 DOM
//     (GenericDocument<UTF16<char16_t>> as its own SAX handler, strings copied);
//   - Clone: VJSONCloner against ordered_json's copy constructor;
//   - Walk: a recursive walk in insertion order reading every name, string and number by reference,
//     against the same walk of ordered_json;
//   - Destroy: dropping the tree, against ordered_json and the RapidJSON document;
//   - BuildDestroy (citm_catalog): building and dropping the tree with the process's class store
//     installed (every object takes the root class "Object") against the same without it; the
//     last column of the ratio table is the cost of the classes (the aim: below 1.05). On a busy
//     machine run it with --benchmark_enable_random_interleaving=true and repetitions, so that
//     both sides see the same load.
// Before the benchmarks the program prints the heap bytes per value (mallinfo2, glibc) of each
// library's tree.

#include "bench/BenchRunTimes.h"
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kLookups = 1024; // names read or written in turn, in a shuffled order

std::vector<std::string> Names(const char* inPrefix, size_t inCount)
{
    std::vector<std::string> names;
    names.reserve(inCount);
    for (size_t i = 0; i < inCount; ++i)
    {
        names.push_back(inPrefix + std::to_string(i));
    }
    return names;
}

struct ZornObject
{
    static constexpr const char* kName = "VJSONObject";
    using Key = VString;
    static Key MakeKey(const std::string& inName) { return VString(inName.c_str()); }

    ZornObject() { Reset(); }
    void Reset() { fHolder = VJSONValue(JSON_object); }
    void Set(const Key& inKey, double inValue)
    {
        fHolder.GetObject()->SetProperty(inKey, VJSONValue(inValue));
    }
    void Append(const Key& inKey, double inValue) { Set(inKey, inValue); }
    double Get(const Key& inKey) const { return fHolder.GetObject()->GetProperty(inKey).GetNumber(); }

    VJSONValue fHolder;
};

struct NlohmannObject
{
    static constexpr const char* kName = "nlohmann::ordered_json";
    using Key = std::string;
    static Key MakeKey(const std::string& inName) { return inName; }

    NlohmannObject() { Reset(); }
    void Reset() { fObject = nlohmann::ordered_json::object(); }
    void Set(const Key& inKey, double inValue) { fObject[inKey] = inValue; }
    // A name known to be new, without the linear search of a set (the ordered map is a vector).
    void Append(const Key& inKey, double inValue)
    {
        fObject.get_ref<nlohmann::ordered_json::object_t&>().push_back({inKey, inValue});
    }
    double Get(const Key& inKey) const
    {
        auto found = fObject.find(inKey);
        return found == fObject.end() ? 0 : found->get<double>();
    }

    nlohmann::ordered_json fObject;
};

struct RapidObject
{
    static constexpr const char* kName = "rapidjson::Document";
    using Key = std::string;
    static Key MakeKey(const std::string& inName) { return inName; }

    RapidObject() { Reset(); }
    void Reset()
    {
        // The document's pool allocator frees only with the document.
        fDocument = std::make_unique<rapidjson::Document>();
        fDocument->SetObject();
    }
    // A set replaces the member of that name when there is one, as the others do.
    void Set(const Key& inKey, double inValue)
    {
        auto found = fDocument->FindMember(rapidjson::StringRef(inKey.data(), inKey.size()));
        if (found != fDocument->MemberEnd())
        {
            found->value.SetDouble(inValue);
            return;
        }
        Append(inKey, inValue);
    }
    // A name known to be new, without the linear search of a set.
    void Append(const Key& inKey, double inValue)
    {
        auto& allocator = fDocument->GetAllocator();
        rapidjson::Value name(inKey.data(), static_cast<rapidjson::SizeType>(inKey.size()), allocator);
        fDocument->AddMember(name, rapidjson::Value(inValue), allocator);
    }
    double Get(const Key& inKey) const
    {
        auto found = fDocument->FindMember(rapidjson::StringRef(inKey.data(), inKey.size()));
        return found == fDocument->MemberEnd() ? 0 : found->value.GetDouble();
    }

    std::unique_ptr<rapidjson::Document> fDocument;
};

// An object of inCount members (filled by appending, since the peers' sets search linearly) with
// its member names, names it lacks and a shuffled order of
// member names to visit.
template <class TObject>
struct Fixture
{
    explicit Fixture(size_t inCount) : fCount(inCount)
    {
        for (const std::string& name : Names("member", inCount))
        {
            fKeys.push_back(TObject::MakeKey(name));
        }
        for (const std::string& name : Names("absent", inCount))
        {
            fAbsent.push_back(TObject::MakeKey(name));
        }
        std::mt19937 random(42);
        std::uniform_int_distribution<size_t> pick(0, inCount - 1);
        for (size_t i = 0; i < kLookups; ++i)
        {
            fOrder.push_back(pick(random));
        }
        Fill();
    }
    void Fill()
    {
        fObject.Reset();
        for (size_t i = 0; i < fCount; ++i)
        {
            fObject.Append(fKeys[i], static_cast<double>(i));
        }
    }

    size_t fCount;
    std::vector<typename TObject::Key> fKeys;
    std::vector<typename TObject::Key> fAbsent;
    std::vector<size_t> fOrder;
    TObject fObject;
};

template <class TObject>
void BM_GetHit(benchmark::State& state)
{
    Fixture<TObject> fixture(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(fixture.fObject.Get(fixture.fKeys[fixture.fOrder[i++ % kLookups]]));
    }
}

template <class TObject>
void BM_GetMiss(benchmark::State& state)
{
    Fixture<TObject> fixture(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(fixture.fObject.Get(fixture.fAbsent[fixture.fOrder[i++ % kLookups]]));
    }
}

template <class TObject>
void BM_SetHit(benchmark::State& state)
{
    Fixture<TObject> fixture(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state)
    {
        fixture.fObject.Set(fixture.fKeys[fixture.fOrder[i % kLookups]], static_cast<double>(i));
        ++i;
    }
}

template <class TObject>
void BM_SetMiss(benchmark::State& state)
{
    Fixture<TObject> fixture(static_cast<size_t>(state.range(0)));
    size_t added = 0;
    for (auto _ : state)
    {
        fixture.fObject.Set(fixture.fAbsent[added], 1.0);
        if (++added == fixture.fCount)
        {
            state.PauseTiming();
            fixture.Fill();
            added = 0;
            state.ResumeTiming();
        }
    }
}

// Documents

using Tape = zorn::test::JSONTape;
using TapeRecorder = zorn::test::JSONTapeRecorder;

struct Document
{
    std::string fName;
    std::string fText;
    Tape fTape;
    nlohmann::ordered_json fOrdered;
};

// The documents found, read and recorded on first use.
const std::vector<Document>& Documents()
{
    static const std::vector<Document> sDocuments = []
    {
        std::vector<Document> documents;
        for (const char* name : {"twitter", "citm_catalog", "canada"})
        {
            std::ifstream file(std::string(ZORN_JSON_TESTDATA) + "/" + name + ".json", std::ios::binary);
            if (!file)
            {
                std::fprintf(stderr, "bench_json: %s.json not found in %s; its cases are left out\n", name,
                             ZORN_JSON_TESTDATA);
                continue;
            }
            Document document;
            document.fName = name;
            std::ostringstream text;
            text << file.rdbuf();
            document.fText = text.str();
            rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF16<char16_t>> reader;
            TapeRecorder recorder(document.fTape);
            rapidjson::StringStream stream(document.fText.c_str());
            if (reader.Parse(stream, recorder).IsError())
            {
                std::fprintf(stderr, "bench_json: %s.json does not parse\n", name);
                continue;
            }
            document.fOrdered = nlohmann::ordered_json::parse(document.fText);
            documents.push_back(std::move(document));
        }
        return documents;
    }();
    return sDocuments;
}

// The tree of the tape, built as a reader builds it.
VJSONValue Replay(const Tape& inTape)
{
    return zorn::test::ReplayJSONTape(inTape);
}

// What a walk reads: units of names and strings, and the sum of the numbers.
struct WalkTotals
{
    size_t fUnits = 0;
    double fSum = 0;
};

void Walk(const VJSONValue& inValue, WalkTotals& ioTotals)
{
    switch (inValue.GetType())
    {
    case JSON_object:
        for (const VJSONObject::OwnProperty& property : inValue.GetObject()->GetOwnProperties())
        {
            ioTotals.fUnits += property.fKey.GetLength();
            Walk(property.fValue, ioTotals);
        }
        break;
    case JSON_array:
        for (const VJSONValue& element : inValue.GetArray()->GetElements())
        {
            Walk(element, ioTotals);
        }
        break;
    case JSON_string:
        ioTotals.fUnits += inValue.GetStringUnits().size();
        break;
    case JSON_number:
        ioTotals.fSum += inValue.GetNumber();
        break;
    default:
        break;
    }
}

void Walk(const nlohmann::ordered_json& inValue, WalkTotals& ioTotals)
{
    switch (inValue.type())
    {
    case nlohmann::ordered_json::value_t::object:
        for (auto member = inValue.begin(); member != inValue.end(); ++member)
        {
            ioTotals.fUnits += member.key().size();
            Walk(member.value(), ioTotals);
        }
        break;
    case nlohmann::ordered_json::value_t::array:
        for (const auto& element : inValue)
        {
            Walk(element, ioTotals);
        }
        break;
    case nlohmann::ordered_json::value_t::string:
        ioTotals.fUnits += inValue.get_ref<const std::string&>().size();
        break;
    case nlohmann::ordered_json::value_t::number_float:
    case nlohmann::ordered_json::value_t::number_integer:
    case nlohmann::ordered_json::value_t::number_unsigned:
        ioTotals.fSum += inValue.get<double>();
        break;
    default:
        break;
    }
}

using RapidDocument = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;

void ParseRapid(RapidDocument& ioDocument, const std::string& inText)
{
    ioDocument.Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(inText.c_str());
}

// The document of the tape: the same events handed to the document's own SAX handler, names and
// strings copied into it as VJSONBuilder copies them.
void ReplayRapid(RapidDocument& ioDocument, const Tape& inTape)
{
    auto replay = [&inTape](RapidDocument& ioHandler)
    {
        for (const Tape::Event& event : inTape.fEvents)
        {
            switch (event.fKind)
            {
            case Tape::kNull:
                ioHandler.Null();
                break;
            case Tape::kFalse:
                ioHandler.Bool(false);
                break;
            case Tape::kTrue:
                ioHandler.Bool(true);
                break;
            case Tape::kNumber:
                ioHandler.Double(event.fNumber);
                break;
            case Tape::kString:
                ioHandler.String(inTape.Text(event).data(), event.fCount, true);
                break;
            case Tape::kKey:
                ioHandler.Key(inTape.Text(event).data(), event.fCount, true);
                break;
            case Tape::kStartObject:
                ioHandler.StartObject();
                break;
            case Tape::kEndObject:
                ioHandler.EndObject(event.fCount);
                break;
            case Tape::kStartArray:
                ioHandler.StartArray();
                break;
            case Tape::kEndArray:
                ioHandler.EndArray(event.fCount);
                break;
            }
        }
        return true;
    };
    ioDocument.Populate(replay);
}

// The cases of one document; the names read "BM_<operation><<library>>/<document>" for the ratio
// table.
void RegisterDocument(const Document& inDocument)
{
    auto add = [&](const std::string& inOperation, const char* inLibrary, auto&& inFunction)
    {
        std::string name = "BM_" + inOperation + "<" + inLibrary + ">/" + inDocument.fName;
        auto* benchmark =
            benchmark::RegisterBenchmark(name.c_str(), inFunction)->Unit(benchmark::kMillisecond);
        if (inOperation == "Destroy")
        {
            // The timed part is short beside the untimed build: a fixed count keeps the run short.
            benchmark->Iterations(200);
        }
    };
    const Document* document = &inDocument;
    add("Build", "ZornObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                VJSONValue tree = Replay(document->fTape);
                benchmark::DoNotOptimize(tree);
                state.PauseTiming();
                tree.SetNull();
                state.ResumeTiming();
            }
        });
    add("Build", "RapidObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                auto tree = std::make_unique<RapidDocument>();
                ReplayRapid(*tree, document->fTape);
                benchmark::DoNotOptimize(tree->IsObject());
                state.PauseTiming();
                tree.reset();
                state.ResumeTiming();
            }
        });
    add("Clone", "ZornObject",
        [document](benchmark::State& state)
        {
            VJSONValue tree = Replay(document->fTape);
            for (auto _ : state)
            {
                VJSONCloner cloner;
                VJSONValue clone = tree;
                cloner.CloneValue(clone);
                benchmark::DoNotOptimize(clone);
                state.PauseTiming();
                clone.SetNull();
                state.ResumeTiming();
            }
        });
    add("Clone", "NlohmannObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                auto clone = std::make_unique<nlohmann::ordered_json>(document->fOrdered);
                benchmark::DoNotOptimize(clone.get());
                state.PauseTiming();
                clone.reset();
                state.ResumeTiming();
            }
        });
    add("Walk", "ZornObject",
        [document](benchmark::State& state)
        {
            VJSONValue tree = Replay(document->fTape);
            for (auto _ : state)
            {
                WalkTotals totals;
                Walk(tree, totals);
                benchmark::DoNotOptimize(totals);
            }
        });
    add("Walk", "NlohmannObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                WalkTotals totals;
                Walk(document->fOrdered, totals);
                benchmark::DoNotOptimize(totals);
            }
        });
    add("Destroy", "ZornObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                state.PauseTiming();
                VJSONValue tree = Replay(document->fTape);
                state.ResumeTiming();
                tree.SetNull();
            }
        });
    add("Destroy", "NlohmannObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                state.PauseTiming();
                auto tree = std::make_unique<nlohmann::ordered_json>(document->fOrdered);
                state.ResumeTiming();
                tree.reset();
            }
        });
    add("Destroy", "RapidObject",
        [document](benchmark::State& state)
        {
            for (auto _ : state)
            {
                state.PauseTiming();
                auto tree = std::make_unique<RapidDocument>();
                ParseRapid(*tree, document->fText);
                state.ResumeTiming();
                tree.reset();
            }
        });
    if (inDocument.fName != "citm_catalog")
    {
        return;
    }
    // Build and destroy with and without the process's class store: with it, every new object
    // takes the root class "Object" (one counter per object).
    auto buildAndDestroy = [document](benchmark::State& state, bool inWithClasses)
    {
        VRefPtr<VJSONClassStore> store;
        if (inWithClasses)
        {
            store.Adopt(new VJSONClassStore(VString("zq")));
            VJSONClassStore::SetProcessStore(store.Get());
            store->AddRootClasses();
        }
        for (auto _ : state)
        {
            VJSONValue tree = Replay(document->fTape);
            benchmark::DoNotOptimize(tree);
            tree.SetNull();
        }
        if (inWithClasses)
        {
            VJSONClassStore::SetProcessStore(nullptr);
        }
    };
    add("BuildDestroy", "ZornObject",
        [buildAndDestroy](benchmark::State& state) { buildAndDestroy(state, false); });
    add("BuildDestroy", "ZornClasses",
        [buildAndDestroy](benchmark::State& state) { buildAndDestroy(state, true); });
}

// Heap bytes in use (glibc's count of small and mapped blocks).
size_t HeapInUse()
{
    struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

template <class TBuild>
double BytesPerValue(const Document& inDocument, TBuild&& inBuild)
{
    size_t before = HeapInUse();
    auto tree = inBuild();
    size_t after = HeapInUse();
    benchmark::DoNotOptimize(tree);
    return after > before
               ? static_cast<double>(after - before) / static_cast<double>(inDocument.fTape.fValues)
               : 0;
}

void PrintBytesPerValue()
{
    if (Documents().empty())
    {
        return;
    }
    std::printf("%-14s %10s %14s %16s %12s\n", "bytes/value", "values", "VJSONObject", "ordered_json",
                "RapidJSON");
    for (const Document& document : Documents())
    {
        double zorn = BytesPerValue(document, [&] { return Replay(document.fTape); });
        double ordered =
            BytesPerValue(document, [&] { return nlohmann::ordered_json::parse(document.fText); });
        double rapid = BytesPerValue(document,
                                     [&]
                                     {
                                         auto tree = std::make_unique<RapidDocument>();
                                         ParseRapid(*tree, document.fText);
                                         return tree;
                                     });
        std::printf("%-14s %10zu %14.1f %16.1f %12.1f\n", document.fName.c_str(), document.fTape.fValues,
                    zorn, ordered, rapid);
    }
    std::printf("\n");
}

#define JSON_BENCH(operation)                                                                                \
    BENCHMARK_TEMPLATE(operation, ZornObject)->Arg(10)->Arg(1000)->Arg(100000);                              \
    BENCHMARK_TEMPLATE(operation, NlohmannObject)->Arg(10)->Arg(1000)->Arg(100000);                          \
    BENCHMARK_TEMPLATE(operation, RapidObject)->Arg(10)->Arg(1000)->Arg(100000)

JSON_BENCH(BM_GetHit);
JSON_BENCH(BM_GetMiss);
JSON_BENCH(BM_SetHit);
JSON_BENCH(BM_SetMiss);

// A table of each peer's time per operation divided by VJSONObject's (above 1: VJSONObject is
// faster).
void PrintRatios(const zorn::bench::BenchRunTimes& inTimes)
{
    std::printf("%-22s %26s %26s %26s\n", "time ratio", "nlohmann/VJSONObject", "rapidjson/VJSONObject",
                "with classes/without");
    // Names look like "BM_GetHit<ZornObject>/1000" or "BM_Build<RapidObject>/canada", with
    // "/iterations:N" after them for a fixed count: one row per operation and size.
    std::map<std::string, std::map<std::string, double>> rows;
    inTimes.ForEachName(
        [&](const std::string& inRunName)
        {
            std::string name = inRunName.substr(0, inRunName.find("/iterations:"));
            size_t open = name.find('<');
            size_t close = name.find('>');
            size_t slash = name.rfind('/');
            if (open != std::string::npos && close != std::string::npos && slash != std::string::npos)
            {
                rows[name.substr(3, open - 3) + " " + name.substr(slash + 1)]
                    [name.substr(open + 1, close - open - 1)] = inTimes.Find(inRunName);
            }
        });
    for (const auto& [row, times] : rows)
    {
        auto ratio = [&times](const char* inPeer)
        {
            auto peer = times.find(inPeer);
            auto zorn = times.find("ZornObject");
            return peer == times.end() || zorn == times.end() || zorn->second <= 0
                       ? 0.0
                       : peer->second / zorn->second;
        };
        std::printf("%-22s %26.2f %26.2f %26.3f\n", row.c_str(), ratio("NlohmannObject"),
                    ratio("RapidObject"), ratio("ZornClasses"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (const Document& document : Documents())
    {
        RegisterDocument(document);
    }
    PrintBytesPerValue();
    return zorn::bench::RunWithRatios(argc, argv, PrintRatios);
}
