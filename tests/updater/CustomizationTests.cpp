// The client customization of an up-to-date bundle, driven in-process on a test engine whose
// fields are set directly: the link file written from the client-information file, the errors
// that stop the update, and the execute bits of the bundle's executable.
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "updater/UpdaterErrors.h"
#include "updater/VUpdateEngine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zorn
{
namespace
{

namespace fs = std::filesystem;

class TestEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::_FinishClientCustomization;
    using VUpdateEngine::_LogProgressToCaller;
    using VUpdateEngine::fClientInfoFile;
    using VUpdateEngine::fReportToCaller;
    using VUpdateEngine::fUpToDateBundle;
};

std::string ReadFile(const std::string& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// The link file's expected line for these attribute texts (already escaped).
std::string LinkLine(const std::string& inName, const std::string& inPath, const std::string& inCache)
{
    return kDeclaration + "<database_shortcut is_remote=\"true\" server_database_name=\"" + inName +
           "\" server_path=\"" + inPath + "\" cache_folder_name=\"" + inCache +
           "\" remote_shared_resources=\"false\"/>";
}

struct Outcome
{
    bool fResult = false;
    std::vector<VError> fErrors; // oldest first
};

// One engine (a started process) for the whole program; each test gets a fresh bundle
// Client.app whose Info.plist names the executable "client" (mode 0755) in Contents/MacOS.
class ClientCustomization : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sEngine = new TestEngine();
        ASSERT_TRUE(sEngine->VProcess::Init(0));
    }
    static void TearDownTestSuite()
    {
        delete sEngine;
        sEngine = nullptr;
    }

    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zorn-custom-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        fFolder = pattern;
        fBundle = fFolder + "/Client.app";
        fs::create_directories(fBundle + "/Contents/MacOS");
        WriteInfo("client");
        fExecutable = fBundle + "/Contents/MacOS/client";
        std::ofstream(fExecutable) << "#!/bin/sh\n";
        ::chmod(fExecutable.c_str(), 0755);
        fInfoFile = fFolder + "/client-info.json";
        sEngine->fClientInfoFile = VFilePath(VString(fInfoFile.c_str()), FPS_POSIX);
        sEngine->fUpToDateBundle = VFilePath(VString((fBundle + "/").c_str()), FPS_POSIX);
        sEngine->fReportToCaller = false;
    }
    void TearDown() override { fs::remove_all(fFolder); }

    void WriteInfo(const std::string& inExecutable)
    {
        std::ofstream(fBundle + "/Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            << "<key>CFBundleExecutable</key><string>" << inExecutable << "</string></dict></plist>\n";
    }

    // Writes inJSON as the client-information file (nullopt: no file) and customizes the bundle.
    Outcome Customize(const std::optional<std::string>& inJSON)
    {
        if (inJSON)
        {
            std::ofstream(fInfoFile, std::ios::binary) << *inJSON;
        }
        StErrorContextInstaller context(false);
        Outcome outcome;
        outcome.fResult = sEngine->_FinishClientCustomization();
        for (const VErrorBase* error : context.GetContext()->GetErrorList())
        {
            outcome.fErrors.push_back(error->GetError());
        }
        return outcome;
    }

    std::string LinkFile() const { return fBundle + "/Contents/Database/EnginedServer.Zqlink"; }

    // Everything in the bundle's Database folder, by name.
    std::vector<std::string> DatabaseItems() const
    {
        std::vector<std::string> names;
        if (fs::exists(fBundle + "/Contents/Database"))
        {
            for (const auto& entry : fs::directory_iterator(fBundle + "/Contents/Database"))
            {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    static TestEngine* sEngine;
    std::string fFolder;
    std::string fBundle;
    std::string fExecutable;
    std::string fInfoFile;
};

TestEngine* ClientCustomization::sEngine = nullptr;

TEST_F(ClientCustomization, LinkFileMatchesTheGoldenFile)
{
    const Outcome outcome = Customize(R"({"ServerPlatform": "Mac", "BuildIPAdress": "10.0.0.5",
                                         "BuildIPPort": "19813", "PublishName": "Sales"})");
    EXPECT_TRUE(outcome.fResult);
    EXPECT_TRUE(outcome.fErrors.empty());
    EXPECT_EQ(ReadFile(LinkFile()), ReadFile(ZORN_UPDATER_GOLDEN "/EnginedServer.Zqlink"));
    EXPECT_EQ(DatabaseItems(), std::vector<std::string>{"EnginedServer.Zqlink"}) << "no sibling left";
}

// What the information file's values give in the link file.
TEST_F(ClientCustomization, LinkFileAttributes)
{
    struct Row
    {
        const char* fWhat;
        const char* fJSON;
        std::optional<std::string> fLine; // nullopt: no link file (and no Database folder)
    };
    const Row rows[] = {
        {"no address: nothing written", R"({"ServerPlatform": "Mac", "PublishName": "Sales"})", std::nullopt},
        {"an address that is a number counts as none", R"({"ServerPlatform": "Mac", "BuildIPAdress": 10})",
         std::nullopt},
        {"a numeric port is left out; the cache name is written",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "srv", "BuildIPPort": 19813,
             "BuildCacheFolderNameClient": "cache"})",
         LinkLine("", "srv", "cache")},
        {"the five XML escapes",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "a&b", "PublishName": "&<>\"'"})",
         LinkLine("&amp;&lt;&gt;&quot;&apos;", "a&amp;b", "")},
        {"tab, LF and CR as character references",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "h", "PublishName": "a\tb\nc\rd"})",
         LinkLine("a&#x9;b&#xA;c&#xD;d", "h", "")},
        {"other characters as UTF-8, no mark",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "h", "PublishName": "Caf\u00e9 \ud83d\ude00"})",
         LinkLine("Caf\xc3\xa9 \xf0\x9f\x98\x80", "h", "")},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        fs::remove_all(fBundle + "/Contents/Database");
        const Outcome outcome = Customize(row.fJSON);
        EXPECT_TRUE(outcome.fResult);
        EXPECT_TRUE(outcome.fErrors.empty());
        if (row.fLine)
        {
            EXPECT_EQ(ReadFile(LinkFile()), *row.fLine);
        }
        else
        {
            EXPECT_FALSE(fs::exists(fBundle + "/Contents/Database"));
        }
    }
}

// Client information that stops the update: the updater's error last, nothing written, the
// executable left as it was.
TEST_F(ClientCustomization, BadClientInformationStopsTheUpdate)
{
    struct Row
    {
        const char* fWhat;
        std::optional<std::string> fJSON; // nullopt: no file
        bool fLoadError;                  // the reader's own error comes first
    };
    const Row rows[] = {
        {"no file", std::nullopt, true},
        {"not JSON", R"({"ServerPlatform": )", true},
        {"an object cut short after a whole platform",
         R"({"ServerPlatform": "x", "BuildIPAdress": "h", "Pub)", true},
        {"not an object", R"(["ServerPlatform", "Mac"])", false},
        {"no platform", R"({"BuildIPAdress": "10.0.0.5"})", false},
        {"a numeric platform", R"({"ServerPlatform": 3, "BuildIPAdress": "10.0.0.5"})", false},
        {"a control character in the address",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "10.0.0.5\u0001"})", false},
        {"a NUL in the name", R"({"ServerPlatform": "Mac", "BuildIPAdress": "h", "PublishName": "a\u0000"})",
         false},
        {"U+FFFE in the port", R"({"ServerPlatform": "Mac", "BuildIPAdress": "h", "BuildIPPort": "\ufffe"})",
         false},
        {"a lone surrogate in the cache name",
         R"({"ServerPlatform": "Mac", "BuildIPAdress": "h", "BuildCacheFolderNameClient": "\ud800x"})",
         false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        fs::remove(fInfoFile);
        ::chmod(fExecutable.c_str(), 0644);
        const Outcome outcome = Customize(row.fJSON);
        EXPECT_FALSE(outcome.fResult);
        ASSERT_FALSE(outcome.fErrors.empty());
        EXPECT_EQ(outcome.fErrors.back(), VE_UPDATER_BAD_CLIENT_INFO);
        if (row.fLoadError)
        {
            EXPECT_NE(outcome.fErrors.front(), VE_UPDATER_BAD_CLIENT_INFO);
        }
        EXPECT_FALSE(fs::exists(fBundle + "/Contents/Database"));
        struct stat status = {};
        ASSERT_EQ(::stat(fExecutable.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0644u);
    }
}

// A failed write leaves no file, nor a temporary sibling, and its error stops the update.
TEST_F(ClientCustomization, FailedWriteLeavesNothingAndStops)
{
    fs::create_directories(LinkFile()); // a folder where the file goes
    const Outcome outcome =
        Customize(R"({"ServerPlatform": "Mac", "BuildIPAdress": "10.0.0.5", "PublishName": "Sales"})");
    EXPECT_FALSE(outcome.fResult);
    EXPECT_FALSE(outcome.fErrors.empty());
    EXPECT_TRUE(fs::is_directory(LinkFile()));
    EXPECT_TRUE(fs::is_empty(LinkFile()));
    EXPECT_EQ(DatabaseItems(), std::vector<std::string>{"EnginedServer.Zqlink"});
}

// A link file shipped as a symbolic link is replaced by the file; what it pointed to stays.
TEST_F(ClientCustomization, SymbolicLinkInPlaceOfTheLinkFileIsReplaced)
{
    const std::string outside = fFolder + "/outside.txt";
    std::ofstream(outside) << "keep";
    fs::create_directories(fBundle + "/Contents/Database");
    fs::create_symlink(outside, LinkFile());
    const Outcome outcome = Customize(R"({"ServerPlatform": "Mac", "BuildIPAdress": "h"})");
    EXPECT_TRUE(outcome.fResult);
    EXPECT_EQ(ReadFile(outside), "keep");
    EXPECT_FALSE(fs::is_symlink(LinkFile()));
    EXPECT_EQ(ReadFile(LinkFile()), LinkLine("", "h", ""));
}

// The executable's execute bits, and the bundles that are left alone.
TEST_F(ClientCustomization, ExecutableMode)
{
    const std::string outside = fFolder + "/outside";
    struct Row
    {
        const char* fWhat;
        const char* fExecutableName; // CFBundleExecutable
        bool fAsLink;                // Contents/MacOS/<name> is a link to <folder>/outside
        unsigned fMode;              // the mode of the file the name leads to, before
        unsigned fExpected;          // and after
    };
    const Row rows[] = {
        {"0644 gets the three execute bits", "client", false, 0644, 0755},
        {"0600 too", "client", false, 0600, 0711},
        {"0755 is not touched", "client", false, 0755, 0755},
        {"a name leading out of Contents/MacOS", "../x", false, 0644, 0644},
        {"a name with a slash", "sub/x", false, 0644, 0644},
        {"a symbolic link", "client", true, 0644, 0644},
        {"a name that names no file", "missing", false, 0644, 0644},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        WriteInfo(row.fExecutableName);
        fs::remove(fExecutable);
        fs::create_directories(fBundle + "/Contents/MacOS/sub");
        std::string target = fBundle + "/Contents/MacOS/" + row.fExecutableName;
        if (row.fAsLink)
        {
            std::ofstream(outside) << "x";
            fs::create_symlink(outside, target);
            target = outside;
        }
        else if (std::string(row.fExecutableName) == "missing")
        {
            target = fExecutable;
        }
        std::ofstream(target) << "x";
        ::chmod(target.c_str(), row.fMode);
        struct stat before = {};
        ASSERT_EQ(::stat(target.c_str(), &before), 0);
        // Any change of mode would move the change time: let the clock move on first.
        ::usleep(20000);

        const Outcome outcome = Customize(R"({"ServerPlatform": "Mac"})");
        EXPECT_TRUE(outcome.fResult);
        EXPECT_TRUE(outcome.fErrors.empty());
        struct stat after = {};
        ASSERT_EQ(::stat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, row.fExpected);
        if (row.fExpected == row.fMode)
        {
            EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
            EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
            EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec) << "not touched at all";
        }
        fs::remove(fBundle + "/Contents/MacOS/client");
        fs::remove(outside);
        fs::remove(fBundle + "/Contents/x");
        fs::remove_all(fBundle + "/Contents/MacOS/sub");
    }
}

TEST_F(ClientCustomization, ProgressLineOnlyWhenTheCallerAskedForIt)
{
    for (bool report : {false, true})
    {
        SCOPED_TRACE(report);
        sEngine->fReportToCaller = report;
        ::testing::internal::CaptureStdout();
        sEngine->_LogProgressToCaller("waitquit", -1);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), report ? "waitquit,-1\n" : "");
    }
}

} // namespace
} // namespace zorn
