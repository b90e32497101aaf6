// A whole-tree copy by the copy engine against `cp -a` run as a child process, on one tree of
// 8000 files (0 B to 256 KiB, sizes spread evenly on a log scale), 300 folders and 200 symbolic
// links, plus two 64 MiB files. The two copies alternate, ten of each after one warm-up of each
// (the source is then in the page cache: the figures are warm-cache figures); each copy goes to a
// new name and is removed untimed. The engine also runs syncfs once per copy, which cp does not.
// Counters: each side's median in milliseconds and their ratio (engine / cp). The tree is made
// under $ZORN_BENCH_DIR, else $TMPDIR, else /tmp, and removed at the end. With
// ZORN_BENCH_NO_SYNC=1 the engine's syncfs is replaced by nothing (through its fault seam), to
// show what the flush costs on a disk that others write to as well.
#include "bench/BenchFolders.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <vector>

extern char** environ;

namespace
{

using namespace zorn;
using bench::BaseFolder;
using bench::Median;

void WriteFile(const std::string& inPath, size_t inSize, std::mt19937& ioRandom)
{
    std::string bytes(inSize, '\0');
    for (char& byte : bytes)
    {
        byte = static_cast<char>(ioRandom());
    }
    std::ofstream(inPath, std::ios::binary) << bytes;
}

void MakeTree(const std::string& inRoot)
{
    std::mt19937 random(2026);
    ::mkdir(inRoot.c_str(), 0755);
    std::vector<std::string> folders{inRoot};
    for (int index = 0; index < 300; ++index)
    {
        const std::string parent = folders[random() % folders.size()];
        folders.push_back(parent + "/d" + std::to_string(index));
        ::mkdir(folders.back().c_str(), 0755);
    }
    std::vector<std::string> files;
    std::uniform_real_distribution<double> logSize(0.0, std::log(256.0 * 1024.0));
    for (int index = 0; index < 8000; ++index)
    {
        files.push_back(folders[random() % folders.size()] + "/f" + std::to_string(index));
        WriteFile(files.back(), index % 50 == 0 ? 0 : static_cast<size_t>(std::exp(logSize(random))), random);
    }
    for (int index = 0; index < 200; ++index)
    {
        const std::string link = folders[random() % folders.size()] + "/l" + std::to_string(index);
        ::symlink(files[random() % files.size()].c_str(), link.c_str());
    }
    WriteFile(inRoot + "/big1", size_t{64} << 20, random);
    WriteFile(inRoot + "/big2", size_t{64} << 20, random);
}

int RunCp(const std::string& inFrom, const std::string& inTo)
{
    const char* argv[] = {"cp", "-a", inFrom.c_str(), inTo.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    {
        return -1;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_TreeCopyAgainstCp(benchmark::State& ioState)
{
    char folder[4096];
    std::snprintf(folder, sizeof(folder), "%s/zorn-bench-copy-XXXXXX", BaseFolder().c_str());
    if (::mkdtemp(folder) == nullptr)
    {
        ioState.SkipWithError("no temporary folder");
        return;
    }
    const char* noSync = std::getenv("ZORN_BENCH_NO_SYNC");
    if (noSync != nullptr && std::strcmp(noSync, "1") == 0)
    {
        XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
        calls.fSyncfs = [](int) { return 0; };
        XLinuxCopyEngine::SetCalls(calls);
    }
    const std::string base = folder;
    const std::string source = base + "/source";
    MakeTree(source);
    const std::string target = base + "/copy";
    auto timeOne = [&](bool inEngine)
    {
        auto start = std::chrono::steady_clock::now();
        bool ok =
            inEngine ? XLinuxCopyEngine::Copy(source, target, false) == VE_OK : RunCp(source, target) == 0;
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        XLinuxCopyEngine::RemoveTree(target);
        return ok ? ms : -1.0;
    };
    // Warm-up: the source into the page cache, both code paths once.
    timeOne(true);
    timeOne(false);
    std::vector<double> engine;
    std::vector<double> cp;
    for (auto _ : ioState)
    {
        for (int round = 0; round < bench::Rounds(10); ++round)
        {
            engine.push_back(timeOne(true));
            cp.push_back(timeOne(false));
        }
    }
    XLinuxCopyEngine::RemoveTree(base);
    if (std::find(engine.begin(), engine.end(), -1.0) != engine.end() ||
        std::find(cp.begin(), cp.end(), -1.0) != cp.end())
    {
        ioState.SkipWithError("a copy failed");
        return;
    }
    ioState.counters["engine_ms"] = Median(engine);
    ioState.counters["cp_ms"] = Median(cp);
    ioState.counters["ratio"] = Median(engine) / Median(cp);
}

BENCHMARK(BM_TreeCopyAgainstCp)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
