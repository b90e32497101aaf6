// The fault shim on a tiny program: a kill before a call leaves no trace of it, a kill after it
// leaves its effect, an errno fails just that call, and the counts of a whole run are written.
#include "tests/FakeProgramSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

struct ProbeRun
{
    int fStatus = -1;
    std::string fOutput;
};

// Runs the probe in inFolder with the shim preloaded and the given FAULTSHIM_* settings.
ProbeRun RunProbe(const std::string& inFolder, const std::vector<std::string>& inSettings)
{
    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::dup2(pipeEnds[1], 1);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        ::setenv("LD_PRELOAD", FAULTSHIM_LIBRARY, 1);
        ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        for (const std::string& setting : inSettings)
        {
            ::putenv(const_cast<char*>(setting.c_str()));
        }
        ::execl(FAULTSHIM_PROBE, FAULTSHIM_PROBE, inFolder.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    ProbeRun run;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof(buffer))) > 0;)
    {
        run.fOutput.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, &run.fStatus, 0);
    return run;
}

bool KilledBySigkill(int inStatus)
{
    return WIFSIGNALED(inStatus) && WTERMSIG(inStatus) == SIGKILL;
}

TEST(FaultShim, FiresAtTheChosenCall)
{
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fSettings;
        bool fKilled;
        std::string fOutput; // what the probe printed
        std::vector<const char*> fPresent;
        std::vector<const char*> fAbsent;
    };
    const std::vector<Row> rows = {
        {"no fault: the shim only counts",
         {},
         false,
         "mkdirat 0 0\nopenat 0 0\nopenat 0 0\ncopy_file_range 5 0\nrenameat2 0 0\nunlinkat 0 0\ndone\n",
         {"made", "source"},
         {"target", "renamed"}},
        {"kill before the first mkdirat: the folder is never made",
         {"FAULTSHIM_FUNCTION=mkdirat"},
         true,
         "",
         {},
         {"made"}},
        {"kill after the first mkdirat: the folder is there",
         {"FAULTSHIM_FUNCTION=mkdirat", "FAULTSHIM_WHEN=after"},
         true,
         "",
         {"made"},
         {"source"}},
        {"kill before the second openat: the first file only",
         {"FAULTSHIM_FUNCTION=openat", "FAULTSHIM_CALL=2"},
         true,
         "mkdirat 0 0\nopenat 0 0\n",
         {"source"},
         {"target"}},
        {"ENOSPC on the second openat: that call alone fails",
         {"FAULTSHIM_FUNCTION=openat", "FAULTSHIM_CALL=2", "FAULTSHIM_ACTION=ENOSPC"},
         false,
         "mkdirat 0 0\nopenat 0 0\nopenat -1 28\ncopy_file_range -1 9\nrenameat2 -1 2\nunlinkat -1 2\ndone\n",
         {"source"},
         {"target"}},
        {"EIO by number from copy_file_range",
         {"FAULTSHIM_FUNCTION=copy_file_range", "FAULTSHIM_ACTION=5"},
         false,
         "mkdirat 0 0\nopenat 0 0\nopenat 0 0\ncopy_file_range -1 5\nrenameat2 0 0\nunlinkat 0 0\ndone\n",
         {"source"},
         {"renamed"}},
        {"kill after renameat2: renamed, not yet removed",
         {"FAULTSHIM_FUNCTION=renameat2", "FAULTSHIM_WHEN=after"},
         true,
         "mkdirat 0 0\nopenat 0 0\nopenat 0 0\ncopy_file_range 5 0\n",
         {"renamed"},
         {"target"}},
        {"kill before unlinkat: the renamed file stays",
         {"FAULTSHIM_FUNCTION=unlinkat"},
         true,
         "mkdirat 0 0\nopenat 0 0\nopenat 0 0\ncopy_file_range 5 0\nrenameat2 0 0\n",
         {"renamed"},
         {}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const std::string folder = zorn::test::MakeTemporaryFolder();
        const ProbeRun run = RunProbe(folder, row.fSettings);
        EXPECT_EQ(KilledBySigkill(run.fStatus), row.fKilled);
        if (!row.fKilled)
        {
            EXPECT_TRUE(WIFEXITED(run.fStatus) && WEXITSTATUS(run.fStatus) == 0);
        }
        EXPECT_EQ(run.fOutput, row.fOutput);
        for (const char* name : row.fPresent)
        {
            EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << name;
        }
        for (const char* name : row.fAbsent)
        {
            EXPECT_FALSE(std::filesystem::exists(folder + "/" + name)) << name;
        }
        std::filesystem::remove_all(folder);
    }
}

TEST(FaultShim, WritesTheCountsOfAWholeRun)
{
    const std::string folder = zorn::test::MakeTemporaryFolder();
    const std::string counts = folder + "/counts";
    const std::string work = folder + "/work";
    std::filesystem::create_directory(work);
    // A fault far beyond the run's calls never fires; the counts cover the probe's own calls.
    const ProbeRun run = RunProbe(
        work, {"FAULTSHIM_FUNCTION=openat", "FAULTSHIM_CALL=1000", "FAULTSHIM_COUNT_FILE=" + counts});
    EXPECT_TRUE(WIFEXITED(run.fStatus) && WEXITSTATUS(run.fStatus) == 0);
    const std::string text = zorn::test::ReadWholeFile(counts);
    EXPECT_NE(text.find("mkdirat 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("copy_file_range 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("renameat2 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("unlinkat 1\n"), std::string::npos) << text;
    // openat counts include the runtime's own opens; the probe made two at least.
    EXPECT_NE(text.find("openat "), std::string::npos) << text;
    std::filesystem::remove_all(folder);
}

} // namespace
