#include "tests/StringTestSupport.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VCommandLineParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zorn;
using zorn::test::Text;

namespace
{

VString U16(const std::u16string& inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

// The updater's own option texts (tabs and line feeds included), a short and long option, a
// short-only value option, a name too long for the description column and a description that
// needs cutting. fTexts holds the paragraphs and descriptions in registration order.
struct UpdaterLikeOptions
{
    explicit UpdaterLikeOptions(VCommandLineParser& ioParser) : fParser(ioParser)
    {
        Paragraph(U16(u"\nZq Updater\n\t\tUpdates an existing Zq application residing at <path of app to "
                      u"update> using \t\tnewer versions tored <path of update>\n\n"));
        Option(true, new VArgOption<int>(32, VString("pid"), VString("Wait for the caller's pid"), &fPid));
        Option(false,
               new VArgOption<bool>(32, VString("silent"),
                                    VString("ensure that no message is displayed in case of error. Errors "
                                            "are still logged though"),
                                    &fSilent));
        Option(true,
               new VArgOption<VString>(32, VString("restart-params"),
                                       VString("indicates the full path to the ZqLink \t\tfile that will be "
                                               "passed back to the restarted application. This does not "
                                               "\t\tapply if the application is started as a service"),
                                       &fText));
        Option(true, new VArgOption<VString>(u'l', VString("log-dir"),
                                             VString("a \"quoted\" \\ path\rwith a return"), &fText));
        Option(true, new VArgOption<uint32_t>(u'n', VString(), U16(u".count, \u00E9"), &fCount));
        Option(false, new VArgOption<bool>(32, VString("a-very-long-option-name-here"),
                                           VString("'quoted at the start"), &fSilent));
        ioParser.GetOptionsInfos().SetPositionalCollector(
            new VArgOption<std::vector<VString>>(32, VString(), VString(), &fFiles));
        Paragraph(VString("\nHelp:\n"));
        Option(false, new VArgOption<bool>(32, VString("version"), VString("Print the version and exits"),
                                           &fSilent));
    }

    void Paragraph(const VString& inText)
    {
        fParser.AddParagraph(inText);
        fTexts.push_back(Text(inText));
    }
    void Option(bool inTakesValue, VOptionBase* inOption)
    {
        fTexts.push_back(Text(inOption->GetDescription()));
        fParser.GetOptionsInfos().RegisterOption(inTakesValue, inOption);
    }

    VCommandLineParser& fParser;
    std::vector<std::u16string> fTexts;
    int fPid = -1;
    bool fSilent = false;
    uint32_t fCount = 0;
    VString fText;
    std::vector<VString> fFiles;
};

std::string ReadFile(const std::string& inPath)
{
    std::ifstream stream(inPath, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

std::string Golden(const char* inName)
{
    return std::string(ZORN_COMMAND_LINE_GOLDEN) + "/" + inName;
}

// Runs a shell command on a file holding inInput; its standard output and error, and its status.
int RunOn(const std::string& inCommand, const std::string& inInput, std::string& outOutput)
{
    char name[] = "/tmp/zorn-cmdline-export-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    ::close(fd);
    std::ofstream(name, std::ios::binary) << inInput;
    const std::string command = inCommand + " " + name + " 2>&1";
    outOutput.clear();
    std::FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    char block[512];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof(block), pipe)) > 0)
    {
        outOutput.append(block, count);
    }
    const int status = ::pclose(pipe);
    std::remove(name);
    return status;
}

bool HasProgram(const char* inName)
{
    return std::system((std::string("command -v ") + inName + " > /dev/null 2>&1").c_str()) == 0;
}

TEST(CommandLineHelp, GoldenTexts)
{
    const std::vector<VString> arguments{VString("/usr/lib/Zq Updater.app/Contents/MacOS/updater"),
                                         VString("--help")};
    for (bool terminal : {false, true})
    {
        VCommandLineParser parser(arguments);
        UpdaterLikeOptions options(parser);
        VCommandLineParser::Streams streams;
        streams.fTerminal = terminal;
        parser.SetStreamsForTesting(&streams);
        EXPECT_EQ(parser.Parse(), 2);
        EXPECT_EQ(streams.fOutput, ReadFile(Golden(terminal ? "help_terminal.txt" : "help_plain.txt")))
            << "terminal " << terminal;
        EXPECT_EQ(streams.fError, "");
    }
}

// The help's line of one option "--w" whose description is the row's text: where it is cut.
TEST(CommandLineHelp, WrapPoints)
{
    const std::string blanks(30, ' ');
    const std::string a40(40, 'a');
    struct Row
    {
        const char* fWhat;
        std::string fDescription;
        std::string fLine; // after the names and the padding
    };
    const Row rows[] = {
        {"80 characters stay whole", std::string(80, 'a'), std::string(80, 'a')},
        {"81 without break: cut after 80", std::string(81, 'a'), std::string(80, 'a') + "\n" + blanks + "a"},
        {"after the last space within 80", a40 + " " + std::string(40, 'b'),
         a40 + " \n" + blanks + std::string(40, 'b')},
        {"after a dot rather than an earlier space",
         "aa " + std::string(60, 'a') + "." + std::string(30, 'b'),
         "aa " + std::string(60, 'a') + ".\n" + blanks + std::string(30, 'b')},
        {"a break as the 80th character", std::string(79, 'a') + "\t" + "bb",
         std::string(79, 'a') + "\t\n" + blanks + "bb"},
        {"a break as the 81st character is too far", "a " + std::string(78, 'a') + " b",
         "a \n" + blanks + std::string(78, 'a') + " b"},
        {"a line feed at the cut ends the line itself", std::string(50, 'a') + "\n" + std::string(40, 'b'),
         std::string(50, 'a') + "\n" + blanks + std::string(40, 'b')},
        {"every piece at most 80", std::string(200, 'c'),
         std::string(80, 'c') + "\n" + blanks + std::string(80, 'c') + "\n" + blanks + std::string(40, 'c')},
    };
    for (const Row& row : rows)
    {
        const std::vector<VString> arguments{VString("p")};
        VCommandLineParser parser(arguments);
        int value = 0;
        parser.GetOptionsInfos().RegisterOption(
            false, new VArgOption<int>(32, VString("w"), VString(row.fDescription.c_str()), &value));
        const std::string help = to_string(parser.GetOptionsInfos().HelpUsage(VString("p"), false));
        const std::string expected = "Usage: p [OPTION]...\n    --w" + std::string(23, ' ') + row.fLine +
                                     "\n" + "    --help" + std::string(20, ' ') + "Display the help and exit";
        EXPECT_EQ(help, expected) << row.fWhat;
    }
}

TEST(CommandLineJSON, LayoutOfASmallRegistry)
{
    const std::vector<VString> arguments{VString("p"), VString("a\"b")};
    VCommandLineParser parser(arguments);
    int value = 0;
    parser.AddParagraph(VString("Para"));
    parser.GetOptionsInfos().RegisterOption(
        true, new VArgOption<int>(u'x', VString("ex"), VString("D\t1"), &value));
    VString json;
    parser.ExportAsJSON(&json);
    EXPECT_EQ(to_string(json), "{\n"
                               "\t\"arguments\": {\n"
                               "\t\t\"count\": 2,\n"
                               "\t\t\"values\": [\n"
                               "\t\t\t\"p\",\n"
                               "\t\t\t\"a\\\"b\"\n"
                               "\t\t]\n"
                               "\t},\n"
                               "\t\"options\": {\n"
                               "\t\t\"count\": 2,\n"
                               "\t\t\"values\": [\n"
                               "\t\t\t{\n"
                               "\t\t\t\t\"paragraph\": \"Para\"\n"
                               "\t\t\t},\n"
                               "\t\t\t{\n"
                               "\t\t\t\t\"shortName\": \"x\",\n"
                               "\t\t\t\t\"longName\": \"ex\",\n"
                               "\t\t\t\t\"requiresValue\": true,\n"
                               "\t\t\t\t\"description\": \"D\\t1\"\n"
                               "\t\t\t}\n"
                               "\t\t]\n"
                               "\t}\n"
                               "}\n");
}

// The texts of an export read back: the arguments, then each entry's paragraph or description.
std::vector<std::u16string> TextsOf(const VString& inJSON)
{
    std::vector<std::u16string> texts;
    VJSONValue root;
    EXPECT_EQ(VJSONImporter::ParseString(inJSON, root, 0x2), VE_OK) << to_string(inJSON);
    for (const char* part : {"arguments", "options"})
    {
        VJSONValue values = root.GetProperty(VString(part)).GetProperty(VString("values"));
        if (!values.IsArray())
        {
            ADD_FAILURE() << part;
            return texts;
        }
        for (const VJSONValue& value : values.GetArray()->GetElements())
        {
            if (value.IsString())
            {
                texts.emplace_back(value.GetStringUnits());
                continue;
            }
            VJSONValue text = value.GetProperty(VString("description"));
            if (text.IsUndefined())
            {
                text = value.GetProperty(VString("paragraph"));
            }
            texts.emplace_back(text.GetStringUnits());
        }
    }
    return texts;
}

TEST(CommandLineJSON, ReadBackUnchanged)
{
    const std::vector<VString> arguments{VString("/bin/updater"), VString("--pid"),
                                         VString("tab\there \"q\" \\"), U16(u"\u0001ctl\u007F é \U0001F600")};
    VCommandLineParser parser(arguments);
    UpdaterLikeOptions options(parser);
    VString json;
    parser.ExportAsJSON(&json);

    std::vector<std::u16string> expected;
    for (const VString& argument : arguments)
    {
        expected.push_back(Text(argument));
    }
    expected.insert(expected.end(), options.fTexts.begin(), options.fTexts.end());
    const std::vector<std::u16string> texts = TextsOf(json);
    EXPECT_EQ(texts, expected);

    if (!HasProgram("python3"))
    {
        GTEST_SKIP() << "python3 is not installed";
    }
    // What json.tool reads and writes again must read back to the same texts.
    std::string output;
    ASSERT_EQ(RunOn("python3 -m json.tool", to_string(json), output), 0) << output;
    VString rewritten;
    rewritten.FromBlock(output.data(), output.size(), CharSet::VTC_UTF_8);
    EXPECT_EQ(TextsOf(rewritten), texts);
}

TEST(CommandLinePrinting, ArgumentsAndExportsOnStandardOutput)
{
    const std::vector<VString> arguments{VString("p"), VString("one"), VString("two")};
    VCommandLineParser parser(arguments);
    parser.AddParagraph(VString("P"));
    VCommandLineParser::Streams streams;
    parser.SetStreamsForTesting(&streams);
    parser.PrintAllArguments(true);
    parser.PrintAllArguments(false);
    EXPECT_EQ(streams.fOutput, "[0] p\n[1] one\n[2] two\n[1] one\n[2] two\n");

    VString json;
    VString page;
    parser.ExportAsJSON(&json);
    parser.ExportAsManPage(&page);
    streams.fOutput.clear();
    parser.ExportAsJSON(nullptr);
    parser.ExportAsManPage(nullptr);
    EXPECT_EQ(streams.fOutput, to_string(json) + to_string(page));
    EXPECT_EQ(streams.fError, "");
}

TEST(CommandLineManPage, LinesOfASmallRegistry)
{
    const std::vector<VString> arguments{VString("p")};
    VCommandLineParser parser(arguments);
    int value = 0;
    StOptionsInfos& options = parser.GetOptionsInfos();
    parser.AddParagraph(VString("\nSay \"hi\"\t\n"));
    options.RegisterOption(
        true, new VArgOption<int>(u'x', VString("log-dir"), VString(".starts\n with a dot"), &value));
    options.RegisterOption(true, new VArgOption<int>(u'n', VString(), VString("a \\ backslash"), &value));
    options.RegisterOption(false, new VArgOption<int>(32, VString("flag"), VString("'quote"), &value));
    options.RegisterOption(false, new VArgOption<int>(u'q', VString(), VString(), &value));
    VString page;
    parser.ExportAsManPage(&page);
    EXPECT_EQ(to_string(page), ".SH OPTIONS\n"
                               ".SS \"Say \\(dqhi\\(dq\"\n"
                               ".TP\n"
                               ".BR \\-x \", \" \\-\\-log\\-dir=\\fIVALUE\\fR\n"
                               "\\&.starts with a dot\n"
                               ".TP\n"
                               ".BR \\-n \\fIVALUE\\fR\n"
                               "a \\e backslash\n"
                               ".TP\n"
                               ".BR \\-\\-flag\n"
                               "\\&'quote\n"
                               ".TP\n"
                               ".BR \\-q\n");
}

TEST(CommandLineManPage, GroffFindsNothingToSay)
{
    if (!HasProgram("groff"))
    {
        GTEST_SKIP() << "groff is not installed";
    }
    const std::vector<VString> arguments{VString("p")};
    VCommandLineParser parser(arguments);
    UpdaterLikeOptions options(parser);
    VString page(".TH UPDATER 1\n.SH NAME\nupdater \\- updates an application\n");
    parser.ExportAsManPage(&page);
    std::string output;
    EXPECT_EQ(RunOn("groff -man -ww -z", to_string(page), output), 0);
    EXPECT_EQ(output, "") << to_string(page);
}

} // namespace
