#include "toolbox/process/VCommandLineParser.h"

#include "toolbox/process/posix/XPosixTerminal.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace zorn
{

// ------------------------------------------------------------------------------------------------
// Registry

StOptionsInfos::StOptionsInfos(const std::vector<VString>& inArguments)
    : fArguments(&inArguments), fEnoughArguments(inArguments.size() >= 2)
{
}

StOptionsInfos::~StOptionsInfos()
{
    Clear();
}

void StOptionsInfos::RegisterOption(bool inTakesValue, VOptionBase* inOption)
{
    if (inOption == nullptr)
    {
        return;
    }
    inOption->SetTakesValue(inTakesValue);
    const Entry entry{inOption, inTakesValue};
    if (inOption->HasShortName())
    {
        fShortNames.insert_or_assign(inOption->GetShortName(), entry);
    }
    if (!inOption->GetLongName().IsEmpty())
    {
        fLongNames.insert_or_assign(inOption->GetLongName(), entry);
    }
    fOptions.push_back(inOption);
}

void StOptionsInfos::SetPositionalCollector(VOptionBase* inCollector)
{
    if (inCollector != fPositionalCollector)
    {
        delete fPositionalCollector;
        fPositionalCollector = inCollector;
    }
}

void StOptionsInfos::AddParagraph(const VString& inText)
{
    if (fRegistering)
    {
        fOptions.push_back(new VOptionBase(VOptionBase::kNoShortName, VString(), inText));
    }
}

void StOptionsInfos::Clear()
{
    fShortNames.clear();
    fLongNames.clear();
    for (VOptionBase* option : fOptions)
    {
        delete option;
    }
    fOptions.clear();
    SetPositionalCollector(nullptr);
    fStandardInput.Clear();
    fStandardInputRead = false;
}

// ------------------------------------------------------------------------------------------------
// Parse

// Which arguments were taken as values, and where the search for the next value begins.
struct VCommandLineParser::ParseState
{
    std::vector<bool> fTaken;
    size_t fIndex = 0;  // the argument being read
    size_t fCursor = 1; // only moves forward
};

namespace
{

bool IsDashed(const VString& inArgument)
{
    return !inArgument.IsEmpty() && inArgument.GetUniChar(1) == u'-';
}

bool IsEndOfOptions(const VString& inArgument)
{
    return inArgument.EqualToUSASCIICString("--");
}

// A line of one message: the text, then the name and a closing backquote.
VString Message(const char* inMessage, const VString& inName, const char* inEnd = "`")
{
    VString line(inMessage);
    line.AppendString(VCommandLineParser::ShownText(inName));
    line.AppendCString(inEnd);
    return line;
}

} // namespace

VCommandLineParser::VCommandLineParser(const std::vector<VString>& inArguments) : fInfos(inArguments) {}

VCommandLineParser::~VCommandLineParser() = default;

int32_t VCommandLineParser::Parse()
{
    const std::vector<VString>& arguments = *fInfos.fArguments;
    if (arguments.size() < 2)
    {
        return 0;
    }
    ParseState state;
    state.fTaken.assign(arguments.size(), false);
    bool optionsEnded = false;
    for (state.fIndex = 1; state.fIndex < arguments.size(); ++state.fIndex)
    {
        if (state.fTaken[state.fIndex])
        {
            continue;
        }
        const VString& argument = arguments[state.fIndex];
        int32_t result = 0;
        if (!optionsEnded && IsEndOfOptions(argument))
        {
            optionsEnded = true;
        }
        else if (optionsEnded || !IsDashed(argument) || argument.GetLength() == 1)
        {
            result = fInfos.fPositionalCollector != nullptr
                         ? _HandValue(fInfos.fPositionalCollector, argument, argument)
                         : PrintArgumentError(Message(kUnknownOption, argument));
        }
        else if (argument.GetUniChar(2) == u'-')
        {
            result = _ParseLongOption(state, argument.After(2));
        }
        else
        {
            result = _ParseShortOptions(state, argument);
        }
        if (result != 0)
        {
            return result;
        }
    }
    return 0;
}

int32_t VCommandLineParser::_ParseLongOption(ParseState& ioState, const VString& inBody)
{
    const int32_t equal = inBody.FindUniChar(u'=');
    const VString name = equal > 0 ? inBody.Before(equal) : inBody;
    const auto found = fInfos.fLongNames.find(name);
    const bool isHelp = name.EqualToUSASCIICString("help");
    if (found == fInfos.fLongNames.end())
    {
        if (isHelp && equal > 0)
        {
            return PrintArgumentError(Message(kInvalidValue, name));
        }
        if (isHelp)
        {
            const VString& program = (*fInfos.fArguments)[0];
            Print(fInfos.HelpUsage(program.After(program.FindUniChar(u'/', program.GetLength(), true)),
                                   _IsOutputTerminal()));
            return 2;
        }
        return PrintArgumentError(Message(kUnknownOption, name));
    }
    const StOptionsInfos::Entry& entry = found->second;
    if (equal > 0)
    {
        return entry.fTakesValue ? _HandValue(entry.fOption, name, inBody.After(equal))
                                 : PrintArgumentError(Message(kValueNotRequired, name, "` is not required"));
    }
    if (!entry.fTakesValue)
    {
        entry.fOption->SetFlag();
        return 0;
    }
    return _DrawAndHandValue(ioState, entry.fOption, name);
}

int32_t VCommandLineParser::_ParseShortOptions(ParseState& ioState, const VString& inArgument)
{
    if (inArgument.EqualToUSASCIICString("-ApplePersistenceIgnoreState") ||
        inArgument.EqualToUSASCIICString("-NSDocumentRevisionsDebugMode"))
    {
        if (ioState.fIndex + 1 < ioState.fTaken.size())
        {
            ioState.fTaken[ioState.fIndex + 1] = true;
        }
        return 0;
    }
    for (int32_t i = 2; i <= inArgument.GetLength(); ++i)
    {
        const UniChar letter = inArgument.GetUniChar(i);
        const auto found = fInfos.fShortNames.find(letter);
        if (found == fInfos.fShortNames.end())
        {
            return PrintArgumentError(Message(kMissingShortOption, inArgument));
        }
        const StOptionsInfos::Entry& entry = found->second;
        if (!entry.fTakesValue)
        {
            entry.fOption->SetFlag();
            continue;
        }
        const int32_t result = _DrawAndHandValue(ioState, entry.fOption, VString(letter));
        if (result != 0)
        {
            return result;
        }
    }
    return 0;
}

bool VCommandLineParser::_DrawValue(ParseState& ioState, VString& outValue) const
{
    const std::vector<VString>& arguments = *fInfos.fArguments;
    ioState.fCursor = std::max(ioState.fCursor, ioState.fIndex + 1);
    for (; ioState.fCursor < arguments.size(); ++ioState.fCursor)
    {
        const VString& candidate = arguments[ioState.fCursor];
        if (ioState.fTaken[ioState.fCursor])
        {
            continue;
        }
        if (IsEndOfOptions(candidate))
        {
            return false;
        }
        if (!IsDashed(candidate))
        {
            ioState.fTaken[ioState.fCursor] = true;
            outValue.FromString(candidate);
            ++ioState.fCursor;
            return true;
        }
    }
    return false;
}

int32_t VCommandLineParser::_DrawAndHandValue(ParseState& ioState, VOptionBase* inOption,
                                              const VString& inName)
{
    VString value;
    if (!_DrawValue(ioState, value))
    {
        VString line(kMissingValue);
        inOption->AppendFullName(line);
        return PrintArgumentError(line);
    }
    return _HandValue(inOption, inName, value);
}

int32_t VCommandLineParser::_HandValue(VOptionBase* inOption, const VString& inName, const VString& inValue)
{
    if (fInfos.fStandardInputAllowed && inValue.EqualToUSASCIICString("-"))
    {
        if (!_ReadStandardInput())
        {
            return PrintArgumentError(Message(kStandardInputFailed, inName));
        }
        return inOption->AppendArgument(*this, fInfos.fStandardInput) == 0 ? 0 : 1;
    }
    return inOption->AppendArgument(*this, inValue) == 0 ? 0 : 1;
}

bool VCommandLineParser::_ReadStandardInput()
{
    if (fInfos.fStandardInputRead)
    {
        return true;
    }
    std::string bytes;
    if (fTestStreams != nullptr)
    {
        if (!fTestStreams->fInput.has_value())
        {
            return false;
        }
        bytes = *fTestStreams->fInput;
    }
    else
    {
        std::array<char, 1024> block{};
        size_t count = 0;
        while ((count = std::fread(block.data(), 1, block.size(), stdin)) > 0)
        {
            bytes.append(block.data(), count);
        }
        if (std::ferror(stdin) != 0)
        {
            std::clearerr(stdin);
            return false;
        }
    }
    fInfos.fStandardInput.FromBlock(bytes.data(), bytes.size(), CharSet::VTC_UTF_8);
    fInfos.fStandardInputRead = true;
    return true;
}

// ------------------------------------------------------------------------------------------------
// Output

void VCommandLineParser::_Write(bool inError, const VString& inText) const
{
    std::string line = to_string(inText);
    line.push_back('\n');
    if (fTestStreams != nullptr)
    {
        (inError ? fTestStreams->fError : fTestStreams->fOutput).append(line);
        return;
    }
    std::FILE* stream = inError ? stderr : stdout;
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

void VCommandLineParser::Print(const VString& inText) const
{
    _Write(false, inText);
}

int32_t VCommandLineParser::PrintArgumentError(const VString& inText) const
{
    _Write(true, inText);
    return 1;
}

bool VCommandLineParser::_IsOutputTerminal() const
{
    return fTestStreams != nullptr ? fTestStreams->fTerminal : XPosixTerminal::IsStandardOutputTerminal();
}

void VCommandLineParser::_Output(VString* outText, const VString& inText) const
{
    if (outText != nullptr)
    {
        outText->AppendString(inText);
    }
    else if (inText.GetUniChar(inText.GetLength()) == u'\n')
    {
        Print(inText.Before(inText.GetLength())); // Print adds the last line break
    }
    else
    {
        Print(inText);
    }
}

void VCommandLineParser::PrintAllArguments(bool inWithProgramPath) const
{
    const std::vector<VString>& arguments = *fInfos.fArguments;
    for (size_t i = inWithProgramPath ? 0 : 1; i < arguments.size(); ++i)
    {
        VString line;
        line.AppendPrintf("[%zu] ", i);
        line.AppendString(arguments[i]);
        Print(line);
    }
}

// ------------------------------------------------------------------------------------------------
// Names

bool VCommandLineParser::ValidateLongOptionName(const VString& inName)
{
    const int32_t length = inName.GetLength();
    if (length == 0)
    {
        return true;
    }
    if (length == 1 || inName.GetUniChar(1) == u'-' || inName.GetUniChar(length) == u'-')
    {
        return false;
    }
    for (int32_t i = 1; i <= length; ++i)
    {
        const UniChar unit = inName.GetUniChar(i);
        if ((unit < u'a' || unit > u'z') && (unit < u'0' || unit > u'9') && unit != u'-')
        {
            return false;
        }
    }
    return true;
}

VString VCommandLineParser::ShownText(const VString& inText)
{
    VString shown(inText);
    for (int32_t i = 1; i <= shown.GetLength(); ++i)
    {
        const UniChar unit = shown.GetUniChar(i);
        if (unit < 0x20 || unit == 0x7F)
        {
            shown.SetUniChar(i, u'?');
        }
    }
    return shown;
}

bool VCommandLineParser::ValidateShortOptionName(UniChar inName)
{
    return (inName >= u'a' && inName <= u'z') || (inName >= u'A' && inName <= u'Z') ||
           (inName >= u'0' && inName <= u'9') || inName == 0 || inName == VOptionBase::kNoShortName;
}

} // namespace zorn
