#include "toolbox/files/VFileAttributesCache.h"
#include "toolbox/files/VFileJSONHooks.h"
#include "toolbox/files/VFilePath.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zorn;

namespace
{

VTime Day(int16_t inDay)
{
    VTime time;
    time.FromUTCTime(2026, 12, inDay, 10, 0, 0, 0);
    return time;
}

VFileAttributesCache::Map OneFile(const char* inPath)
{
    VFileAttributesCache::Map map;
    VString key;
    VFilePath(VString(inPath)).GetPath(key);
    map.emplace(key, VFileAttributesCache::Attributes{Day(1), Day(2), Day(3)});
    return map;
}

TEST(FileAttributesCache, LooksUpSwapsAndClears)
{
    VFileAttributesCache cache;
    const VFilePath known(VString("Root:data:a.txt"));
    EXPECT_FALSE(cache.FileExists(known));

    VFileAttributesCache::Map map = OneFile("Root:data:a.txt");
    cache.SwapMap(map);
    EXPECT_TRUE(map.empty()) << "the caller gets the cache's old map";
    EXPECT_TRUE(cache.FileExists(known));
    EXPECT_FALSE(cache.FileExists(VFilePath(VString("Root:data:b.txt"))));

    VTime modified;
    VTime accessed;
    ASSERT_TRUE(cache.GetTimeAttributes(known, &modified, nullptr, &accessed));
    EXPECT_EQ(modified, Day(1));
    EXPECT_EQ(accessed, Day(3));
    EXPECT_FALSE(cache.GetTimeAttributes(VFilePath(VString("Root:x")), &modified, nullptr, nullptr));

    cache.Clear();
    EXPECT_FALSE(cache.FileExists(known));
}

// Readers run while the map is replaced: each sees the old or the new map whole.
TEST(FileAttributesCache, ReadersAndSwapsRunTogether)
{
    VFileAttributesCache cache;
    const VFilePath known(VString("Root:data:a.txt"));
    std::atomic<bool> done = false;
    std::thread reader(
        [&]
        {
            while (!done)
            {
                VTime created;
                if (cache.GetTimeAttributes(known, nullptr, &created, nullptr))
                {
                    EXPECT_EQ(created, Day(2));
                }
            }
        });
    for (int round = 0; round < 200; ++round)
    {
        VFileAttributesCache::Map map =
            round % 2 == 0 ? OneFile("Root:data:a.txt") : VFileAttributesCache::Map();
        cache.SwapMap(map);
    }
    done = true;
    reader.join();
}

IFile* sExtracted = reinterpret_cast<IFile*>(0x10);

TEST(FileJSONHooks, DefaultsThenInstalledHooks)
{
    EXPECT_EQ(WrapFile(nullptr).GetType(), JSON_undefined);
    EXPECT_EQ(WrapFolder(nullptr).GetType(), JSON_undefined);
    EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), nullptr);
    EXPECT_EQ(ExtractFolder(VJSONValue(JSON_null)), nullptr);

    SetFileFolderExtractorAndWrapper([](const VJSONValue&) { return sExtracted; }, nullptr,
                                     [](IFile*) { return VJSONValue(VString("file")); }, nullptr);
    EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), sExtracted);
    EXPECT_EQ(WrapFile(nullptr).GetType(), JSON_string);
    EXPECT_EQ(WrapFolder(nullptr).GetType(), JSON_undefined);
    SetFileFolderExtractorAndWrapper(nullptr, nullptr, nullptr, nullptr);
}

} // namespace
