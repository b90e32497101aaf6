// Reference resolution throughout a document: a chain of n references
// {"r0":{"$ref":"#/r1"},...,"r(n-1)":{"$ref":"#/end"},"end":1}, where every member is a link. Each
// link is followed once and remembered with the chain's end, so the work is linear in n (items per
// second is links per second; at 100,000 links the allocator's own costs begin to show); the
// 10,000-link chain must take well under a second (it took about 20 minutes when every member
// walked the rest of the chain).
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/json/VJSONValue.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace zorn;

namespace
{

VString ChainText(int inLinks)
{
    std::string text = "{";
    for (int i = 0; i < inLinks; ++i)
    {
        text += "\"r" + std::to_string(i) + "\":{\"$ref\":\"#/" +
                (i + 1 < inLinks ? "r" + std::to_string(i + 1) : std::string("end")) + "\"},";
    }
    text += "\"end\":1}";
    return VString(text.c_str());
}

void BM_ResolveChain(benchmark::State& ioState)
{
    const int links = static_cast<int>(ioState.range(0));
    const VString text = ChainText(links);
    for (auto _ : ioState)
    {
        ioState.PauseTiming();
        VJSONValue document;
        document.ParseFromString(text);
        ioState.ResumeTiming();
        VJSONPointerResolver resolver(document, nullptr, nullptr, nullptr);
        resolver.ResolveRecursively(document, false, nullptr);
        benchmark::DoNotOptimize(resolver.GetErrors());
    }
    ioState.SetItemsProcessed(static_cast<int64_t>(ioState.iterations()) * links);
}
BENCHMARK(BM_ResolveChain)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
