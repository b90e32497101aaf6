// The log4j file logger: which piece a start picks, the line of a record, the attribute list, and
// records travelling from the process logger into the file.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/process/LogTestSupport.h"
#include "toolbox/kernel/values/VLogRecord.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/process/VLog4jMsgFileLogger.h"

#include <gtest/gtest.h>

#include <regex>

using namespace zorn;
using namespace zorn::test;

namespace
{

class Log4jFileLoggerTest : public LoggingTest
{
protected:
    std::unique_ptr<VLog4jMsgFileLogger> NewFileLogger(const ScratchFolder& inScratch)
    {
        VRefPtr<VFolder> folder(inScratch.NewFolder(), true);
        return std::make_unique<VLog4jMsgFileLogger>(folder.Get(), VString("update"));
    }

    // The lines of a file, without their line feeds.
    static std::vector<std::string> Lines(const std::string& inText)
    {
        std::vector<std::string> lines;
        std::istringstream in(inText);
        for (std::string line; std::getline(in, line);)
        {
            lines.push_back(line);
        }
        return lines;
    }

    ScratchFolder fScratch;
};

TEST_F(Log4jFileLoggerTest, StartAppendsToTheLastPieceOfTheUnbrokenSeries)
{
    struct Case
    {
        const char* description;
        std::vector<int> existing;
        int expected;
    };
    const Case cases[] = {
        {"an empty folder starts piece 1", {}, 1},
        {"1 to 3 present: piece 3", {1, 2, 3}, 3},
        {"a gap ends the series", {1, 2, 5}, 2},
        {"no piece 1 (deleted by keeping): piece 1 again", {7, 8}, 1},
    };
    for (const Case& c : cases)
    {
        ScratchFolder scratch;
        for (int n : c.existing)
        {
            scratch.Write("update_" + std::to_string(n) + ".txt", "old\n");
        }
        auto logger = NewFileLogger(scratch);
        logger->Start();
        ASSERT_TRUE(logger->IsStarted()) << c.description;
        fLogging.fLogger.LogMessage(EML_Information, VString("hello"), VString());
        logger->Stop();
        EXPECT_FALSE(logger->IsStarted());
        std::vector<std::string> lines = Lines(scratch.Read("update_" + std::to_string(c.expected) + ".txt"));
        ASSERT_FALSE(lines.empty()) << c.description;
        EXPECT_TRUE(lines.back().ends_with("[Updater] INFO - hello ()"))
            << c.description << ": " << lines.back();
    }
}

TEST_F(Log4jFileLoggerTest, RecordsBecomeLog4jLines)
{
    auto logger = NewFileLogger(fScratch);
    EXPECT_EQ(logger->GetLogMaxNumberToKeep(), 0) << "not started";
    logger->Start();
    ASSERT_TRUE(logger->IsStarted());
    EXPECT_EQ(logger->GetLogMaxNumberToKeep(), 50);
    logger->SetLogMaxNumberToKeep(7);
    EXPECT_EQ(logger->GetLogMaxNumberToKeep(), 7);
    VString name;
    logger->GetLogName(name);
    EXPECT_EQ(to_string(name), "update");

    VLogger& process = fLogging.fLogger;
    process.WithDebug(true);
    process.LogMessage(EML_Error, VString("copy failed"), VString());
    process.LogMessage(EML_Debug, VString("dropped: debug is off in the file logger"), VString());
    process.LogMessage(EML_Warning, VString("two\nlines"), VString("engine"));
    process.Flush(); // a pause drops what is delivered meanwhile, pending records included
    logger->Pause();
    EXPECT_TRUE(logger->IsPaused());
    process.LogMessage(EML_Fatal, VString("dropped while paused"), VString());
    process.Flush();
    logger->Resume();
    process.LogMessage(EML_Information, VString("done"), VString());
    logger->Stop();

    // The warning's message keeps its line feed, so it takes two lines of the file.
    std::vector<std::string> lines = Lines(fScratch.Read("update_1.txt"));
    ASSERT_EQ(lines.size(), 4u) << fScratch.Read("update_1.txt");
    const std::regex form(R"(^(\d+) (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}) \[([^\]]*)\] ([A-Z]+) - (.*)$)");
    const struct
    {
        size_t line;
        const char* source;
        const char* level;
        const char* message;
    } expected[] = {
        {0, "Updater", "ERROR", "copy failed ()"},
        {1, "engine", "WARN", "two"},
        {3, "Updater", "INFO", "done ()"},
    };
    uint64_t last = 0;
    for (const auto& e : expected)
    {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[e.line], match, form)) << lines[e.line];
        EXPECT_EQ(match[3], e.source) << lines[e.line];
        EXPECT_EQ(match[4], e.level) << lines[e.line];
        EXPECT_EQ(match[5], e.message) << lines[e.line];
        EXPECT_GT(std::stoull(match[1]), last) << "sequences rise";
        last = std::stoull(match[1]);
    }
    EXPECT_EQ(lines[2], "lines ()");
}

TEST_F(Log4jFileLoggerTest, InfosFromRecords)
{
    constexpr uint32_t kSignature = 0x5A4F524E; // 'ZORN'
    struct Case
    {
        const char* description;
        std::function<void(VValueBag&)> fill;
        const char* source;
        int level;
        const char* message;
    };
    const Case cases[] = {
        {"nothing printed gives \" ()\"",
         [](VValueBag& r) { r.SetString(ILoggerBagKeys::message(), VString("m")); }, "Updater", 4, "m ()"},
        {"the code's high half names the component; its low half prefixes the message",
         [](VValueBag& r)
         {
             r.SetString(ILoggerBagKeys::source(), VString("engine"));
             r.SetLong8(ILoggerBagKeys::error_code(), (int64_t{kSignature} << 32) | 12);
             r.SetString(ILoggerBagKeys::message(), VString("m"));
         },
         "engine.ZORN", 4, "[12] m ()"},
        {"a component signature wins over the code's high half",
         [](VValueBag& r)
         {
             r.SetString(ILoggerBagKeys::source(), VString("s"));
             r.SetLong(ILoggerBagKeys::component_signature(), 0x41424344); // 'ABCD'
             r.SetLong8(ILoggerBagKeys::error_code(), (int64_t{kSignature} << 32) | 0xFFFFFFFF);
             r.SetLong(ILoggerBagKeys::level(), EML_Error);
         },
         "s.ABCD", 6, "[-1]  ()"},
        {"an empty source takes the component without a dot",
         [](VValueBag& r)
         {
             r.SetString(ILoggerBagKeys::source(), VString());
             r.SetLong(ILoggerBagKeys::component_signature(), static_cast<int32_t>(kSignature));
         },
         "ZORN", 4, " ()"},
        {"attributes in record order, unknown names as they are, time and sequence skipped",
         [](VValueBag& r)
         {
             r.SetTime(ILoggerBagKeys::time(), VTime(eInitWithCurrentTime));
             r.SetLong(ILoggerBagKeys::task_id(), 5);
             r.SetLong8(ILoggerBagKeys::sequence(), 9);
             r.SetLong(ILoggerBagKeys::ms_spent(), 20);
             r.SetLong(ILoggerBagKeys::elapsed_milliseconds(), 3);
             r.SetString(ILoggerBagKeys::message(), VString("m"));
         },
         "Updater", 4, "m (task=5, executionTime=20, elapsed_milliseconds=3)"},
        {"line feeds in values print as \" ; \"",
         [](VValueBag& r) { r.SetString(ILoggerBagKeys::stack_crawl(), VString("a\nb\n")); }, "Updater", 4,
         " (stackCrawl=a ; b ; )"},
    };
    for (const Case& c : cases)
    {
        VRefPtr<VValueBag> record(new VValueBag, true);
        c.fill(*record);
        VString source;
        VString message;
        EMessageLevel level = EML_Dump;
        VLog4jMsgFileLogger::GetLogInfosFromBag(record.Get(), source, level, message);
        EXPECT_EQ(to_string(source), c.source) << c.description;
        EXPECT_EQ(level, c.level) << c.description;
        EXPECT_EQ(to_string(message), c.message) << c.description;
    }
}

TEST_F(Log4jFileLoggerTest, LineTimesOfRecordsInAndAcrossSeconds)
{
    // The writer reuses the text of the last second: records in that second, the next one, back
    // in the earlier one, and far from now must each still show their own time.
    VTime base(eInitWithCurrentTime);
    base.AddMilliseconds(-(base.GetMilliseconds() % 1000));
    VTime yearAgo(base);
    yearAgo.AddDays(-365);
    const int64_t offsets[] = {0, 1, 999, 1000, 1999, 998, 2345};
    std::vector<VTime> times;
    for (int64_t offset : offsets)
    {
        VTime time(base);
        time.AddMilliseconds(offset);
        times.push_back(time);
    }
    times.push_back(yearAgo);
    times.push_back(base);

    auto logger = NewFileLogger(fScratch);
    logger->Start();
    std::vector<VRefPtr<VValueBag>> records;
    std::vector<const VValueBag*> batch;
    for (const VTime& time : times)
    {
        VRefPtr<VValueBag> record(new VValueBag(), true);
        record->SetString(ILoggerBagKeys::message(), VString("m"));
        record->SetTime(ILoggerBagKeys::time(), time);
        batch.push_back(record.Get());
        records.push_back(record);
    }
    logger->GetListener()->Put(batch);
    logger->Stop();

    std::vector<std::string> lines = Lines(fScratch.Read("update_1.txt"));
    ASSERT_EQ(lines.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i)
    {
        char expected[64];
        VLog4jMsgFileLogger::FormatLocalTime(times[i], expected);
        EXPECT_NE(lines[i].find(std::string(" ") + expected + " ["), std::string::npos)
            << "record " << i << ": " << lines[i];
    }
}

TEST_F(Log4jFileLoggerTest, ARecordOfAMessageIsWrittenAsItsBagWouldBe)
{
    // Records made from messages are written from their fields. Each row's record is written that
    // way into one file and as its bag into another: the lines must be the same bytes.
    const int64_t now = VLogRecord::NowMilliseconds();
    struct Case
    {
        const char* description;
        EMessageLevel level;
        const char16_t* source;
        const char16_t* message;
        int64_t time;
    };
    const Case cases[] = {
        {"info, plain text", EML_Information, u"Updater", u"Copying /a/b to staging", now},
        {"error, the level named", EML_Error, u"engine", u"copy failed", now + 1},
        {"warning, a millisecond before the next second", EML_Warning, u"s", u"m", now + 999},
        {"an empty source and message", EML_Warning, u"", u"", now - 1500},
        {"text outside ASCII in source and message", EML_Fatal, u"Mise \u00E0 jour",
         u"\u00C9chec \u65E5\U0001F600", now},
        {"a line feed stays in the message", EML_Information, u"Updater", u"two\nlines", now},
        {"a time far from now goes through the zone at its date", EML_Information, u"Updater", u"old",
         now - int64_t{400} * 86400000},
    };
    ScratchFolder fieldsFolder;
    ScratchFolder bagsFolder;
    auto fromFields = NewFileLogger(fieldsFolder);
    auto fromBags = NewFileLogger(bagsFolder);
    fromFields->Start();
    fromBags->Start();
    std::vector<VLogRecord> records(std::size(cases));
    std::vector<const VLogRecord*> batch;
    std::vector<const VValueBag*> bags;
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const Case& c = cases[i];
        records[i].SetFields(c.level, VString(reinterpret_cast<const UniChar*>(c.source)),
                             VString(reinterpret_cast<const UniChar*>(c.message)), c.time,
                             static_cast<int64_t>(100 + i));
        batch.push_back(&records[i]);
    }
    fromFields->GetListener()->PutRecords(batch);
    for (const VLogRecord* record : batch)
    {
        bags.push_back(record->GetBag());
    }
    fromBags->GetListener()->Put(bags);
    fromFields->Stop();
    fromBags->Stop();

    const std::string fields = fieldsFolder.Read("update_1.txt");
    const std::string expected = bagsFolder.Read("update_1.txt");
    EXPECT_EQ(Lines(fields).size(), std::size(cases) + 1) << "one line each, the line feed adds one";
    EXPECT_EQ(fields, expected);
    // The bag of a record holds the attributes LogMessage gives a record, in its order.
    const char* names[] = {"source", "level", "message", "time", "sequence"};
    const VValueBag* bag = records[1].GetBag();
    ASSERT_EQ(bag->GetAttributesCount(), 5);
    for (int32_t n = 1; n <= 5; ++n)
    {
        VString name;
        bag->GetNthAttribute(n, &name);
        EXPECT_EQ(to_string(name), names[n - 1]);
    }
    EXPECT_FALSE(records[0].GetBag()->AttributeExists(ILoggerBagKeys::level())) << "info carries no level";
}

TEST_F(Log4jFileLoggerTest, BagsAndMessagesInOneBatchKeepTheirOrder)
{
    // The process logger's batch mixes records filed as bags and records of messages; a bag-only
    // listener beside the file logger gets every record as a bag, in the same order.
    auto logger = NewFileLogger(fScratch);
    logger->Start();
    VRefPtr<KeepingListener> keeping(new KeepingListener, true);
    VLogger& process = fLogging.fLogger;
    ASSERT_TRUE(process.AddLogListener(keeping.Get()));
    process.LogMessage(EML_Information, VString("first"), VString());
    VRefPtr<VValueBag> bag(new VValueBag, true);
    bag->SetString(ILoggerBagKeys::message(), VString("second"));
    bag->SetLong(ILoggerBagKeys::task_id(), 5);
    process.LogBag(bag.Get());
    process.LogMessage(EML_Error, VString("third"), VString("engine"));
    logger->Stop();
    process.RemoveLogListener(keeping.Get());

    std::vector<std::string> lines = Lines(fScratch.Read("update_1.txt"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with("[Updater] INFO - first ()")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("[Updater] INFO - second (task=5)")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("[engine] ERROR - third ()")) << lines[2];
    std::vector<int64_t> sequences = keeping->Sequences();
    ASSERT_EQ(sequences.size(), 3u);
    for (size_t i = 0; i < lines.size(); ++i)
    {
        EXPECT_TRUE(lines[i].starts_with(std::to_string(sequences[i]) + " ")) << lines[i];
    }
}

TEST_F(Log4jFileLoggerTest, AZeroUnitInAMessageKeepsTheLineWhole)
{
    // A line used to go to the file as a C string, so a zero unit cut off the rest of the line and
    // its line feed, and the next record ran on in the same line.
    auto logger = NewFileLogger(fScratch);
    logger->Start();
    const UniChar units[] = {'a', 0, 'b'};
    fLogging.fLogger.LogMessage(EML_Information, VString(units, 3), VString());
    fLogging.fLogger.LogMessage(EML_Information, VString("next"), VString());
    logger->Stop();

    std::vector<std::string> lines = Lines(fScratch.Read("update_1.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(std::string("INFO - a\0b ()", 13))) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("INFO - next ()")) << lines[1];
}

TEST(Log4jFileLogger, LevelNames)
{
    const char* names[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "INFO"};
    for (int level = 0; level <= 8; ++level)
    {
        EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(level), names[level]) << level;
    }
    EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(100), "INFO");
}

TEST(Log4jFileLogger, LocalTimeMatchesTheDateTextForm)
{
    // Now (the cached zone offset) and a year ago (the zone at that date).
    VTime now(eInitWithCurrentTime);
    VTime yearAgo(now);
    yearAgo.AddDays(-365);
    for (const VTime& time : {now, yearAgo})
    {
        char text[64];
        VLog4jMsgFileLogger::FormatLocalTime(time, text);
        VString expected;
        time.GetRfc3339String(expected, VTime::eRfc3339_NoOffset);
        EXPECT_EQ(std::string(text), to_string(expected));
    }
}

} // namespace
