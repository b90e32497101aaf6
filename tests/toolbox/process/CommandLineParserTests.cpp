#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VCommandLineParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zorn;
using zorn::test::Text;

namespace
{

std::vector<VString> ArgumentList(const std::vector<std::string>& inArguments)
{
    std::vector<VString> list{VString("/opt/Zq Updater.app/Contents/MacOS/updater")};
    for (const std::string& argument : inArguments)
    {
        list.emplace_back(argument.c_str());
    }
    return list;
}

// What the options of the parse table write into.
struct Variables
{
    int fPid = -1;
    bool fSilent = false;
    bool fEnabled = false;
    bool fVerbose = false;
    uint32_t fCount = 0;
    std::u16string fLogDir = {};
    std::vector<std::u16string> fFiles = {};

    bool operator==(const Variables&) const = default;
};

struct Outcome
{
    int32_t fResult = 0;
    std::string fOutput;
    std::string fError;
    Variables fVariables;
};

struct ParseSetup
{
    bool fCollector = true;
    bool fStandardInput = false;
    std::optional<std::string> fInput = {};
};

// A parser over the arguments with options like the updater's, a short flag, a short value option
// and a boolean value option; the positional collector when asked.
Outcome ParseWith(const std::vector<std::string>& inArguments, const ParseSetup& inSetup)
{
    const std::vector<VString> arguments = ArgumentList(inArguments);
    VCommandLineParser parser(arguments);
    VCommandLineParser::Streams streams;
    streams.fInput = inSetup.fInput;
    parser.SetStreamsForTesting(&streams);
    StOptionsInfos& options = parser.GetOptionsInfos();
    int pid = -1;
    bool silent = false;
    bool enabled = false;
    bool verbose = false;
    uint32_t count = 0;
    VString logDir;
    std::vector<VString> files;
    parser.AddParagraph(VString("\nUpdater\n"));
    options.RegisterOption(
        true, new VArgOption<int>(32, VString("pid"), VString("Wait for the caller's pid"), &pid));
    options.RegisterOption(false,
                           new VArgOption<bool>(32, VString("silent"), VString("No message"), &silent));
    options.RegisterOption(true,
                           new VArgOption<bool>(32, VString("enabled"), VString("On or off"), &enabled));
    options.RegisterOption(true,
                           new VArgOption<VString>(32, VString("log-dir"), VString("Log folder"), &logDir));
    options.RegisterOption(false, new VArgOption<bool>(u'v', VString(), VString("Verbose"), &verbose));
    options.RegisterOption(true,
                           new VArgOption<uint32_t>(u'c', VString("count"), VString("How many"), &count));
    if (inSetup.fCollector)
    {
        options.SetPositionalCollector(
            new VArgOption<std::vector<VString>>(32, VString(), VString(), &files));
    }
    options.SetStandardInputAllowed(inSetup.fStandardInput);

    Outcome outcome;
    outcome.fResult = parser.Parse();
    outcome.fOutput = streams.fOutput;
    outcome.fError = streams.fError;
    outcome.fVariables = {pid, silent, enabled, verbose, count, Text(logDir), {}};
    for (const VString& file : files)
    {
        outcome.fVariables.fFiles.push_back(Text(file));
    }
    return outcome;
}

// Collated words ("TRUE") need an international manager.
class CommandLineParser : public ::testing::Test
{
protected:
    test::StIntlTestProcess fProcess{1033};
};

TEST_F(CommandLineParser, ParseTable)
{
    const std::string x100(100, 'x');
    const std::string pidExpected = " expected a signed integral\n";
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        int32_t fResult;
        std::string fError;
        Variables fVariables;
        ParseSetup fSetup = {};
    };
    const Row rows[] = {
        {"the program path only", {}, 0, "", {}},
        {"after -- an option is a plain argument", {"--", "--pid"}, 0, "", {.fFiles = {u"--pid"}}},
        {"a value given to a flag",
         {"--silent=1"},
         1,
         "error: a value for option `silent` is not required\n",
         {}},
        {"a flag", {"--silent"}, 0, "", {.fSilent = true}},
        {"a value search skips options",
         {"--log-dir", "--pid", "/l", "5"},
         0,
         "",
         {.fPid = 5, .fLogDir = u"/l"}},
        {"two value options, then their values in order",
         {"--pid", "--log-dir", "7", "/l", "plain"},
         0,
         "",
         {.fPid = 7, .fLogDir = u"/l", .fFiles = {u"plain"}}},
        {"a value after =", {"--pid=-5"}, 0, "", {.fPid = -5}},
        {"an empty value after =", {"--log-dir="}, 0, "", {}},
        {"the value search takes no dashed argument",
         {"--pid", "-5", "/a", "/b"},
         1,
         "invalid value for argument '--pid' got \"/a\"" + pidExpected,
         {}},
        {"the value search stops at --",
         {"--pid", "--", "5"},
         1,
         "error: missing value for option --pid\n",
         {}},
        {"no value left", {"--pid"}, 1, "error: missing value for option --pid\n", {}},
        {"a short value option without value",
         {"-c"},
         1,
         "error: missing value for option -c, --count\n",
         {}},
        {"short options together",
         {"-vc", "3", "f"},
         0,
         "",
         {.fVerbose = true, .fCount = 3, .fFiles = {u"f"}}},
        {"an unknown short option", {"-5"}, 1, "error: missing short option `-5`\n", {}},
        {"an unknown letter after a known one",
         {"-vx"},
         1,
         "error: missing short option `-vx`\n",
         {.fVerbose = true}},
        {"an unknown long option", {"--foo"}, 1, "error: unknown option `foo`\n", {}},
        {"an unknown long option with a value", {"--foo=1"}, 1, "error: unknown option `foo`\n", {}},
        {"help with a value", {"--help=x"}, 1, "error: invalid value for option  `help`\n", {}},
        {"a plain argument without collector",
         {"plain"},
         1,
         "error: unknown option `plain`\n",
         {},
         {.fCollector = false}},
        {"a lone dash is plain", {"-"}, 0, "", {.fFiles = {u"-"}}},
        {"an empty argument is plain", {""}, 0, "", {.fFiles = {u""}}},
        {"the macOS arguments are skipped with their value",
         {"-ApplePersistenceIgnoreState", "YES", "-NSDocumentRevisionsDebugMode", "NO"},
         0,
         "",
         {},
         {.fCollector = false}},
        {"control characters are not echoed", {"--fo\033[2Jo"}, 1, "error: unknown option `fo?[2Jo`\n", {}},
        // Integer values.
        {"pid beyond int",
         {"--pid", "3000000000"},
         1,
         "invalid value for argument '--pid' got \"3000000000\"" + pidExpected,
         {}},
        {"pid one above INT32_MAX",
         {"--pid=2147483648"},
         1,
         "invalid value for argument '--pid' got \"2147483648\"" + pidExpected,
         {}},
        {"pid one below INT32_MIN",
         {"--pid=-2147483649"},
         1,
         "invalid value for argument '--pid' got \"-2147483649\"" + pidExpected,
         {}},
        {"pid INT32_MIN", {"--pid=-2147483648"}, 0, "", {.fPid = INT32_MIN}},
        {"pid with white space around", {"--pid= 42 "}, 0, "", {.fPid = 42}},
        {"pid of 30 characters", {"--pid=" + std::string(28, '0') + "42"}, 0, "", {.fPid = 42}},
        {"pid of 31 characters",
         {"--pid=" + std::string(29, '0') + "42"},
         1,
         "invalid value for argument '--pid' got \"" + std::string(29, '0') + "42\"" + pidExpected,
         {}},
        {"pid with a letter",
         {"--pid=4x"},
         1,
         "invalid value for argument '--pid' got \"4x\"" + pidExpected,
         {}},
        {"pid with an inner sign",
         {"--pid=1-2"},
         1,
         "invalid value for argument '--pid' got \"1-2\"" + pidExpected,
         {}},
        {"pid empty", {"--pid="}, 1, "invalid value for argument '--pid' got empty value " + pidExpected, {}},
        {"a long bad value is cut at 80",
         {"--pid=" + x100},
         1,
         "invalid value for argument '--pid' got \"" + std::string(80, 'x') + "...\"" + pidExpected,
         {}},
        {"u32 refuses a minus",
         {"--count=-1"},
         1,
         "invalid value for argument '-c, --count' got \"-1\" expected an unsigned integral\n",
         {}},
        {"u32 UINT32_MAX", {"--count=4294967295"}, 0, "", {.fCount = UINT32_MAX}},
        {"u32 beyond",
         {"--count=4294967296"},
         1,
         "invalid value for argument '-c, --count' got \"4294967296\" expected an unsigned integral\n",
         {}},
        // Boolean values.
        {"bool yes",
         {"--enabled=yes"},
         1,
         "invalid value for argument '--enabled' got \"yes\" expected 0, 1, true or false\n",
         {}},
        {"bool TRUE", {"--enabled=TRUE"}, 0, "", {.fEnabled = true}},
        {"bool 1", {"--enabled", "1"}, 0, "", {.fEnabled = true}},
        // Standard input for "-".
        {"standard input read once",
         {"--log-dir=-", "-"},
         0,
         "",
         {.fLogDir = u"from stdin", .fFiles = {u"from stdin"}},
         {.fStandardInput = true, .fInput = "from stdin"}},
        {"standard input unreadable",
         {"--log-dir=-"},
         1,
         "error: failed to read from stdin for option `log-dir`\n",
         {},
         {.fStandardInput = true}},
        {"standard input not allowed", {"--log-dir=-"}, 0, "", {.fLogDir = u"-"}},
    };
    for (const Row& row : rows)
    {
        const Outcome outcome = ParseWith(row.fArguments, row.fSetup);
        EXPECT_EQ(outcome.fResult, row.fResult) << row.fWhat;
        EXPECT_EQ(outcome.fOutput, "") << row.fWhat;
        EXPECT_EQ(outcome.fError, row.fError) << row.fWhat;
        EXPECT_TRUE(outcome.fVariables == row.fVariables) << row.fWhat;
    }
}

TEST_F(CommandLineParser, HelpStopsTheParse)
{
    const Outcome outcome = ParseWith({"--pid", "5", "--help", "--silent"}, {});
    EXPECT_EQ(outcome.fResult, 2);
    EXPECT_EQ(outcome.fOutput.rfind("Usage: updater [OPTION]... [FILE]...\n", 0), 0u) << outcome.fOutput;
    EXPECT_EQ(outcome.fError, "");
    EXPECT_EQ(outcome.fVariables.fPid, 5);
    EXPECT_FALSE(outcome.fVariables.fSilent);
}

TEST_F(CommandLineParser, FlagsOfEachKind)
{
    const std::vector<VString> arguments = ArgumentList({"--b", "--i", "--s", "--list"});
    VCommandLineParser parser(arguments);
    bool b = false;
    int i = 0;
    VString s("old");
    std::vector<VString> list{VString("a"), VString("b")};
    StOptionsInfos& options = parser.GetOptionsInfos();
    options.RegisterOption(false, new VArgOption<bool>(32, VString("b"), VString(), &b));
    options.RegisterOption(false, new VArgOption<int>(32, VString("i"), VString(), &i));
    options.RegisterOption(false, new VArgOption<VString>(32, VString("s"), VString(), &s));
    options.RegisterOption(false,
                           new VArgOption<std::vector<VString>>(32, VString("list"), VString(), &list));
    ASSERT_EQ(parser.Parse(), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(Text(s), u"1");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].IsEmpty());
}

TEST_F(CommandLineParser, RegistryKeepsOrderAndOwnership)
{
    const std::vector<VString> few = ArgumentList({});
    VCommandLineParser alone(few);
    EXPECT_FALSE(alone.GetOptionsInfos().HasEnoughArguments());

    const std::vector<VString> arguments = ArgumentList({"one"});
    VCommandLineParser parser(arguments);
    StOptionsInfos& options = parser.GetOptionsInfos();
    EXPECT_TRUE(options.HasEnoughArguments());
    std::vector<VString> first;
    std::vector<VString> second;
    options.SetPositionalCollector(new VArgOption<std::vector<VString>>(32, VString(), VString(), &first));
    // A new collector replaces (and deletes) the first: the sanitizers see a leak or a double free.
    options.SetPositionalCollector(new VArgOption<std::vector<VString>>(32, VString(), VString(), &second));
    ASSERT_EQ(parser.Parse(), 0);
    EXPECT_TRUE(first.empty());
    ASSERT_EQ(second.size(), 1u);

    parser.Clear();
    VCommandLineParser::Streams streams;
    parser.SetStreamsForTesting(&streams);
    EXPECT_EQ(parser.Parse(), 1);
    EXPECT_EQ(streams.fError, "error: unknown option `one`\n");
}

TEST(CommandLineNames, FullNamesAndValidation)
{
    struct Row
    {
        UniChar fShort;
        const char* fLong;
        const char* fFullName;
    };
    const Row rows[] = {
        {u'x', "long", "-x, --long"},
        {32, "long", "--long"},
        {0, "long", "--long"},
        {u'x', "", "-x"},
        {32, "", ""},
    };
    for (const Row& row : rows)
    {
        VOptionBase option(row.fShort, VString(row.fLong), VString());
        VString name("[");
        EXPECT_EQ(option.AppendFullName(name), *row.fFullName != 0) << row.fFullName;
        EXPECT_EQ(test::Ascii(name), std::string("[") + row.fFullName);
    }

    struct NameRow
    {
        const char* fName;
        bool fValid;
    };
    const NameRow names[] = {
        {"", true},     {"a", false},  {"log-dir", true}, {"-log", false}, {"log-", false},
        {"Log", false}, {"l0g", true}, {"a b", false},    {"ab", true},    {"a_b", false},
    };
    for (const NameRow& row : names)
    {
        EXPECT_EQ(VCommandLineParser::ValidateLongOptionName(VString(row.fName)), row.fValid) << row.fName;
    }
    for (UniChar unit : {UniChar(u'a'), UniChar(u'Z'), UniChar(u'7'), UniChar(0), UniChar(32)})
    {
        EXPECT_TRUE(VCommandLineParser::ValidateShortOptionName(unit)) << unit;
    }
    for (UniChar unit : {UniChar(u'-'), UniChar(u'='), UniChar(u'é'), UniChar(10)})
    {
        EXPECT_FALSE(VCommandLineParser::ValidateShortOptionName(unit)) << unit;
    }
}

TEST(CommandLineArguments, WideIntegers)
{
    struct Row
    {
        const char* fText;
        std::optional<int64_t> fSigned;
        std::optional<uint64_t> fUnsigned;
    };
    const Row rows[] = {
        {"9223372036854775807", INT64_MAX, 9223372036854775807ULL},
        {"-9223372036854775808", INT64_MIN, std::nullopt},
        {"9223372036854775808", std::nullopt, 9223372036854775808ULL},
        {"18446744073709551615", std::nullopt, UINT64_MAX},
        {"18446744073709551616", std::nullopt, std::nullopt},
        {"+7", 7, 7u},
        {"-0", 0, std::nullopt},
        {"+", std::nullopt, std::nullopt},
        {"\t12\n", 12, 12u},
        {"1 2", std::nullopt, std::nullopt},
    };
    for (const Row& row : rows)
    {
        int64_t s = 99;
        uint64_t u = 99;
        EXPECT_EQ(Argument<int64_t>::Append(VString(row.fText), s), row.fSigned.has_value()) << row.fText;
        EXPECT_EQ(s, row.fSigned.value_or(99)) << row.fText;
        EXPECT_EQ(Argument<uint64_t>::Append(VString(row.fText), u), row.fUnsigned.has_value()) << row.fText;
        EXPECT_EQ(u, row.fUnsigned.value_or(99)) << row.fText;
    }
}

TEST_F(CommandLineParser, JSONValues)
{
    VJSONValue text(JSON_string);
    EXPECT_TRUE(Argument<VJSONValue>::Append(VString("[1]"), text));
    EXPECT_EQ(text.GetStringUnits(), u"[1]");

    VJSONValue flag(JSON_false);
    EXPECT_TRUE(Argument<VJSONValue>::Append(VString("On"), flag));
    EXPECT_EQ(flag.GetType(), JSON_true);
    EXPECT_TRUE(Argument<VJSONValue>::Append(VString("off"), flag));
    EXPECT_EQ(flag.GetType(), JSON_false);
    EXPECT_FALSE(Argument<VJSONValue>::Append(VString("maybe"), flag));
    EXPECT_EQ(flag.GetType(), JSON_false);

    VJSONValue parsed;
    EXPECT_TRUE(Argument<VJSONValue>::Append(VString("[1, \"a\"]"), parsed));
    ASSERT_TRUE(parsed.IsArray());
    EXPECT_EQ(parsed.GetArray()->GetElements().size(), 2u);
    EXPECT_FALSE(Argument<VJSONValue>::Append(VString("{\"a\":"), parsed));
    EXPECT_TRUE(parsed.IsArray());
}

// Paths resolve on disk: a folder, a file in it and a link to the file.
class CommandLinePaths : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/zorn-cmdline-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        char* resolved = ::realpath(folder, nullptr); // /tmp may be a link
        ASSERT_NE(resolved, nullptr);
        fFolder = resolved;
        std::free(resolved);
        std::ofstream(fFolder + "/file.txt") << "x";
        ASSERT_EQ(::symlink((fFolder + "/file.txt").c_str(), (fFolder + "/link").c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(std::system(("rm -rf " + fFolder).c_str()), 0); }

    VString Posix(const std::string& inName) const { return VString((fFolder + inName).c_str()); }
    VString Colon(const std::string& inPosix) const
    {
        VFilePath path(VString((fFolder + inPosix).c_str()), FPS_POSIX);
        VString text;
        path.GetPath(text);
        return text;
    }

    std::string fFolder;
};

TEST_F(CommandLinePaths, ResolvedPathsFilesAndFolders)
{
    struct Row
    {
        const char* fWhat;
        std::string fText;     // appended to the folder's path
        const char* fResolved; // appended to the folder's path; null: refused
        bool fFolder;
    };
    const Row rows[] = {
        {"a folder gets a folder path", "", "/", true},
        {"a folder with a trailing slash and a dot", "/./", "/", true},
        {"a file", "/file.txt", "/file.txt", false},
        {"a link is followed to its target", "/link", "/file.txt", false},
        {"a climb back in", "/../" + fFolder.substr(fFolder.rfind('/') + 1) + "/file.txt", "/file.txt",
         false},
        {"a missing item", "/missing", nullptr, false},
        {"a file used as folder", "/file.txt/", nullptr, false},
    };
    for (const Row& row : rows)
    {
        VFilePath path;
        VRefPtr<VFile> file;
        VRefPtr<VFolder> folder;
        const VString text = Posix(row.fText);
        const bool resolves = row.fResolved != nullptr;
        EXPECT_EQ(Argument<VFilePath>::Append(text, path), resolves) << row.fWhat;
        EXPECT_EQ(Argument<VRefPtr<VFile>>::Append(text, file), resolves && !row.fFolder) << row.fWhat;
        EXPECT_EQ(Argument<VRefPtr<VFolder>>::Append(text, folder), resolves && row.fFolder) << row.fWhat;
        if (!resolves)
        {
            EXPECT_FALSE(path.IsValid()) << row.fWhat;
            continue;
        }
        VString resolved;
        path.GetPath(resolved);
        EXPECT_EQ(Text(resolved), Text(Colon(row.fResolved))) << row.fWhat;
        EXPECT_EQ(path.IsFolder(), row.fFolder) << row.fWhat;
        if (row.fFolder)
        {
            ASSERT_NE(folder.Get(), nullptr);
            EXPECT_EQ(Text(folder->GetPath().GetPath(FPS_NATIVE)), Text(resolved)) << row.fWhat;
        }
        else
        {
            ASSERT_NE(file.Get(), nullptr);
            EXPECT_EQ(Text(file->GetPath().GetPath(FPS_NATIVE)), Text(resolved)) << row.fWhat;
        }
    }
}

TEST_F(CommandLinePaths, RefusedPathPrintsItsLine)
{
    const std::vector<VString> arguments = ArgumentList({"--app", fFolder + "/file.txt"});
    VCommandLineParser parser(arguments);
    VCommandLineParser::Streams streams;
    parser.SetStreamsForTesting(&streams);
    VRefPtr<VFolder> app;
    parser.GetOptionsInfos().RegisterOption(
        true, new VArgOption<VRefPtr<VFolder>>(32, VString("app"), VString(), &app));
    EXPECT_EQ(parser.Parse(), 1);
    EXPECT_EQ(streams.fError, "invalid value for argument '--app' got \"" + fFolder +
                                  "/file.txt\" expected an existing folder\n");
    EXPECT_EQ(app.Get(), nullptr);
}

} // namespace
