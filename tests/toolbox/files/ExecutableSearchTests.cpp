#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/system/VSystem.h"

#include "tests/FakeProgramSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace zorn
{
namespace
{

using test::ScopedEnvironmentVariable;

std::string PosixOf(const VFilePath& inPath)
{
    VString text;
    inPath.GetPosixPath(text);
    return to_string(text);
}

TEST(ExecutableSearchTests, FindsTheFirstExecutableRegularFile)
{
    const std::string root = test::MakeTemporaryFolder();
    for (const char* folder : {"/plain", "/dir", "/run", "/later"})
    {
        std::filesystem::create_directory(root + folder);
    }
    test::WriteScript(root + "/plain/tool", "not executable");
    ::chmod((root + "/plain/tool").c_str(), 0644);
    std::filesystem::create_directory(root + "/dir/tool"); // a folder is no program
    test::WriteScript(root + "/run/tool", "#!/bin/sh\n");
    test::WriteScript(root + "/later/tool", "#!/bin/sh\n");
    test::WriteScript(root + "/later/other", "#!/bin/sh\n");
    // An empty element is skipped, not read as the current folder.
    ScopedEnvironmentVariable path("PATH",
                                   root + "/plain::" + root + "/dir:" + root + "/run/:" + root + "/later");
    std::filesystem::path current = std::filesystem::current_path();
    std::filesystem::current_path(root + "/later");

    struct Case
    {
        std::string fName;
        std::string fFound; // empty: not found
    };
    const Case cases[] = {
        {"tool", root + "/run/tool"},
        {"other", root + "/later/other"},
        {root + "/run/../plain/../run/tool", root + "/run/tool"}, // a name with '/' is resolved
        {"./other", root + "/later/other"},
        {root + "/plain/tool", ""},
        {root + "/dir/tool", ""},
        {"missing", ""},
        {"", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fName);
        VFilePath found(VString("Root:previous"));
        EXPECT_EQ(VSystem::SearchExecutablePath(VString(c.fName.c_str()), found), !c.fFound.empty());
        if (c.fFound.empty())
        {
            EXPECT_FALSE(found.IsValid()); // cleared
        }
        else
        {
            EXPECT_EQ(PosixOf(found), c.fFound);
        }
    }
    std::filesystem::current_path(current);
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace zorn
