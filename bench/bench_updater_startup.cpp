// The updater's start-up as its caller sees it: from the spawn of Updater.app (silent, a log
// folder, two missing bundles, so that it fails at once after logging) to its first log line on
// disk, and to its exit. The floor is a bare program that opens a file in the folder, writes one
// line of the same format and exits. The first line is seen through inotify on the log folder (the
// first write to a file there), so the time does not depend on polling.
//
// Prints the updater's times over the floor's at the end; the aim is the first line within 20 ms.
#include "bench/BenchRunTimes.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace
{

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Times
{
    double fFirstLine = 0; // seconds
    double fExit = 0;
    bool fOK = false;
};

// Spawns the program with the arguments, the log folder watched, and times the first write into
// that folder and the exit.
Times SpawnAndTime(const std::string& inProgram, const std::vector<std::string>& inArguments,
                   const std::string& inLogs)
{
    Times times;
    fs::remove_all(inLogs);
    fs::create_directories(inLogs);
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || ::inotify_add_watch(watch, inLogs.c_str(), IN_MODIFY) < 0)
    {
        return times;
    }
    std::vector<char*> argv{const_cast<char*>(inProgram.c_str())};
    for (const std::string& argument : inArguments)
    {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, inProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
    {
        ::close(watch);
        return times;
    }
    bool seen = false;
    int status = 0;
    bool exited = false;
    while (!exited)
    {
        pollfd poller{watch, POLLIN, 0};
        if (!seen && ::poll(&poller, 1, 1) > 0)
        {
            char buffer[4096];
            if (::read(watch, buffer, sizeof(buffer)) > 0)
            {
                seen = true;
                times.fFirstLine = std::chrono::duration<double>(Clock::now() - start).count();
            }
        }
        exited = ::waitpid(pid, &status, seen ? 0 : WNOHANG) == pid;
    }
    times.fExit = std::chrono::duration<double>(Clock::now() - start).count();
    if (!seen)
    {
        // Written just before the exit, between two looks.
        char buffer[4096];
        seen = ::read(watch, buffer, sizeof(buffer)) > 0;
        times.fFirstLine = times.fExit;
    }
    ::close(watch);
    times.fOK = seen;
    return times;
}

std::string Scratch()
{
    static const std::string folder = []
    {
        std::string pattern = (fs::temp_directory_path() / "zorn-bench-startup-XXXXXX").string();
        return std::string(::mkdtemp(pattern.data()));
    }();
    return folder;
}

void Report(benchmark::State& ioState, const Times& inTimes, double& ioExitTotal)
{
    if (!inTimes.fOK)
    {
        ioState.SkipWithError("no log line was written");
        return;
    }
    ioState.SetIterationTime(inTimes.fFirstLine);
    ioExitTotal += inTimes.fExit;
}

void BM_Updater_FirstLine(benchmark::State& ioState)
{
    const std::string logs = Scratch() + "/logs";
    const std::vector<std::string> arguments{"--silent", "--log-dir=" + logs, Scratch() + "/Missing.app",
                                             Scratch() + "/Missing2.app"};
    double exitTotal = 0;
    for (auto _ : ioState)
    {
        Report(ioState, SpawnAndTime(UPDATER_PROGRAM, arguments, logs), exitTotal);
    }
    ioState.counters["exit_ms"] =
        benchmark::Counter(exitTotal * 1000 / static_cast<double>(ioState.iterations()));
}
BENCHMARK(BM_Updater_FirstLine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_Floor_FirstLine(benchmark::State& ioState)
{
    const std::string logs = Scratch() + "/floor-logs";
    double exitTotal = 0;
    for (auto _ : ioState)
    {
        Report(ioState, SpawnAndTime(FLOOR_PROGRAM, {logs}, logs), exitTotal);
    }
    ioState.counters["exit_ms"] =
        benchmark::Counter(exitTotal * 1000 / static_cast<double>(ioState.iterations()));
}
BENCHMARK(BM_Floor_FirstLine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void PrintRatios(const zorn::bench::BenchRunTimes& inTimes)
{
    const double updater = inTimes.Find("BM_Updater_FirstLine/iterations:20/manual_time");
    const double floor = inTimes.Find("BM_Floor_FirstLine/iterations:20/manual_time");
    std::printf("\nSpawn to the first log line (aim: 20 ms):\n");
    std::printf("  updater %.2f ms, floor %.2f ms, updater / floor %.1f\n", updater, floor,
                floor > 0 ? updater / floor : -1.0);
    std::error_code ignored;
    fs::remove_all(Scratch(), ignored);
}

} // namespace

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(argc, argv, PrintRatios);
}
