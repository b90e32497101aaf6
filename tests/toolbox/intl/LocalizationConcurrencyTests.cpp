#include "tests/toolbox/intl/LocalizationTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

constexpr int kKeys = 10;
constexpr int kReaders = 8;
constexpr int kGenerations = 60;

// One generation of the folder's texts: every key in every generation, so a reader must always
// find each of them.
std::string StringsOf(int inGeneration)
{
    std::string text;
    for (int key = 0; key < kKeys; ++key)
    {
        text += "\"k" + std::to_string(key) + "\" = \"g" + std::to_string(inGeneration) + "\";\n";
    }
    return text;
}

std::string XliffOf(int inGeneration)
{
    return XliffText("en", "<group resname=\"Toolbar\" restype=\"menu\"><trans-unit id=\"1\" resname=\"x" +
                               std::to_string(inGeneration) + "\"><source>t</source></trans-unit></group>");
}

// Eight tasks look texts and group bags up while the main task reloads the manager in a loop
// over a folder that a writer task keeps rewriting (each file replaced whole by a rename). A
// reload clears and refills the maps under the manager's lock, so no reader ever misses a key.
TEST_F(LocalizationTest, LookUpsWhileUpdating)
{
    WriteBytes("res/texts.strings", StringsOf(0));
    WriteBytes("res/texts.xlf", XliffOf(0));
    SetModificationTime("res/texts.xlf", 0);
    VRefPtr<VLocalizationManager> manager(new VLocalizationManager(1033), true);
    ASSERT_EQ(manager->ScanAndLoadFolder(Folder("res").Get(), false), VE_OK);

    std::atomic<bool> stop{false};
    std::atomic<bool> writerDone{false};
    std::atomic<int> failures{0};
    std::atomic<int64_t> lookUps{0};
    std::vector<VRefPtr<VTask>> tasks;
    for (int r = 0; r < kReaders; ++r)
    {
        tasks.emplace_back(
            new VTask(0, eTaskStylePreemptive,
                      [&]()
                      {
                          while (!stop.load())
                          {
                              for (int key = 0; key < kKeys; ++key)
                              {
                                  VString text;
                                  const std::string name = "k" + std::to_string(key);
                                  if (!manager->LocalizeStringWithKey(VString(name.c_str()), text) ||
                                      text.GetUniChar(1) != 'g')
                                  {
                                      ++failures;
                                  }
                              }
                              if (const VValueBag* bag = manager->RetainGroupBag(VString("Toolbar")))
                              {
                                  bag->Release();
                              }
                              std::vector<VRefPtr<const VValueBag>> bags;
                              manager->RetainGroupBagsByRestype(VString("menu"), bags);
                              ++lookUps;
                          }
                      }),
            true);
    }
    tasks.emplace_back(
        new VTask(0, eTaskStylePreemptive,
                  [&]()
                  {
                      for (int generation = 1; generation <= kGenerations; ++generation)
                      {
                          WriteBytes("res/strings.tmp", StringsOf(generation));
                          std::filesystem::rename(PathOf("res/strings.tmp"), PathOf("res/texts.strings"));
                          WriteBytes("res/xliff.tmp", XliffOf(generation));
                          SetModificationTime("res/xliff.tmp", generation);
                          std::filesystem::rename(PathOf("res/xliff.tmp"), PathOf("res/texts.xlf"));
                          if (generation % 10 == 0)
                          {
                              WriteBytes("res/extra" + std::to_string(generation) + ".xlf",
                                         XliffOf(generation));
                          }
                          std::this_thread::sleep_for(std::chrono::milliseconds(2));
                      }
                      writerDone.store(true);
                  }),
        true);
    for (VRefPtr<VTask>& task : tasks)
    {
        ASSERT_TRUE(task->Run());
    }

    int updates = 0;
    while (!writerDone.load())
    {
        updates += manager->UpdateIfNeeded() ? 1 : 0;
    }
    updates += manager->UpdateIfNeeded() ? 1 : 0;
    ASSERT_TRUE(WaitFor([&]() { return lookUps.load() >= 100; }));
    stop.store(true);
    for (VRefPtr<VTask>& task : tasks)
    {
        EXPECT_TRUE(task->WaitForDeath(10000));
    }

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(updates, 0);
    EXPECT_EQ(Lookup(*manager, "k0"), "g" + std::to_string(kGenerations)) << "the last generation is loaded";
}

} // namespace
