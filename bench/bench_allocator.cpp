// The own block allocator (a memory manager in own-allocator mode) against the C library's malloc
// and mimalloc (Debian libmimalloc-dev), on the same churn: each thread keeps 1024 live blocks and
// replaces one at a time, in a fixed random order, by a block of a fixed random size, writing its
// first byte. Small: 16 to 512 bytes; mixed: 16 bytes to 64 KiB, spread evenly over the powers of
// two. 1 and 4 threads share one allocator (the manager has one mutex for its four back ends).
// Each thread's live blocks persist across the runs of a benchmark (after a warm-up), so the
// figures are those of a steady churn, not of an allocator starting from nothing.
// The table at the end gives the peer's time divided by ours (above 1: ours is faster).
//
// mimalloc's shared library also defines malloc and free; linked normally it would replace the C
// library's allocator in the whole program. It is therefore loaded with dlopen (its symbols stay
// local) and called through mi_malloc and mi_free.

#include "BenchRunTimes.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kLiveBlocks = 1024;
constexpr size_t kSequence = 8192; // sizes and slots, replayed in turn
constexpr int kStepsPerIteration = 256;

struct Allocator
{
    void* (*fMalloc)(size_t);
    void (*fFree)(void*);
};

VCppMemMgr* gManager = nullptr;
Allocator gZorn = {[](size_t inSize)
                   { return gManager->Malloc(inSize, false, MakeOsType('b', 'e', 'n', 'c')); },
                   [](void* inBlock) { gManager->Free(inBlock); }};
Allocator gGlibc = {&std::malloc, &std::free};
Allocator gMimalloc = {nullptr, nullptr};

struct Work
{
    std::vector<size_t> fSizes;
    std::vector<uint32_t> fSlots;
};

Work MakeWork(bool inMixed, uint32_t inSeed)
{
    std::mt19937 random(inSeed);
    Work work;
    for (size_t i = 0; i < kSequence; ++i)
    {
        if (inMixed)
        {
            int bits = 4 + static_cast<int>(random() % 12); // 16 B to 32 KiB, then doubled at most
            size_t base = size_t{1} << bits;
            work.fSizes.push_back(base + random() % (base + 1));
        }
        else
        {
            work.fSizes.push_back(16 + random() % 497);
        }
        work.fSlots.push_back(static_cast<uint32_t>(random() % kLiveBlocks));
    }
    return work;
}

// One thread's live blocks of one allocator and load. They persist from one run of a benchmark
// to the next, so that every run measures the same steady churn: an allocator emptied between
// runs would otherwise start each run from cold memory (the own allocator even gives its regions
// back to the system when they empty).
struct LiveSet
{
    std::vector<void*> fBlocks;
    size_t fNext = 0;
};

constexpr int kMaxThreads = 4;
LiveSet gLiveSets[3][2][kMaxThreads];

void Churn(benchmark::State& state, const Allocator& inAllocator, int inAllocatorIndex, bool inMixed)
{
    if (inAllocator.fMalloc == nullptr || state.thread_index() >= kMaxThreads)
    {
        state.SkipWithError("allocator not available");
        return;
    }
    const Work work = MakeWork(inMixed, 1234 + static_cast<uint32_t>(state.thread_index()));
    LiveSet& live = gLiveSets[inAllocatorIndex][inMixed ? 1 : 0][state.thread_index()];
    auto step = [&]
    {
        uint32_t slot = work.fSlots[live.fNext];
        inAllocator.fFree(live.fBlocks[slot]);
        auto* block = static_cast<char*>(inAllocator.fMalloc(work.fSizes[live.fNext]));
        *block = 1;
        live.fBlocks[slot] = block;
        live.fNext = (live.fNext + 1) % kSequence;
    };
    if (live.fBlocks.empty())
    {
        for (size_t i = 0; i < kLiveBlocks; ++i)
        {
            live.fBlocks.push_back(inAllocator.fMalloc(work.fSizes[i]));
        }
        for (size_t i = 0; i < 4 * kSequence; ++i) // warm-up
        {
            step();
        }
    }
    for (auto _ : state)
    {
        for (int i = 0; i < kStepsPerIteration; ++i)
        {
            step();
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kStepsPerIteration);
}

void BM_Small_Zorn(benchmark::State& state)
{
    Churn(state, gZorn, 0, false);
}
void BM_Small_Glibc(benchmark::State& state)
{
    Churn(state, gGlibc, 1, false);
}
void BM_Small_Mimalloc(benchmark::State& state)
{
    Churn(state, gMimalloc, 2, false);
}
void BM_Mixed_Zorn(benchmark::State& state)
{
    Churn(state, gZorn, 0, true);
}
void BM_Mixed_Glibc(benchmark::State& state)
{
    Churn(state, gGlibc, 1, true);
}
void BM_Mixed_Mimalloc(benchmark::State& state)
{
    Churn(state, gMimalloc, 2, true);
}

#define ALLOCATOR_BENCHMARK(name) BENCHMARK(name)->Threads(1)->Threads(4)->UseRealTime()
ALLOCATOR_BENCHMARK(BM_Small_Zorn);
ALLOCATOR_BENCHMARK(BM_Small_Glibc);
ALLOCATOR_BENCHMARK(BM_Small_Mimalloc);
ALLOCATOR_BENCHMARK(BM_Mixed_Zorn);
ALLOCATOR_BENCHMARK(BM_Mixed_Glibc);
ALLOCATOR_BENCHMARK(BM_Mixed_Mimalloc);

void LoadMimalloc()
{
    void* library = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
    {
        library = dlopen("libmimalloc.so", RTLD_NOW | RTLD_LOCAL);
    }
    if (library == nullptr)
    {
        std::fprintf(stderr, "mimalloc not found: %s\n", dlerror());
        return;
    }
    gMimalloc.fMalloc = reinterpret_cast<void* (*)(size_t)>(dlsym(library, "mi_malloc"));
    gMimalloc.fFree = reinterpret_cast<void (*)(void*)>(dlsym(library, "mi_free"));
    if (gMimalloc.fMalloc == nullptr || gMimalloc.fFree == nullptr)
    {
        gMimalloc = {nullptr, nullptr};
    }
}

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\ntime ratio (peer / ours; above 1: ours is faster)\n");
    for (const char* load : {"Small", "Mixed"})
    {
        for (const char* threads : {"threads:1", "threads:4"})
        {
            std::string ours = std::string("BM_") + load + "_Zorn/real_time/" + threads;
            std::string glibc = std::string("BM_") + load + "_Glibc/real_time/" + threads;
            std::string mimalloc = std::string("BM_") + load + "_Mimalloc/real_time/" + threads;
            std::string label = std::string(load) + ", " + threads + ": glibc / ours";
            bench::PrintSpeed(inTimes, label.c_str(), ours.c_str(), glibc.c_str());
            label = std::string(load) + ", " + threads + ": mimalloc / ours";
            bench::PrintSpeed(inTimes, label.c_str(), ours.c_str(), mimalloc.c_str());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    LoadMimalloc();
    gManager = new VCppMemMgr(VCppMemMgr::eAllocatorOwn);
    if (gManager == nullptr || gManager->IsStdLibMode())
    {
        std::fprintf(stderr, "no own allocator\n");
        return 1;
    }
    int status = bench::RunWithRatios(argc, argv, &PrintRatios);
    delete gManager;
    return status;
}
