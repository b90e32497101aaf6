// A recursive walk of one tree of 8000 empty files in 300 folders (plus 200 symbolic links) by
// the folder iterators (VFolder::IterateFiles with options 1 | 2, each file delivered as a VFile
// and its modification time read) against nftw(FTW_PHYS) over the same tree, which stats every
// entry it names: both sides stat. The two walks alternate, twenty of each after one warm-up of
// each (warm dentry cache). Counters: each side's median in milliseconds and their ratio
// (iterators / nftw), and the files each walk saw. The tree is made under $ZORN_BENCH_DIR, else
// $TMPDIR, else /tmp, and removed at the end.
#include "bench/BenchFolders.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/kernel/values/VTime.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace
{

using namespace zorn;
using bench::BaseFolder;
using bench::Median;

void MakeTree(const std::string& inRoot)
{
    std::mt19937 random(2026);
    ::mkdir(inRoot.c_str(), 0755);
    std::vector<std::string> folders{inRoot};
    for (int index = 0; index < 300; ++index)
    {
        folders.push_back(folders[random() % folders.size()] + "/d" + std::to_string(index));
        ::mkdir(folders.back().c_str(), 0755);
    }
    std::vector<std::string> files;
    for (int index = 0; index < 8000; ++index)
    {
        files.push_back(folders[random() % folders.size()] + "/f" + std::to_string(index));
        ::close(::open(files.back().c_str(), O_WRONLY | O_CREAT, 0644));
    }
    for (int index = 0; index < 200; ++index)
    {
        const std::string link = folders[random() % folders.size()] + "/l" + std::to_string(index);
        ::symlink(files[random() % files.size()].c_str(), link.c_str());
    }
}

size_t sNftwFiles = 0;

int CountEntry(const char*, const struct stat*, int inType, struct FTW*)
{
    if (inType == FTW_F || inType == FTW_SL)
    {
        ++sNftwFiles;
    }
    return 0;
}

void BM_FolderWalkAgainstNftw(benchmark::State& ioState)
{
    char folder[4096];
    std::snprintf(folder, sizeof(folder), "%s/zorn-bench-walk-XXXXXX", BaseFolder().c_str());
    if (::mkdtemp(folder) == nullptr)
    {
        ioState.SkipWithError("no temporary folder");
        return;
    }
    const std::string root = std::string(folder) + "/tree";
    MakeTree(root);
    VFolder tree(VString((root + "/").c_str()), FPS_POSIX);
    size_t iteratorFiles = 0;
    auto timeOne = [&](bool inIterators)
    {
        auto start = std::chrono::steady_clock::now();
        if (inIterators)
        {
            iteratorFiles = 0;
            tree.IterateFiles(
                [&](IFile*, IFileAttributeAccessor* inAttributes)
                {
                    // nftw stats every entry it names: the iterators' side reads each file's
                    // times, so both walks stat.
                    VTime modified;
                    if (inAttributes != nullptr)
                    {
                        inAttributes->GetTime(&modified, nullptr, nullptr);
                    }
                    ++iteratorFiles;
                    return true;
                },
                1 | 2);
        }
        else
        {
            sNftwFiles = 0;
            ::nftw(root.c_str(), CountEntry, 64, FTW_PHYS);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    timeOne(true);
    timeOne(false);
    std::vector<double> iterators;
    std::vector<double> nftw;
    for (auto _ : ioState)
    {
        for (int round = 0; round < bench::Rounds(20); ++round)
        {
            iterators.push_back(timeOne(true));
            nftw.push_back(timeOne(false));
        }
    }
    XLinuxCopyEngine::RemoveTree(folder);
    ioState.counters["iterators_ms"] = Median(iterators);
    ioState.counters["nftw_ms"] = Median(nftw);
    ioState.counters["ratio"] = Median(iterators) / Median(nftw);
    ioState.counters["iterator_files"] = static_cast<double>(iteratorFiles);
    ioState.counters["nftw_files"] = static_cast<double>(sNftwFiles);
}

BENCHMARK(BM_FolderWalkAgainstNftw)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
