// The updater's command line in-process: which engine fields each accepted command line fills,
// and how the bundle options and the positional bundles are reconciled.
#include "toolbox/process/VCommandLineParser.h"
#include "updater/VUpdateEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorn
{
namespace
{

class TestEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::DoParseCommandLine;
    using VUpdateEngine::fCallerPid;
    using VUpdateEngine::fClientInfoFile;
    using VUpdateEngine::fInstallLocation;
    using VUpdateEngine::fLogFolder;
    using VUpdateEngine::fOutdatedBundle;
    using VUpdateEngine::fReportToCaller;
    using VUpdateEngine::fRestartHeadless;
    using VUpdateEngine::fRestartParametersFile;
    using VUpdateEngine::fSilent;
    using VUpdateEngine::fUpToDateBundle;

    // The process start-up without the IPC part's own parse of the (empty) command line: the
    // international manager, so that text comparisons run as in the program.
    bool StartToolbox() { return VProcess::Init(0); }
};

// A path as POSIX text; "-" for an invalid one.
std::string Posix(const VFilePath& inPath)
{
    if (!inPath.IsValid())
    {
        return "-";
    }
    VString text;
    inPath.GetPosixPath(text);
    return to_string(text);
}

struct Parsed
{
    int32_t fResult = -1;
    std::string fOut;
    std::string fErr;
};

// Parses inArguments (after the program path) with inEngine's command line, capturing what the
// parse prints.
Parsed Parse(TestEngine& inEngine, const std::vector<std::string>& inArguments)
{
    std::vector<VString> arguments{VString("/opt/Updater.app/Contents/MacOS/updater")};
    for (const std::string& argument : inArguments)
    {
        arguments.emplace_back(argument.c_str());
    }
    VCommandLineParser parser(arguments);
    VCommandLineParser::Streams streams;
    parser.SetStreamsForTesting(&streams);
    Parsed parsed;
    parsed.fResult = inEngine.DoParseCommandLine(parser);
    parsed.fOut = streams.fOutput;
    parsed.fErr = streams.fError;
    return parsed;
}

TEST(UpdaterCommandLine, AcceptedCommandLinesFillTheFields)
{
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        std::string fOutdated;
        std::string fUpToDate;
        std::string fLogFolder;  // "-": invalid
        std::string fClientInfo; // "-": not given
        std::string fRestartParameters;
        int32_t fPid;
        bool fReport;
        bool fSilent;
        bool fHeadless;
    } rows[] = {
        {"two positionals alone: folder paths with a trailing slash",
         {"/x/Old.app", "/x/New.app"},
         "/x/Old.app/",
         "/x/New.app/",
         "-",
         "-",
         "-",
         -1,
         false,
         false,
         false},
        {"the bundle options alone; a trailing slash is not doubled",
         {"--outdated-app=/x/Old.app/", "--uptodate-app", "/x/New.app"},
         "/x/Old.app/",
         "/x/New.app/",
         "-",
         "-",
         "-",
         -1,
         false,
         false,
         false},
        {"an option equal to its positional is accepted",
         {"--outdated-app=/x/A.app", "--uptodate-app=/x/B.app", "/x/A.app", "/x/B.app"},
         "/x/A.app/",
         "/x/B.app/",
         "-",
         "-",
         "-",
         -1,
         false,
         false,
         false},
        {"one bundle by option, the other by the second positional",
         {"--outdated-app=/x/A.app", "/x/A.app", "/x/B.app"},
         "/x/A.app/",
         "/x/B.app/",
         "-",
         "-",
         "-",
         -1,
         false,
         false,
         false},
        {"every option",
         {"--pid=4242", "--silent", "--restart-headless", "--log-dir=/var/log/zq",
          "--client-info=/etc/client.json", "--restart-params=/tmp/params.Zqlink", "--caller-log=yes",
          "--install-path=/elsewhere/App.app", "/x/Old.app", "/x/New.app"},
         "/x/Old.app/",
         "/x/New.app/",
         "/var/log/zq/",
         "/etc/client.json",
         "/tmp/params.Zqlink",
         4242,
         true,
         true,
         true},
        {"a negative pid is a number like any other",
         {"--pid=-7", "/x/Old.app", "/x/New.app"},
         "/x/Old.app/",
         "/x/New.app/",
         "-",
         "-",
         "-",
         -7,
         false,
         false,
         false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        TestEngine engine;
        ASSERT_TRUE(engine.StartToolbox());
        // Left over from an earlier parse: the parse resets them.
        engine.fCallerPid = 99;
        engine.fSilent = true;
        engine.fRestartHeadless = true;
        const Parsed parsed = Parse(engine, row.fArguments);
        ASSERT_EQ(parsed.fResult, 0) << parsed.fErr;
        EXPECT_EQ(parsed.fOut, "");
        EXPECT_EQ(parsed.fErr, "");
        EXPECT_EQ(Posix(engine.fOutdatedBundle), row.fOutdated);
        EXPECT_EQ(Posix(engine.fUpToDateBundle), row.fUpToDate);
        EXPECT_EQ(Posix(engine.fInstallLocation), row.fOutdated) << "always the outdated bundle";
        EXPECT_EQ(Posix(engine.fLogFolder), row.fLogFolder);
        EXPECT_EQ(Posix(engine.fClientInfoFile), row.fClientInfo);
        EXPECT_EQ(Posix(engine.fRestartParametersFile), row.fRestartParameters);
        EXPECT_EQ(engine.fCallerPid, row.fPid);
        EXPECT_EQ(engine.fReportToCaller, row.fReport);
        EXPECT_EQ(engine.fSilent, row.fSilent);
        EXPECT_EQ(engine.fRestartHeadless, row.fHeadless);
    }
}

// Refused command lines: the result, the exact lines, and no bundle field filled.
TEST(UpdaterCommandLine, MismatchedBundlesAreRefused)
{
    const std::string outdated = "mismatched value for option --outdated-app\n\n";
    const std::string upToDate = "mismatched value for option --uptodate-app\n\n";
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        std::string fErr;
    } rows[] = {
        {"names differing only in case are different bundles",
         {"--outdated-app=/x/A.app", "/x/a.app", "/x/B.app"},
         outdated},
        {"an up-to-date option contradicting the second positional",
         {"--uptodate-app=/x/B.app", "/x/A.app", "/x/b.app"},
         upToDate},
        {"both contradicted: both lines, the outdated one first",
         {"--outdated-app=/x/A.app", "--uptodate-app=/x/B.app", "/x/C.app", "/x/D.app"},
         outdated + upToDate},
        {"a trailing slash makes another text",
         {"--outdated-app=/x/A.app/", "/x/A.app", "/x/B.app"},
         outdated},
        {"empty positionals leave both bundles missing", {"", ""}, upToDate + outdated},
        {"only the up-to-date option", {"--uptodate-app=/x/B.app"}, outdated},
        {"an empty option value counts as missing", {"--outdated-app=", "--uptodate-app=/x/B.app"}, outdated},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        TestEngine engine;
        ASSERT_TRUE(engine.StartToolbox());
        const Parsed parsed = Parse(engine, row.fArguments);
        EXPECT_EQ(parsed.fResult, 1);
        EXPECT_EQ(parsed.fOut, "");
        EXPECT_EQ(parsed.fErr, row.fErr);
        EXPECT_FALSE(engine.fOutdatedBundle.IsValid());
        EXPECT_FALSE(engine.fUpToDateBundle.IsValid());
        EXPECT_FALSE(engine.fInstallLocation.IsValid());
    }
}

TEST(UpdaterCommandLine, FixFolderPathSpec)
{
    struct Row
    {
        const char* fWhat;
        const char* fText;
        std::string fExpected; // "-": invalid
    } rows[] = {
        {"a slash is added", "/x/A.app", "/x/A.app/"},
        {"an existing slash is kept, not doubled", "/x/A.app/", "/x/A.app/"},
        {"the root stays the root", "/", "/"},
        {"an empty text clears the path", "", "-"},
        {"a relative text is no full path", "x/A.app", "-"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        VFilePath path(VString("/before/"), FPS_POSIX);
        VUpdateEngine::FixFolderPathSpec(VString(row.fText), FPS_POSIX, path);
        EXPECT_EQ(Posix(path), row.fExpected);
        if (path.IsValid())
        {
            EXPECT_TRUE(path.IsFolder());
        }
    }
}

} // namespace
} // namespace zorn
