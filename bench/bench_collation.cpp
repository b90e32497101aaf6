// Cost of collated comparison and search through VIntlMgr and VCollator against ICU's own
// Collator::compare and usearch on the same strings with the same settings (English collation,
// normalization on; primary strength when accents do not count, tertiary when they do). The
// ratio of each pair is what counts: the toolbox should add next to nothing to ICU.

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/usearch.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace zorn;

namespace
{

// Pairs compared both ways round: equal under collation, differing early, differing late.
const std::vector<std::pair<std::u16string, std::u16string>>& ComparePairs()
{
    static const std::vector<std::pair<std::u16string, std::u16string>> sPairs = {
        {u"resume", u"R\u00e9sum\u00e9"},
        {u"Application Support", u"application support"},
        {u"The quick brown fox jumps over the lazy dog", u"The quick brown fox jumps over the lazy cat"},
        {u"Stra\u00dfe", u"strasse"},
        {u"\u00e9clair au chocolat", u"eclair au caf\u00e9"},
        {u"zebra", u"apple"},
    };
    return sPairs;
}

// A text of a few hundred units and patterns found early, late, with a decomposed accent, or not.
const std::u16string& SearchText()
{
    static const std::u16string sText =
        u"Le curriculum vitae, ou re\u0301sume\u0301, pre\u0301sente le parcours d'une personne: "
        u"formation, expe\u0301rience professionnelle, langues et centres d'inte\u0301re\u0302t. "
        u"The updater keeps a log of every step in the folder that the caller names, and shows "
        u"a notification when the update fails, pointing to the log file.";
    return sText;
}

const std::vector<std::u16string>& SearchPatterns()
{
    static const std::vector<std::u16string> sPatterns = {
        u"curriculum", u"R\u00c9SUM\u00c9", u"log file", u"interet", u"nowhere to be found",
    };
    return sPatterns;
}

const UniChar* Units(const std::u16string& inText)
{
    return reinterpret_cast<const UniChar*>(inText.data());
}

int32_t Length(const std::u16string& inText)
{
    return static_cast<int32_t>(inText.size());
}

VIntlMgr& Manager()
{
    static VIntlMgr* const sManager = VIntlMgr::Create(1033, 1033);
    return *sManager;
}

std::unique_ptr<icu::Collator> MakeICUCollator(bool inDiacritical)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale("en_US"), status));
    collator->setStrength(inDiacritical ? icu::Collator::TERTIARY : icu::Collator::PRIMARY);
    collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    return collator;
}

// The process whose manager the string operations find. It is handed a manager made beforehand:
// making one while this process is installed would come back here for the manager being made.
class BenchProcess final : public IProcessServices
{
public:
    explicit BenchProcess(VIntlMgr* inManager) : fManager(inManager) {}
    VIntlMgr* GetIntlMgr() const override { return fManager; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }

private:
    VIntlMgr* fManager;
};

void BM_Compare_VIntlMgr(benchmark::State& state)
{
    bool diacritical = state.range(0) != 0;
    VIntlMgr& manager = Manager();
    for (auto _ : state)
    {
        for (const auto& [a, b] : ComparePairs())
        {
            benchmark::DoNotOptimize(
                manager.CompareString(Units(a), Length(a), Units(b), Length(b), diacritical));
            benchmark::DoNotOptimize(
                manager.CompareString(Units(b), Length(b), Units(a), Length(a), diacritical));
        }
    }
}
BENCHMARK(BM_Compare_VIntlMgr)->Arg(0)->Arg(1);

void BM_Compare_VString(benchmark::State& state)
{
    bool diacritical = state.range(0) != 0;
    BenchProcess process(&Manager());
    IProcessServices* previous = IProcessServices::Set(&process);
    std::vector<std::pair<VString, VString>> strings;
    for (const auto& [a, b] : ComparePairs())
    {
        strings.emplace_back(VString(Units(a), Length(a)), VString(Units(b), Length(b)));
    }
    for (auto _ : state)
    {
        for (const auto& [a, b] : strings)
        {
            benchmark::DoNotOptimize(a.CompareToString(b, diacritical));
            benchmark::DoNotOptimize(b.CompareToString(a, diacritical));
        }
    }
    IProcessServices::Set(previous);
}
BENCHMARK(BM_Compare_VString)->Arg(0)->Arg(1);

void BM_Compare_ICU(benchmark::State& state)
{
    std::unique_ptr<icu::Collator> collator = MakeICUCollator(state.range(0) != 0);
    for (auto _ : state)
    {
        for (const auto& [a, b] : ComparePairs())
        {
            UErrorCode status = U_ZERO_ERROR;
            benchmark::DoNotOptimize(collator->compare(a.data(), Length(a), b.data(), Length(b), status));
            benchmark::DoNotOptimize(collator->compare(b.data(), Length(b), a.data(), Length(a), status));
        }
    }
}
BENCHMARK(BM_Compare_ICU)->Arg(0)->Arg(1);

void BM_Find_VCollator(benchmark::State& state)
{
    bool diacritical = state.range(0) != 0;
    const VCollator* collator = Manager().GetCollator();
    const std::u16string& text = SearchText();
    for (auto _ : state)
    {
        for (const std::u16string& pattern : SearchPatterns())
        {
            int32_t length = 0;
            benchmark::DoNotOptimize(collator->FindString(Units(text), Length(text), Units(pattern),
                                                          Length(pattern), diacritical, &length));
            benchmark::DoNotOptimize(length);
        }
    }
}
BENCHMARK(BM_Find_VCollator)->Arg(0)->Arg(1);

void BM_Find_ICUStringSearch(benchmark::State& state)
{
    std::unique_ptr<icu::Collator> collator = MakeICUCollator(state.range(0) != 0);
    UCollator* handle = collator->toUCollator();
    const std::u16string& text = SearchText();
    const std::vector<std::u16string>& patterns = SearchPatterns();
    // One search object for the whole run, as a careful ICU caller keeps it: each pattern is set
    // on it in turn.
    UErrorCode status = U_ZERO_ERROR;
    UStringSearch* search = usearch_openFromCollator(patterns.front().data(), Length(patterns.front()),
                                                     text.data(), Length(text), handle, nullptr, &status);
    if (U_FAILURE(status))
    {
        state.SkipWithError("usearch_openFromCollator failed");
        return;
    }
    for (auto _ : state)
    {
        for (const std::u16string& pattern : patterns)
        {
            usearch_setPattern(search, pattern.data(), Length(pattern), &status);
            int32_t found = usearch_first(search, &status);
            benchmark::DoNotOptimize(found);
            benchmark::DoNotOptimize(found == USEARCH_DONE ? 0 : usearch_getMatchedLength(search));
        }
    }
    usearch_close(search);
}
BENCHMARK(BM_Find_ICUStringSearch)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(
        argc, argv,
        [](const bench::BenchRunTimes& inTimes)
        {
            std::printf("Speed relative to ICU (ICU time / ours; above 1 is faster):\n");
            for (const char* arg : {"/0", "/1"})
            {
                std::string suffix = arg;
                std::string strength = suffix == "/0" ? " (primary)" : " (tertiary)";
                bench::PrintSpeed(inTimes, ("VIntlMgr::CompareString" + strength).c_str(),
                                  ("BM_Compare_VIntlMgr" + suffix).c_str(),
                                  ("BM_Compare_ICU" + suffix).c_str());
                bench::PrintSpeed(inTimes, ("VString::CompareToString" + strength).c_str(),
                                  ("BM_Compare_VString" + suffix).c_str(),
                                  ("BM_Compare_ICU" + suffix).c_str());
                bench::PrintSpeed(inTimes, ("VCollator::FindString" + strength).c_str(),
                                  ("BM_Find_VCollator" + suffix).c_str(),
                                  ("BM_Find_ICUStringSearch" + suffix).c_str());
            }
        });
}
