// Splittable log files on real files: naming, opening, the roll at 10 MiB plus one byte and the
// pieces it keeps.
#include "tests/toolbox/process/LogTestSupport.h"
#include "toolbox/process/VSplitableLogFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

constexpr uintmax_t kLimit = 10485761; // 10 MiB plus one byte

class SplitableLogFileTest : public TaskManagerTest
{
protected:
    // A log file "log_<n>.txt" in the scratch folder.
    std::unique_ptr<VSplitableLogFile> NewLog(int32_t inNumber = 1)
    {
        VRefPtr<VFolder> folder(fScratch.NewFolder(), true);
        return std::make_unique<VSplitableLogFile>(folder.Get(), VString("log"), inNumber, false);
    }

    static std::string Name(int inNumber) { return "log_" + std::to_string(inNumber) + ".txt"; }

    ScratchFolder fScratch;
};

TEST_F(SplitableLogFileTest, NamesArePlainNumbered)
{
    VString name;
    VSplitableLogFile::BuildLogFileName(VString("update"), 10, name);
    EXPECT_EQ(to_string(name), "update_10.txt");
    VSplitableLogFile::BuildLogFileNameWithExt(VString("update"), 7, VString(".log"), name);
    EXPECT_EQ(to_string(name), "update_7.log");
    VSplitableLogFile::BuildLogFileNameWithExt(VString("update"), 7, VString(), name);
    EXPECT_EQ(to_string(name), "update_7.txt");

    auto log = NewLog(3);
    log->SetExtension(VString(".log"));
    log->GetCurrentFileName(name);
    EXPECT_EQ(to_string(name), "log_3.log");
    ASSERT_TRUE(log->Open(false, false));
    log->AppendString("x");
    log->Close();
    EXPECT_EQ(fScratch.Read("log_3.log"), "x");
}

TEST_F(SplitableLogFileTest, HeaderSeparatorAndFooterFrameEachOpening)
{
    auto log = NewLog();
    log->SetHeader(VString("<"));
    log->SetSeparator(VString("|"));
    log->SetFooter(VString(">"));
    ASSERT_TRUE(log->Open(false, false));
    log->AppendString(VString("a"));
    log->AppendString("b");
    log->AppendFormattedString("%d", 3);
    log->Close();
    ASSERT_TRUE(log->Open(false, false)) << "reopening appends";
    log->AppendString(VString("é"));
    log->Close();
    EXPECT_EQ(fScratch.Read(Name(1)), "<a|b|3><\xC3\xA9>");
}

TEST_F(SplitableLogFileTest, OpeningAppendsTruncatesOrSkipsToAFreeNumber)
{
    fScratch.Write(Name(1), "old");
    fScratch.Write(Name(3), "three");
    fScratch.Write(Name(4), "four");

    auto log = NewLog(1);
    ASSERT_TRUE(log->Open(false, false));
    log->AppendString("+new");
    log->Close();
    EXPECT_EQ(fScratch.Read(Name(1)), "old+new");

    ASSERT_TRUE(log->Open(1, true));
    log->AppendString("fresh");
    log->Close();
    EXPECT_EQ(fScratch.Read(Name(1)), "fresh");

    log->SetLogNumber(3, false);
    ASSERT_TRUE(log->Open(false, true));
    EXPECT_EQ(log->GetLogNumber(), 5) << "3 and 4 exist";
    log->Close();
}

TEST_F(SplitableLogFileTest, AnUnreadablePieceIsAppendedToNotEmptied)
{
    fScratch.Write(Name(1), "kept");
    ASSERT_EQ(::chmod(fScratch.File(Name(1)).c_str(), 0200), 0);
    auto log = NewLog();
    ASSERT_TRUE(log->Open(false, false));
    log->AppendString("+more");
    log->Close();
    ASSERT_EQ(::chmod(fScratch.File(Name(1)).c_str(), 0600), 0);
    EXPECT_EQ(fScratch.Read(Name(1)), "kept+more");
}

TEST_F(SplitableLogFileTest, AFailedOpenDropsAppends)
{
    VSplitableLogFile noFolder(nullptr, VString("log"), 1, false);
    EXPECT_FALSE(noFolder.Open(false, false));
    noFolder.AppendString("dropped");
    EXPECT_FALSE(noFolder.IsOpen());

    // The folder's place is taken by a file: it cannot be made, and nothing is reported.
    fScratch.Write("blocker", "");
    VRefPtr<VFolder> blocked(new VFolder(VString((fScratch.File("blocker") + "/").c_str()), FPS_POSIX), true);
    VSplitableLogFile log(blocked.Get(), VString("log"), 1, false);
    EXPECT_FALSE(log.Open(false, false));
    log.AppendString("dropped");
}

TEST_F(SplitableLogFileTest, RollsOnceThePieceHoldsTheLimit)
{
    // Exactly 10 MiB: one more append goes in; the piece then holds the limit and the next rolls.
    fScratch.MakeSized(Name(1), kLimit - 1);
    auto log = NewLog();
    ASSERT_TRUE(log->Open(false, false));
    EXPECT_EQ(log->CheckLogSize(), 0);
    log->AppendString("a");
    log->Flush();
    EXPECT_EQ(fScratch.Size(Name(1)), kLimit);
    EXPECT_FALSE(fScratch.Exists(Name(2)));
    log->AppendString("b");
    log->Close();
    EXPECT_EQ(fScratch.Size(Name(1)), kLimit);
    EXPECT_EQ(fScratch.Read(Name(2)), "b");

    // A full piece reopened for appending rolls on its first append (the append-mode position is
    // the end of the file).
    fScratch.MakeSized(Name(7), kLimit);
    fScratch.Write(Name(8), "stale");
    ASSERT_TRUE(log->Open(7, false));
    log->AppendString("c");
    log->Close();
    EXPECT_EQ(fScratch.Size(Name(7)), kLimit);
    EXPECT_EQ(fScratch.Read(Name(8)), "c") << "rolling into an existing piece empties it";

    // Filled by its own appends (the position is counted between asks), a piece still rolls on the
    // first append after it holds the limit, not one earlier or later.
    ASSERT_TRUE(log->Open(20, true));
    const std::string mebibyte(1 << 20, 'm');
    for (int index = 0; index < 10; ++index)
    {
        log->AppendString(mebibyte.c_str());
    }
    log->AppendFormattedString("%c", 'x');
    EXPECT_EQ(log->GetLogNumber(), 20);
    log->AppendString(VString("y"));
    log->Close();
    EXPECT_EQ(fScratch.Size(Name(20)), kLimit);
    EXPECT_EQ(fScratch.Read(Name(21)), "y");

    // The number is not padded: 10 follows 9.
    fScratch.MakeSized(Name(9), kLimit);
    ASSERT_TRUE(log->Open(9, false));
    EXPECT_EQ(log->CheckLogSize(), 10);
    VString name;
    log->GetCurrentFileName(name);
    EXPECT_EQ(to_string(name), "log_10.txt");
}

TEST_F(SplitableLogFileTest, EachRollDeletesThePieceBeyondTheNumberKept)
{
    struct Case
    {
        const char* description;
        int32_t keep;
        int32_t from;
        std::vector<int> gone;
        std::vector<int> kept;
    };
    const Case cases[] = {
        {"50 to 51 deletes piece 1", 50, 50, {1}, {2, 50, 51}},
        {"49 to 50 deletes nothing", 50, 49, {}, {1, 2, 49, 50}},
        {"keeping 0 keeps all", 0, 60, {}, {1, 2, 10, 60, 61}},
        {"keeping 3 from 10 deletes piece 8 only", 3, 10, {8}, {1, 2, 9, 10, 11}},
    };
    for (const Case& c : cases)
    {
        ScratchFolder scratch;
        for (int n : {1, 2, 8, 9, 10})
        {
            scratch.Write(Name(n), "x");
        }
        scratch.MakeSized(Name(c.from), kLimit);
        VRefPtr<VFolder> folder(scratch.NewFolder(), true);
        VSplitableLogFile log(folder.Get(), VString("log"), c.from, false);
        log.SetMaxLogsToKeep(c.keep);
        ASSERT_TRUE(log.Open(false, false)) << c.description;
        log.AppendString("next");
        log.Close();
        for (int n : c.gone)
        {
            EXPECT_FALSE(scratch.Exists(Name(n))) << c.description << ": " << n;
        }
        for (int n : c.kept)
        {
            EXPECT_TRUE(scratch.Exists(Name(n))) << c.description << ": " << n;
        }
        EXPECT_EQ(scratch.Read(Name(c.from + 1)), "next") << c.description;
    }
    EXPECT_EQ(VSplitableLogFile::sDefaultMaxLogsToKeep, 50);
}

} // namespace
