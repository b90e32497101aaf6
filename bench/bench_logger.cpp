// Log files of the updater's shape: one million records ("Copying <path> to staging" from the
// source "Updater" at level info), on 1 and 10 threads, pieces of 10 MiB, 50 pieces kept.
//
// Writing (synchronous): records built in the loop (the message text made for each, as the peers
// make theirs, into the record LogMessage files: fields, no bag) and handed in batches of 1,000 to
// the log4j file logger's listener, which formats each line, appends it to a VSplitableLogFile
// and flushes once per batch, against log4cxx's RollingFileAppender (size trigger, fixed window;
// writing each record, and buffered) and spdlog's rotating_file_sink_mt (stdio-buffered), each
// called with the message text.
// Producing (asynchronous): LogMessage on the process logger, its "Logger" task delivering to the
// file logger, against spdlog's async logger (queue 1000, overrun oldest) and log4cxx's
// AsyncAppender (buffer 1000, not blocking). The time is the producers' own; the records
// delivered and dropped are counted once everything is written.
//
// After every run the folder's lines, pieces and bytes are counted (reported as counters); a
// synchronous run that did not write every line fails. log4cxx's fixed window keeps at most 12
// pieces whatever is asked (its own limit), which the run's 13 or so pieces just exceed.
#include "bench/BenchRunTimes.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VLogRecord.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VLog4jMsgFileLogger.h"
#include "toolbox/process/VLogger.h"

#include <benchmark/benchmark.h>
#include <log4cxx/asyncappender.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/rolling/fixedwindowrollingpolicy.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/rolling/sizebasedtriggeringpolicy.h>
#include <spdlog/async.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;

namespace
{

constexpr int kRecords = 1000000;
constexpr int kBatch = 1000;
constexpr size_t kPieceSize = 10 * 1024 * 1024;
constexpr int kKeep = 50;

std::string Message(int inIndex)
{
    return "Copying /Applications/Example.app/Contents/Resources/item_" + std::to_string(inIndex) +
           ".bin to staging";
}

// A fresh folder, removed with its pieces.
class Folder
{
public:
    Folder()
    {
        char path[] = "/tmp/zorn-bench-log-XXXXXX";
        fPath = ::mkdtemp(path) != nullptr ? path : "";
    }
    ~Folder() { std::filesystem::remove_all(fPath); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const std::string& Path() const { return fPath; }

    // Lines, pieces and bytes written, as counters of the run.
    int64_t Report(benchmark::State& ioState) const
    {
        int64_t lines = 0;
        int64_t files = 0;
        int64_t bytes = 0;
        for (const auto& entry : std::filesystem::directory_iterator(fPath))
        {
            ++files;
            bytes += static_cast<int64_t>(entry.file_size());
            std::ifstream in(entry.path(), std::ios::binary);
            char buffer[1 << 16];
            while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0)
            {
                for (std::streamsize i = 0; i < in.gcount(); ++i)
                {
                    lines += buffer[i] == '\n' ? 1 : 0;
                }
            }
        }
        ioState.counters["lines"] = static_cast<double>(lines);
        ioState.counters["files"] = static_cast<double>(files);
        ioState.counters["MB"] = static_cast<double>(bytes) / 1e6;
        return lines;
    }

private:
    std::string fPath;
};

// Runs inWork(thread index, records of that thread) on inThreads threads; the wall time.
template <class Work>
double RunThreads(int inThreads, Work inWork)
{
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < inThreads; ++t)
    {
        threads.emplace_back(inWork, t, kRecords / inThreads);
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each of inThreads threads logs its share of the records with inLog(index of the message); the
// wall time.
template <class Log>
double LogOnThreads(int inThreads, Log inLog)
{
    return RunThreads(inThreads,
                      [&](int, int inCount)
                      {
                          for (int i = 0; i < inCount; ++i)
                          {
                              inLog(i % kBatch);
                          }
                      });
}

void CheckAllWritten(benchmark::State& ioState, int64_t inLines)
{
    if (inLines != kRecords)
    {
        ioState.SkipWithError("not every record was written");
    }
}

// ---- Ours ----

class BenchProcess : public IProcessServices
{
public:
    VIntlMgr* GetIntlMgr() const override { return nullptr; }
    ILogger* GetLogger() const override { return fLogger; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }
    VString GetLogSourceIdentifier() const override { return VString("Updater"); }

    ILogger* fLogger = nullptr;
};

// The task manager and a process, for the whole program.
BenchProcess& Process()
{
    static BenchProcess sProcess;
    static bool sStarted = []
    {
        IProcessServices::Set(&sProcess);
        return VTaskMgr::Get()->Init(&sProcess);
    }();
    (void)sStarted;
    return sProcess;
}

void BM_Write_Zorn(benchmark::State& ioState)
{
    const int threads = static_cast<int>(ioState.range(0));
    Process();
    for (auto _ : ioState)
    {
        Folder folder;
        int64_t lines = 0;
        {
            VRefPtr<VFolder> logFolder(new VFolder(VString((folder.Path() + "/").c_str()), FPS_POSIX), true);
            VLog4jMsgFileLogger fileLogger(logFolder.Get(), VString("update"));
            fileLogger.Start(1);
            fileLogger.SetLogMaxNumberToKeep(kKeep);
            // Each thread builds its records in the loop, as the peers build their messages, and
            // hands them over in batches, as the process logger's task does: the record LogMessage
            // files (source, message, time and sequence) in slots that keep their storage, as the
            // logger's ring does; the file is flushed once per batch.
            const VString source("Updater");
            double seconds = RunThreads(
                threads,
                [&](int, int inCount)
                {
                    std::vector<VLogRecord> slots(kBatch);
                    std::vector<const VLogRecord*> batch;
                    batch.reserve(kBatch);
                    for (int done = 0; done < inCount; done += kBatch)
                    {
                        for (int i = 0; i < kBatch && done + i < inCount; ++i)
                        {
                            VLogRecord& record = slots[static_cast<size_t>(i)];
                            record.SetFields(EML_Information, source, VString(Message(i).c_str()),
                                             VLogRecord::NowMilliseconds(), ILogger::GetSequenceNumber());
                            batch.push_back(&record);
                        }
                        fileLogger.GetListener()->PutRecords(batch);
                        batch.clear();
                    }
                });
            fileLogger.Stop();
            ioState.SetIterationTime(seconds);
        }
        lines = folder.Report(ioState);
        CheckAllWritten(ioState, lines);
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

void BM_Produce_Zorn(benchmark::State& ioState)
{
    const int threads = static_cast<int>(ioState.range(0));
    BenchProcess& process = Process();
    for (auto _ : ioState)
    {
        Folder folder;
        VLogger logger;
        logger.Start();
        process.fLogger = &logger;
        {
            VRefPtr<VFolder> logFolder(new VFolder(VString((folder.Path() + "/").c_str()), FPS_POSIX), true);
            VLog4jMsgFileLogger fileLogger(logFolder.Get(), VString("update"));
            fileLogger.Start(1);
            const VString source("Updater");
            std::vector<VString> messages;
            for (int i = 0; i < kBatch; ++i)
            {
                messages.emplace_back(Message(i).c_str());
            }
            double seconds = RunThreads(
                threads,
                [&](int, int inCount)
                {
                    for (int i = 0; i < inCount; ++i)
                    {
                        logger.LogMessage(EML_Information, messages[static_cast<size_t>(i % kBatch)], source);
                    }
                });
            ioState.SetIterationTime(seconds);
            fileLogger.Stop(); // delivers what is pending
        }
        logger.Stop();
        process.fLogger = nullptr;
        const int64_t delivered = folder.Report(ioState);
        ioState.counters["delivered"] = static_cast<double>(delivered);
        ioState.counters["dropped"] = static_cast<double>(logger.GetDroppedCount());
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

// ---- spdlog ----

const char* kSpdPattern = "%Y-%m-%dT%H:%M:%S.%e [%n] %l - %v";

void BM_Write_Spdlog(benchmark::State& ioState)
{
    const int threads = static_cast<int>(ioState.range(0));
    for (auto _ : ioState)
    {
        Folder folder;
        {
            auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(folder.Path() + "/update.txt",
                                                                               kPieceSize, kKeep);
            auto logger = std::make_shared<spdlog::logger>("Updater", sink);
            logger->set_pattern(kSpdPattern);
            double seconds = LogOnThreads(threads, [&](int inIndex) { logger->info(Message(inIndex)); });
            logger->flush();
            ioState.SetIterationTime(seconds);
        }
        CheckAllWritten(ioState, folder.Report(ioState));
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

void BM_Produce_Spdlog(benchmark::State& ioState)
{
    const int threads = static_cast<int>(ioState.range(0));
    for (auto _ : ioState)
    {
        Folder folder;
        size_t dropped = 0;
        {
            auto pool = std::make_shared<spdlog::details::thread_pool>(1000, 1);
            auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(folder.Path() + "/update.txt",
                                                                               kPieceSize, kKeep);
            auto logger = std::make_shared<spdlog::async_logger>(
                "Updater", sink, pool, spdlog::async_overflow_policy::overrun_oldest);
            logger->set_pattern(kSpdPattern);
            double seconds = LogOnThreads(threads, [&](int inIndex) { logger->info(Message(inIndex)); });
            ioState.SetIterationTime(seconds);
            logger.reset();
            dropped = pool->overrun_counter();
            pool.reset(); // joins its thread once the queue is written
        }
        ioState.counters["delivered"] = static_cast<double>(folder.Report(ioState));
        ioState.counters["dropped"] = static_cast<double>(dropped);
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

// ---- log4cxx ----

log4cxx::AppenderPtr NewRollingAppender(const std::string& inFolder, bool inBuffered = false)
{
    using namespace log4cxx;
    auto layout =
        std::make_shared<PatternLayout>(LOG4CXX_STR("%d{yyyy-MM-dd'T'HH:mm:ss.SSS} [%c] %p - %m%n"));
    auto policy = std::make_shared<rolling::FixedWindowRollingPolicy>();
    policy->setMinIndex(1);
    policy->setMaxIndex(kKeep);
    policy->setFileNamePattern(inFolder + "/update_%i.txt");
    auto trigger = std::make_shared<rolling::SizeBasedTriggeringPolicy>();
    trigger->setMaxFileSize(kPieceSize);
    auto appender = std::make_shared<rolling::RollingFileAppender>();
    appender->setLayout(layout);
    appender->setRollingPolicy(policy);
    appender->setTriggeringPolicy(trigger);
    appender->setFile(inFolder + "/update.txt");
    appender->setAppend(true);
    // Buffered: written when its buffer (8 KiB) fills, not once per record.
    appender->setBufferedIO(inBuffered);
    helpers::Pool pool;
    appender->activateOptions(pool);
    return appender;
}

log4cxx::LoggerPtr UpdaterLogger(const log4cxx::AppenderPtr& inAppender)
{
    log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("Updater");
    logger->removeAllAppenders();
    logger->setAdditivity(false);
    logger->setLevel(log4cxx::Level::getInfo());
    logger->addAppender(inAppender);
    return logger;
}

void WriteLog4cxx(benchmark::State& ioState, bool inBuffered)
{
    const int threads = static_cast<int>(ioState.range(0));
    for (auto _ : ioState)
    {
        Folder folder;
        {
            log4cxx::AppenderPtr appender = NewRollingAppender(folder.Path(), inBuffered);
            log4cxx::LoggerPtr logger = UpdaterLogger(appender);
            double seconds =
                LogOnThreads(threads, [&](int inIndex) { LOG4CXX_INFO(logger, Message(inIndex)); });
            ioState.SetIterationTime(seconds);
            logger->removeAllAppenders();
            appender->close();
        }
        // The fixed window keeps 12 pieces at most: the lines of older pieces are gone.
        folder.Report(ioState);
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

void BM_Write_Log4cxx(benchmark::State& ioState)
{
    WriteLog4cxx(ioState, false);
}

void BM_Write_Log4cxxBuffered(benchmark::State& ioState)
{
    WriteLog4cxx(ioState, true);
}

void BM_Produce_Log4cxx(benchmark::State& ioState)
{
    const int threads = static_cast<int>(ioState.range(0));
    for (auto _ : ioState)
    {
        Folder folder;
        {
            auto async = std::make_shared<log4cxx::AsyncAppender>();
            async->setBufferSize(1000);
            async->setBlocking(false);
            async->addAppender(NewRollingAppender(folder.Path()));
            log4cxx::helpers::Pool pool;
            async->activateOptions(pool);
            log4cxx::LoggerPtr logger = UpdaterLogger(async);
            double seconds =
                LogOnThreads(threads, [&](int inIndex) { LOG4CXX_INFO(logger, Message(inIndex)); });
            ioState.SetIterationTime(seconds);
            logger->removeAllAppenders();
            async->close(); // writes what the buffer holds, and a summary line of what it discarded
        }
        const int64_t delivered = folder.Report(ioState);
        ioState.counters["delivered"] = static_cast<double>(delivered);
        ioState.counters["dropped"] = static_cast<double>(kRecords - delivered);
    }
    ioState.SetItemsProcessed(int64_t{kRecords} * ioState.iterations());
}

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nRecord rate relative to the peer (above 1: ours is faster):\n");
    for (const char* threads : {"1", "10"})
    {
        const std::string suffix = std::string("/") + threads + "/iterations:1/manual_time";
        for (const char* peer : {"Log4cxx", "Log4cxxBuffered", "Spdlog"})
        {
            for (const char* kind : {"Write", "Produce"})
            {
                const std::string label = std::string(kind) + " vs " + peer + ", " + threads + " thread(s)";
                bench::PrintSpeed(inTimes, label.c_str(),
                                  (std::string("BM_") + kind + "_Zorn" + suffix).c_str(),
                                  (std::string("BM_") + kind + "_" + peer + suffix).c_str());
            }
        }
    }
}

} // namespace

BENCHMARK(BM_Write_Zorn)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Log4cxx)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Log4cxxBuffered)
    ->Arg(1)
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Spdlog)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Produce_Zorn)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Produce_Log4cxx)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Produce_Spdlog)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
