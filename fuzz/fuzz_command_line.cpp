// The command-line parser on arbitrary argument lists: the input split at NUL bytes into the
// arguments after a fixed program path (each decoded as the bytes of a file name), parsed over a
// fixed option set of every kind with standard input allowed for "-" values. Besides the
// sanitizers' checks:
// - Parse answers 0, 1 or 2;
// - 1 exactly when one line, and only one, went to the error stream; 2 exactly when the help went
//   to the output stream; 0 prints nothing;
// - the JSON export always parses strictly and gives back every argument unchanged.

#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VCommandLineParser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

std::vector<VString> ArgumentsOf(const uint8_t* inData, size_t inSize)
{
    std::vector<VString> arguments{VString("/usr/bin/fuzz")};
    const char* bytes = reinterpret_cast<const char*>(inData);
    size_t start = 0;
    for (size_t i = 0; i <= inSize; ++i)
    {
        if (i == inSize || bytes[i] == '\0')
        {
            VString argument;
            XLinuxFile::DecodeNameBytes(bytes + start, i - start, argument);
            arguments.push_back(argument);
            start = i + 1;
        }
    }
    return arguments;
}

// The variables of the option set; the registry deletes the options, not these.
struct Variables
{
    bool fBool = false;
    int fInt = 0;
    uint32_t fU32 = 0;
    int64_t fI64 = 0;
    uint64_t fU64 = 0;
    VString fText;
    std::vector<VString> fList;
    std::vector<VString> fFiles;
    VFilePath fPath;
    VRefPtr<VFile> fFile;
    VRefPtr<VFolder> fFolder;
    VJSONValue fJSON;
    VJSONValue fJSONText{JSON_string};
    VJSONValue fJSONBool{JSON_false};
};

void Register(VCommandLineParser& ioParser, Variables& ioVariables)
{
    StOptionsInfos& options = ioParser.GetOptionsInfos();
    ioParser.AddParagraph(VString("\nFuzz\n\t\tevery kind\n"));
    options.RegisterOption(false,
                           new VArgOption<bool>(u'b', VString("bool"), VString("flag"), &ioVariables.fBool));
    options.RegisterOption(
        true, new VArgOption<bool>(32, VString("enabled"), VString("value"), &ioVariables.fBool));
    options.RegisterOption(true,
                           new VArgOption<int>(u'p', VString("pid"), VString("int"), &ioVariables.fInt));
    options.RegisterOption(false,
                           new VArgOption<int>(u'i', VString(), VString("int flag"), &ioVariables.fInt));
    options.RegisterOption(true,
                           new VArgOption<uint32_t>(u'c', VString("u32"), VString(), &ioVariables.fU32));
    options.RegisterOption(true, new VArgOption<int64_t>(32, VString("i64"), VString(), &ioVariables.fI64));
    options.RegisterOption(true, new VArgOption<uint64_t>(32, VString("u64"), VString(), &ioVariables.fU64));
    options.RegisterOption(
        true, new VArgOption<VString>(u'l', VString("log-dir"), VString("text"), &ioVariables.fText));
    options.RegisterOption(false,
                           new VArgOption<VString>(32, VString("text-flag"), VString(), &ioVariables.fText));
    options.RegisterOption(
        true, new VArgOption<std::vector<VString>>(32, VString("list"), VString(), &ioVariables.fList));
    options.RegisterOption(
        false, new VArgOption<std::vector<VString>>(u'L', VString(), VString(), &ioVariables.fList));
    options.RegisterOption(true,
                           new VArgOption<VFilePath>(32, VString("path"), VString(), &ioVariables.fPath));
    options.RegisterOption(
        true, new VArgOption<VRefPtr<VFile>>(32, VString("file"), VString(), &ioVariables.fFile));
    options.RegisterOption(
        true, new VArgOption<VRefPtr<VFolder>>(32, VString("folder"), VString(), &ioVariables.fFolder));
    options.RegisterOption(true,
                           new VArgOption<VJSONValue>(u'j', VString("json"), VString(), &ioVariables.fJSON));
    options.RegisterOption(
        true, new VArgOption<VJSONValue>(32, VString("json-text"), VString(), &ioVariables.fJSONText));
    options.RegisterOption(
        true, new VArgOption<VJSONValue>(32, VString("json-bool"), VString(), &ioVariables.fJSONBool));
    options.SetPositionalCollector(
        new VArgOption<std::vector<VString>>(32, VString(), VString(), &ioVariables.fFiles));
    options.SetStandardInputAllowed(true);
}

// The strict reading of the export, and the arguments found in it.
void CheckExport(const VCommandLineParser& inParser, const std::vector<VString>& inArguments)
{
    VString json;
    inParser.ExportAsJSON(&json);
    StErrorContextInstaller errors(false);
    VJSONValue root;
    Check(VJSONImporter::ParseString(json, root, 0x2) == VE_OK);
    const VJSONValue values = root.GetProperty(VString("arguments")).GetProperty(VString("values"));
    Check(values.IsArray());
    const std::span<const VJSONValue> elements = values.GetArray()->GetElements();
    Check(elements.size() == inArguments.size());
    for (size_t i = 0; i < elements.size(); ++i)
    {
        Check(elements[i].GetStringUnits() == hasher_VString::Units(inArguments[i]));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    StartTasks();
    const std::vector<VString> arguments = ArgumentsOf(inData, inSize);
    VCommandLineParser parser(arguments);
    VCommandLineParser::Streams streams;
    streams.fInput = "text from standard input";
    parser.SetStreamsForTesting(&streams);
    Variables variables;
    Register(parser, variables);

    const int32_t result = parser.Parse();
    Check(result == 0 || result == 1 || result == 2);
    const bool oneErrorLine = !streams.fError.empty() && streams.fError.back() == '\n' &&
                              std::count(streams.fError.begin(), streams.fError.end(), '\n') == 1;
    Check((result == 1) == oneErrorLine);
    Check(result == 1 || streams.fError.empty());
    Check((result == 2) == streams.fOutput.starts_with("Usage: fuzz [OPTION]... [FILE]...\n"));
    Check(result == 2 || streams.fOutput.empty());

    CheckExport(parser, arguments);
    return 0;
}
