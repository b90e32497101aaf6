// The texts a parser writes about its options: the help, the JSON export and the manual page.
#include "toolbox/process/VCommandLineParser.h"

namespace zorn
{

// ------------------------------------------------------------------------------------------------
// Help

namespace
{

constexpr int32_t kDescriptionColumn = 30;
// Descriptions are cut into pieces of at most this many characters.
constexpr int32_t kWrapWidth = 80;
constexpr const char* kYellow = "\033[0;33m";
constexpr const char* kGreen = "\033[0;32m";
constexpr const char* kColourEnd = "\033[0m";

bool IsBreak(UniChar inUnit)
{
    return inUnit == u' ' || inUnit == u'.' || inUnit == u'\r' || inUnit == u'\n' || inUnit == u'\t';
}

void AppendBlanks(VString& ioText, int32_t inCount)
{
    for (int32_t i = 0; i < inCount; ++i)
    {
        ioText.AppendUniChar(u' ');
    }
}

// The description, each piece after the first on a new line at the description column. A piece
// that ends with its own line feed needs no line break of ours.
void AppendWrapped(VString& ioText, const VString& inDescription)
{
    const UniChar* units = inDescription.GetCPointer();
    const int32_t length = inDescription.GetLength();
    int32_t start = 0;
    while (length - start > kWrapWidth)
    {
        int32_t cut = start + kWrapWidth;
        while (cut > start && !IsBreak(units[cut - 1]))
        {
            --cut;
        }
        if (cut == start)
        {
            cut = start + kWrapWidth;
            if (units[cut - 1] >= 0xD800 && units[cut - 1] <= 0xDBFF)
            {
                --cut; // keeps a surrogate pair whole
            }
        }
        ioText.AppendUniChars(units + start, cut - start);
        if (units[cut - 1] != u'\n')
        {
            ioText.AppendUniChar(u'\n');
        }
        AppendBlanks(ioText, kDescriptionColumn);
        start = cut;
    }
    ioText.AppendUniChars(units + start, length - start);
}

void AppendOptionLine(VString& ioText, const VOptionBase& inOption, bool inColours)
{
    VString names;
    const bool hasLong = !inOption.GetLongName().IsEmpty();
    if (inOption.HasShortName())
    {
        names.AppendUniChar(u'-');
        names.AppendUniChar(inOption.GetShortName());
        if (hasLong)
        {
            names.AppendCString(", ");
        }
    }
    else
    {
        AppendBlanks(names, 4);
    }
    if (hasLong)
    {
        names.AppendCString("--");
        names.AppendString(inOption.GetLongName());
    }
    if (inOption.TakesValue())
    {
        names.AppendCString(hasLong ? "=VALUE" : " VALUE");
    }
    if (inColours)
    {
        ioText.AppendCString(kGreen);
        ioText.AppendString(names);
        ioText.AppendCString(kColourEnd);
    }
    else
    {
        ioText.AppendString(names);
    }
    if (inOption.GetDescription().IsEmpty())
    {
        return;
    }
    if (names.GetLength() < kDescriptionColumn)
    {
        AppendBlanks(ioText, kDescriptionColumn - names.GetLength());
    }
    else
    {
        ioText.AppendUniChar(u'\n');
        AppendBlanks(ioText, kDescriptionColumn);
    }
    AppendWrapped(ioText, inOption.GetDescription());
}

} // namespace

VString StOptionsInfos::HelpUsage(const VString& inProgramName, bool inColours) const
{
    VString text("Usage: ");
    text.AppendString(inProgramName);
    text.AppendCString(" [OPTION]...");
    if (fPositionalCollector != nullptr)
    {
        text.AppendCString(" [FILE]...");
    }
    for (const VOptionBase* option : fOptions)
    {
        text.AppendUniChar(u'\n');
        if (!option->IsParagraph())
        {
            AppendOptionLine(text, *option, inColours);
        }
        else if (inColours)
        {
            text.AppendCString(kYellow);
            text.AppendString(option->GetDescription());
            text.AppendCString(kColourEnd);
        }
        else
        {
            text.AppendString(option->GetDescription());
        }
    }
    text.AppendUniChar(u'\n');
    AppendOptionLine(
        text, VOptionBase(VOptionBase::kNoShortName, VString("help"), VString("Display the help and exit")),
        inColours);
    return text;
}

// ------------------------------------------------------------------------------------------------
// JSON

namespace
{

// The text as the inside of a JSON string.
void AppendJSONText(VString& ioJSON, const VString& inText)
{
    VString escaped;
    if (inText.GetJSONString(escaped, 0) == VE_OK)
    {
        ioJSON.AppendString(escaped);
    }
}

void AppendJSONMember(VString& ioJSON, const char* inName, const VString& inText, bool inLast)
{
    ioJSON.AppendCString("\t\t\t\t\"");
    ioJSON.AppendCString(inName);
    ioJSON.AppendCString("\": \"");
    AppendJSONText(ioJSON, inText);
    ioJSON.AppendCString(inLast ? "\"\n" : "\",\n");
}

} // namespace

void VCommandLineParser::ExportAsJSON(VString* outText) const
{
    const std::vector<VString>& arguments = *fInfos.fArguments;
    VString json("{\n\t\"arguments\": {\n\t\t\"count\": ");
    json.AppendLong8(static_cast<int64_t>(arguments.size()));
    json.AppendCString(",\n\t\t\"values\": [\n");
    for (size_t i = 0; i < arguments.size(); ++i)
    {
        json.AppendCString("\t\t\t\"");
        AppendJSONText(json, arguments[i]);
        json.AppendCString(i + 1 < arguments.size() ? "\",\n" : "\"\n");
    }
    json.AppendCString("\t\t]\n\t},\n\t\"options\": {\n\t\t\"count\": ");
    json.AppendLong8(static_cast<int64_t>(fInfos.fOptions.size()));
    json.AppendCString(",\n\t\t\"values\": [\n");
    for (size_t i = 0; i < fInfos.fOptions.size(); ++i)
    {
        const VOptionBase& option = *fInfos.fOptions[i];
        json.AppendCString("\t\t\t{\n");
        if (option.IsParagraph())
        {
            AppendJSONMember(json, "paragraph", option.GetDescription(), true);
        }
        else
        {
            if (option.HasShortName())
            {
                AppendJSONMember(json, "shortName", VString(option.GetShortName()), false);
            }
            AppendJSONMember(json, "longName", option.GetLongName(), false);
            if (option.TakesValue())
            {
                json.AppendCString("\t\t\t\t\"requiresValue\": true,\n");
            }
            AppendJSONMember(json, "description", option.GetDescription(), true);
        }
        json.AppendCString(i + 1 < fInfos.fOptions.size() ? "\t\t\t},\n" : "\t\t\t}\n");
    }
    json.AppendCString("\t\t]\n\t}\n}\n");
    _Output(outText, json);
}

// ------------------------------------------------------------------------------------------------
// Manual page

namespace
{

enum class TroffPlace
{
    kLine,   // a text line of its own
    kQuoted, // a macro argument between double quotes
    kName,   // an unquoted macro argument naming an option
};

// The text for troff: control characters dropped (a line feed would end the line, a tab
// misalign it), a backslash as "\e"; in arguments a double quote as "\(dq"; in names a space as
// "\ " and '-' as "\-" (a minus that copies as itself); a text line that would begin with '.' or
// '\'' (a request) behind "\&".
VString TroffText(const VString& inText, TroffPlace inPlace)
{
    VString text;
    for (int32_t i = 0; i < inText.GetLength(); ++i)
    {
        const UniChar unit = inText.GetCPointer()[i];
        if (unit < 0x20 || unit == 0x7F)
        {
            continue;
        }
        if (unit == u'\\')
        {
            text.AppendCString("\\e");
        }
        else if (unit == u'"' && inPlace != TroffPlace::kLine)
        {
            text.AppendCString("\\(dq");
        }
        else if (unit == u'-' && inPlace == TroffPlace::kName)
        {
            text.AppendCString("\\-");
        }
        else if (unit == u' ' && inPlace == TroffPlace::kName)
        {
            text.AppendCString("\\ ");
        }
        else
        {
            text.AppendUniChar(unit);
        }
    }
    if (inPlace == TroffPlace::kLine && (text.GetUniChar(1) == u'.' || text.GetUniChar(1) == u'\''))
    {
        text.Insert(VString("\\&"), 1);
    }
    return text;
}

} // namespace

void VCommandLineParser::ExportAsManPage(VString* outText) const
{
    VString page(".SH OPTIONS\n");
    for (const VOptionBase* option : fInfos.fOptions)
    {
        if (option->IsParagraph())
        {
            page.AppendCString(".SS \"");
            page.AppendString(TroffText(option->GetDescription(), TroffPlace::kQuoted));
            page.AppendCString("\"\n");
            continue;
        }
        const bool hasLong = !option->GetLongName().IsEmpty();
        page.AppendCString(".TP\n.BR ");
        if (option->HasShortName())
        {
            page.AppendCString("\\-");
            page.AppendString(TroffText(VString(option->GetShortName()), TroffPlace::kName));
            if (hasLong)
            {
                page.AppendCString(" \", \" ");
            }
            else if (option->TakesValue())
            {
                page.AppendCString(" \\fIVALUE\\fR");
            }
        }
        if (hasLong)
        {
            page.AppendCString("\\-\\-");
            page.AppendString(TroffText(option->GetLongName(), TroffPlace::kName));
            if (option->TakesValue())
            {
                page.AppendCString("=\\fIVALUE\\fR");
            }
        }
        page.AppendUniChar(u'\n');
        const VString description = TroffText(option->GetDescription(), TroffPlace::kLine);
        if (!description.IsEmpty())
        {
            page.AppendString(description);
            page.AppendUniChar(u'\n');
        }
    }
    _Output(outText, page);
}

} // namespace zorn
