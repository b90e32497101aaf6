// What a tree walk does for each entry: the entry's path is built from its folder's path and its
// name, then turned into the bytes handed to the system call. The toolbox builds it with
// VFilePath::FromRelativePath (POSIX style) and takes the bytes as its files do (GetPosixPath, then
// the name bytes' encoding); the peer is std::filesystem::path: operator/, lexically_normal and
// native() on the same names. Both work on
// 8,192 names prepared before the timing, in the form each takes (UTF-16 VStrings, UTF-8
// std::strings). At the end the program prints the time ratio, VFilePath / std::filesystem.

#include "bench/BenchRunTimes.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr int kEntries = 8192;

// Names as a listing gives them: files with extensions, some folders, a few non-ASCII.
const std::vector<std::string>& Names()
{
    static const std::vector<std::string> sNames = []
    {
        std::vector<std::string> names;
        names.reserve(kEntries);
        const char* const kinds[] = {"report_%05d.txt", "Image %05d.jpeg", "caf\xC3\xA9-%05d.md",
                                     "module%05d/"};
        char buffer[64];
        for (int i = 0; i < kEntries; ++i)
        {
            std::snprintf(buffer, sizeof(buffer), kinds[i % 4], i);
            names.emplace_back(buffer);
        }
        return names;
    }();
    return sNames;
}

const char* const kFolder = "/home/user/Projects/zorn/resources/";

void BM_Children_VFilePath(benchmark::State& state)
{
    std::vector<VString> names;
    for (const std::string& name : Names())
    {
        VString text;
        text.FromBlock(name.data(), name.size(), CharSet::VTC_UTF_8);
        names.push_back(text);
    }
    const VFilePath folder(VString(kFolder), FPS_POSIX);
    VFilePath child;
    for (auto _ : state)
    {
        for (const VString& name : names)
        {
            child.FromRelativePath(folder, name, FPS_POSIX);
            std::string bytes = XLinuxFile::AllocatePosixPathFromFilePath(child);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_Children_VFilePath);

void BM_Children_StdFilesystem(benchmark::State& state)
{
    const std::filesystem::path folder(kFolder);
    for (auto _ : state)
    {
        for (const std::string& name : Names())
        {
            std::filesystem::path child = (folder / name).lexically_normal();
            benchmark::DoNotOptimize(child.native().data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_Children_StdFilesystem);

void PrintRatio(const zorn::bench::BenchRunTimes& inTimes)
{
    double ours = inTimes.Find("BM_Children_VFilePath");
    double peer = inTimes.Find("BM_Children_StdFilesystem");
    if (ours > 0 && peer > 0)
    {
        std::printf("\nTime ratio VFilePath / std::filesystem (below 1 is faster): %.2f\n", ours / peer);
    }
}

} // namespace

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(argc, argv, PrintRatio);
}
