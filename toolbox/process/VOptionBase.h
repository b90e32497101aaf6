// VOptionBase: one option of a command line as VCommandLineParser knows it: an optional one-letter
// short name, a long name, the description that the help shows, and whether it takes a value. The
// typed options that write values into the application's variables are VArgOption; the parser's
// registry owns every option once registered.
//
// Paragraph markers of the help are plain VOptionBase objects with no short name (kNoShortName), no
// long name and the paragraph text as description. A short name of 0 also counts as none.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>

namespace zorn
{

class VCommandLineParser;

class VOptionBase
{
public:
    // The short name of an option that has none (a space).
    static constexpr UniChar kNoShortName = 32;

    VOptionBase(UniChar inShortName, const VString& inLongName, const VString& inDescription,
                bool inTakesValue = false);
    virtual ~VOptionBase();
    VOptionBase(const VOptionBase&) = delete;
    VOptionBase& operator=(const VOptionBase&) = delete;

    // Hands one value to the option: 0 when it was taken; otherwise the option has printed its one
    // error line through inParser (PrintArgumentError) and the parse stops. The base takes nothing
    // and prints nothing: 1.
    virtual int32_t AppendArgument(VCommandLineParser& inParser, const VString& inValue);
    // The option was given without a value (a flag). The base does nothing.
    virtual void SetFlag();

    // Appends "-x" when there is a short name, then ", " when there is also a long name, then
    // "--" and the long name when there is one ("-x, --long", "-x", "--long"); whether anything
    // was appended.
    bool AppendFullName(VString& ioText) const;

    bool HasShortName() const { return fShortName != 0 && fShortName != kNoShortName; }
    UniChar GetShortName() const { return fShortName; }
    const VString& GetLongName() const { return fLongName; }
    const VString& GetDescription() const { return fDescription; }
    bool TakesValue() const { return fTakesValue; }
    // The registry sets what the option was registered with, so that the help and the exports
    // show what the parse does.
    void SetTakesValue(bool inTakesValue) { fTakesValue = inTakesValue; }
    // No short and no long name: a paragraph marker in the registry's list.
    bool IsParagraph() const { return !HasShortName() && fLongName.IsEmpty(); }

protected:
    // Prints "invalid value for argument '<full name>' got "<value>" <inExpected>" through the
    // parser and returns 1. An option without a name shows "<anonymous>"; a value longer than 80
    // characters shows its first 80 followed by "..."; an empty value shows "empty value " in
    // place of the quoted value (hence two spaces before inExpected). Control characters show as
    // '?' (VCommandLineParser::ShownText).
    int32_t PrintInvalidValue(VCommandLineParser& inParser, const VString& inValue,
                              const char* inExpected) const;

private:
    UniChar fShortName;
    VString fLongName;
    VString fDescription;
    bool fTakesValue;
};

} // namespace zorn
