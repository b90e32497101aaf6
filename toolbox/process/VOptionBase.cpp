#include "toolbox/process/VOptionBase.h"

#include "toolbox/process/VCommandLineParser.h"

namespace zorn
{

namespace
{

// Longer values are cut to this many characters in error lines.
constexpr int32_t kShownValueLength = 80;

} // namespace

VOptionBase::VOptionBase(UniChar inShortName, const VString& inLongName, const VString& inDescription,
                         bool inTakesValue)
    : fShortName(inShortName), fLongName(inLongName), fDescription(inDescription), fTakesValue(inTakesValue)
{
}

VOptionBase::~VOptionBase() = default;

int32_t VOptionBase::AppendArgument(VCommandLineParser& /*inParser*/, const VString& /*inValue*/)
{
    return 1;
}

void VOptionBase::SetFlag() {}

bool VOptionBase::AppendFullName(VString& ioText) const
{
    if (HasShortName())
    {
        ioText.AppendUniChar(u'-');
        ioText.AppendUniChar(fShortName);
        if (!fLongName.IsEmpty())
        {
            ioText.AppendCString(", ");
        }
    }
    if (!fLongName.IsEmpty())
    {
        ioText.AppendCString("--");
        ioText.AppendString(fLongName);
    }
    return HasShortName() || !fLongName.IsEmpty();
}

int32_t VOptionBase::PrintInvalidValue(VCommandLineParser& inParser, const VString& inValue,
                                       const char* inExpected) const
{
    VString line("invalid value for argument '");
    if (!AppendFullName(line))
    {
        line.AppendCString("<anonymous>");
    }
    line.AppendCString("' got ");
    if (inValue.IsEmpty())
    {
        line.AppendCString("empty value ");
    }
    else
    {
        line.AppendUniChar(u'"');
        if (inValue.GetLength() > kShownValueLength)
        {
            VString shown(inValue);
            shown.Truncate(kShownValueLength, true);
            line.AppendString(VCommandLineParser::ShownText(shown));
            line.AppendCString("...");
        }
        else
        {
            line.AppendString(VCommandLineParser::ShownText(inValue));
        }
        line.AppendUniChar(u'"');
    }
    line.AppendUniChar(u' ');
    line.AppendCString(inExpected);
    return inParser.PrintArgumentError(line);
}

} // namespace zorn
