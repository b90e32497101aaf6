// Property set and get on JSON objects of 10, 1,000 and 100,000 members, with names that exist
// (hit) and names that do not (miss), against nlohmann::json's ordered_json (insertion-ordered
// like VJSONObject) and RapidJSON's Document objects. Every library stores and reads numbers under
// the same names; "set miss" adds a new member (the object is rebuilt, untimed, after it has
// doubled). At the end the program prints the ratio of each peer's time to VJSONObject's.
//
// What to expect: both peers keep members in a vector and find names by a linear scan, VJSONObject
// in a hash map, so the ratios grow with the size; at 10 members the constant costs (VJSONValue
// copies take an atomic stamp) decide.

#include "bench/BenchRunTimes.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
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

#define JSON_BENCH(operation)                                                                                \
    BENCHMARK_TEMPLATE(operation, ZornObject)->Arg(10)->Arg(1000)->Arg(100000);                              \
    BENCHMARK_TEMPLATE(operation, NlohmannObject)->Arg(10)->Arg(1000)->Arg(100000);                          \
    BENCHMARK_TEMPLATE(operation, RapidObject)->Arg(10)->Arg(1000)->Arg(100000)

JSON_BENCH(BM_GetHit);
JSON_BENCH(BM_GetMiss);
JSON_BENCH(BM_SetHit);
JSON_BENCH(BM_SetMiss);

// The console output, then a table of each peer's time per operation divided by VJSONObject's
// (above 1: VJSONObject is faster).
class RatioReporter : public zorn::bench::TimesReporter
{
public:
    void Finalize() override
    {
        TimesReporter::Finalize();
        const zorn::bench::BenchRunTimes& runTimes = Times();
        std::printf("\n%-18s %26s %26s\n", "time ratio", "nlohmann/VJSONObject", "rapidjson/VJSONObject");
        // Names look like "BM_GetHit<ZornObject>/1000": one row per operation and size.
        std::map<std::string, std::map<std::string, double>> rows;
        runTimes.ForEachName(
            [&](const std::string& inName)
            {
                size_t open = inName.find('<');
                size_t close = inName.find('>');
                size_t slash = inName.rfind('/');
                if (open != std::string::npos && close != std::string::npos && slash != std::string::npos)
                {
                    rows[inName.substr(3, open - 3) + " " + inName.substr(slash + 1)]
                        [inName.substr(open + 1, close - open - 1)] = runTimes.Find(inName);
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
            std::printf("%-18s %26.2f %26.2f\n", row.c_str(), ratio("NlohmannObject"), ratio("RapidObject"));
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
    {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
