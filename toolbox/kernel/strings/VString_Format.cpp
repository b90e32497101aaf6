// printf formatting into a VString, with the object conversions %S, %A and %V, and the
// substitution of named placeholders from a JSON object.
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace zorn
{

// printf

namespace
{

// The most bytes one _Printf call produces (object texts aside).
constexpr size_t kMaxOutputBytes = 1023;

enum class SpecKind
{
    kPercent,  // "%%"
    kOrdinary, // a conversion of the C library, with its argument
    kObject,   // %S, %A or %V
    kText,     // refused, unknown, positional or unfinished: copied as text, no argument
};

enum class LengthModifier
{
    kNone,
    kChar,     // hh
    kShort,    // h
    kLong,     // l
    kLongLong, // ll, q, and L before an integer conversion
    kLongDouble,
    kIntMax,  // j
    kSize,    // z, Z
    kPtrDiff, // t
};

// One conversion specification, from its '%' to fEnd (one past its last byte).
struct Spec
{
    const char* fEnd = nullptr;
    SpecKind fKind = SpecKind::kText;
    int fStars = 0; // '*' width and '.*' precision, each taking an int before the value
    LengthModifier fLength = LengthModifier::kNone;
    char fConversion = 0;
};

bool IsDigit(char inChar)
{
    return inChar >= '0' && inChar <= '9';
}

bool IsFlag(char inChar)
{
    switch (inChar)
    {
    case '-':
    case '+':
    case ' ':
    case '#':
    case '0':
    case '\'':
    case 'I':
        return true;
    default:
        return false;
    }
}

bool IsIntegerConversion(char inChar)
{
    return inChar != 0 && std::strchr("diouxX", inChar) != nullptr;
}

// 'A' is the value object conversion here, not the upper-case hexadecimal real.
bool IsRealConversion(char inChar)
{
    return inChar != 0 && std::strchr("eEfFgGa", inChar) != nullptr;
}

// The length modifiers of one letter other than 'h' and 'l'.
LengthModifier SingleLetterLength(char inChar)
{
    switch (inChar)
    {
    case 'q':
        return LengthModifier::kLongLong;
    case 'L':
        return LengthModifier::kLongDouble;
    case 'j':
        return LengthModifier::kIntMax;
    case 'z':
    case 'Z':
        return LengthModifier::kSize;
    case 't':
        return LengthModifier::kPtrDiff;
    default:
        return LengthModifier::kNone;
    }
}

// Reads a width or a precision: digits, or a '*' that takes an argument. A '*' followed by digits
// would make the C library look for a positional argument ("*2$") and walk the arguments its own
// way: then the specification stays text, up to the '*', and false is returned.
bool ReadCount(const char*& ioP, Spec& ioSpec)
{
    if (*ioP == '*')
    {
        ++ioSpec.fStars;
        if (IsDigit(*++ioP))
        {
            ioSpec.fEnd = ioP;
            return false;
        }
        return true;
    }
    while (IsDigit(*ioP))
    {
        ++ioP;
    }
    return true;
}

// Reads the specification that starts at inPercent (which points at a '%').
Spec ParseSpec(const char* inPercent)
{
    Spec spec;
    const char* p = inPercent + 1;
    if (*p == '%')
    {
        spec.fEnd = p + 1;
        spec.fKind = SpecKind::kPercent;
        return spec;
    }
    // A positional argument ("%1$d") cannot be walked in order: the text up to '$' stays as it is.
    const char* digits = p;
    while (IsDigit(*digits))
    {
        ++digits;
    }
    if (digits != p && *digits == '$')
    {
        spec.fEnd = digits + 1;
        return spec;
    }
    while (IsFlag(*p))
    {
        ++p;
    }
    if (!ReadCount(p, spec))
    {
        return spec;
    }
    if (*p == '.' && !ReadCount(++p, spec))
    {
        return spec;
    }
    if (*p == 'h' || *p == 'l')
    {
        bool doubled = p[1] == p[0];
        spec.fLength = *p == 'h' ? (doubled ? LengthModifier::kChar : LengthModifier::kShort)
                                 : (doubled ? LengthModifier::kLongLong : LengthModifier::kLong);
        p += doubled ? 2 : 1;
    }
    else if ((spec.fLength = SingleLetterLength(*p)) != LengthModifier::kNone)
    {
        ++p;
    }
    spec.fConversion = *p;
    if (*p == 0)
    {
        spec.fEnd = p; // unfinished at the end of the format
        return spec;
    }
    spec.fEnd = p + 1;
    if (*p == 'S' || *p == 'A' || *p == 'V')
    {
        spec.fKind = SpecKind::kObject;
    }
    else if (IsIntegerConversion(*p) || IsRealConversion(*p) || std::strchr("cCsp", *p) != nullptr)
    {
        spec.fKind = SpecKind::kOrdinary;
    }
    // Anything else stays text: %n (it would write through a caller's pointer) and the unknown.
    return spec;
}

// Steps over the arguments of an ordinary conversion, taking each by the type the C library
// reads it with, so that the arguments after it are found where they are.
void SkipArguments(const Spec& inSpec, va_list& ioArgs)
{
    for (int i = 0; i < inSpec.fStars; ++i)
    {
        (void)va_arg(ioArgs, int);
    }
    if (IsIntegerConversion(inSpec.fConversion))
    {
        switch (inSpec.fLength)
        {
        case LengthModifier::kLong:
            (void)va_arg(ioArgs, long);
            break;
        case LengthModifier::kLongLong:
        case LengthModifier::kLongDouble:
            (void)va_arg(ioArgs, long long);
            break;
        case LengthModifier::kIntMax:
            (void)va_arg(ioArgs, intmax_t);
            break;
        case LengthModifier::kSize:
            (void)va_arg(ioArgs, size_t);
            break;
        case LengthModifier::kPtrDiff:
            (void)va_arg(ioArgs, ptrdiff_t);
            break;
        default:
            (void)va_arg(ioArgs, int); // char and short arrive promoted
            break;
        }
    }
    else if (IsRealConversion(inSpec.fConversion))
    {
        if (inSpec.fLength == LengthModifier::kLongDouble)
        {
            (void)va_arg(ioArgs, long double);
        }
        else
        {
            (void)va_arg(ioArgs, double);
        }
    }
    else if (inSpec.fConversion == 'c' || inSpec.fConversion == 'C')
    {
        (void)va_arg(ioArgs, wint_t);
    }
    else if (inSpec.fConversion == 's' && inSpec.fLength == LengthModifier::kLong)
    {
        (void)va_arg(ioArgs, const wchar_t*);
    }
    else if (inSpec.fConversion == 's')
    {
        (void)va_arg(ioArgs, const char*);
    }
    else // 'p'
    {
        (void)va_arg(ioArgs, const void*);
    }
}

// Whether the pointer may designate a live object; only its form can be checked.
bool MayBeVObject(const void* inPointer)
{
    if (const VCppMemMgr* manager = VObject::sCppMemMgr)
    {
        return manager->CheckVObject(inPointer);
    }
    return inPointer != nullptr && reinterpret_cast<uintptr_t>(inPointer) % alignof(void*) == 0;
}

void ObjectText(char inConversion, const void* inPointer, VString& outText)
{
    if (!MayBeVObject(inPointer))
    {
        outText = CVSTR("@@invalid VObject@@");
        return;
    }
    // Every toolbox class has VObject as its first base, at the object's own address.
    const VObject* object = static_cast<const VObject*>(inPointer);
    if (inConversion == 'S')
    {
        const VString* text = dynamic_cast<const VString*>(object);
        outText = text != nullptr ? *text : CVSTR("@@invalid VString@@");
    }
    else if (inConversion == 'A')
    {
        if (const VValueSingle* value = dynamic_cast<const VValueSingle*>(object))
        {
            value->GetString(outText);
        }
        else
        {
            outText = CVSTR("@@invalid VValueSingle@@");
        }
    }
    else
    {
        object->DebugDump(outText);
    }
}

// The formatted text on its way into the string: it counts the bytes against the limit, cuts
// at a UTF-8 character boundary and stops at the cut or at a zero byte.
class FormatOutput
{
public:
    explicit FormatOutput(VString& ioTarget) : fTarget(ioTarget) {}

    bool IsDone() const { return fDone; }

    // Formats inFormat (a rewritten run of the caller's format) with inArgs and appends it.
    void AppendFormatted(const char* inFormat, va_list inArgs)
    {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        int produced = std::vsnprintf(fBuffer, sizeof(fBuffer), inFormat, inArgs);
#pragma GCC diagnostic pop
        if (produced <= 0)
        {
            return; // nothing, or an encoding error of a wide argument
        }
        size_t length = static_cast<size_t>(produced);
        size_t written = std::min(length, sizeof(fBuffer) - 1);
        if (const void* zero = std::memchr(fBuffer, 0, written))
        {
            length = static_cast<size_t>(static_cast<const char*>(zero) - fBuffer);
            fDone = true;
        }
        size_t room = kMaxOutputBytes - fUsed;
        if (length > room)
        {
            // fBuffer[room] was written: it tells whether the cut splits a character.
            length = room;
            while (length > 0 && (static_cast<unsigned char>(fBuffer[length]) & 0xC0) == 0x80)
            {
                --length;
            }
            fDone = true;
        }
        fBuffer[length] = 0;
        fUsed += length;
        _AppendBytes(length);
    }

    void AppendObject(char inConversion, const void* inPointer)
    {
        VString text;
        ObjectText(inConversion, inPointer, text);
        fTarget.AppendString(text);
    }

private:
    // Appends the first inLength bytes of fBuffer as AppendCString does: ASCII is widened here,
    // in one pass with the length known; anything else goes to AppendCString's converter.
    void _AppendBytes(size_t inLength)
    {
        const int32_t oldLength = fTarget.GetLength();
        const int32_t newLength = oldLength + static_cast<int32_t>(inLength);
        UniChar* units = fTarget.GetCPointerForWrite(newLength);
        if (units == nullptr)
        {
            return;
        }
        units += oldLength;
        for (size_t i = 0; i < inLength; ++i)
        {
            unsigned char byte = static_cast<unsigned char>(fBuffer[i]);
            if (byte >= 0x80)
            {
                fTarget.AppendCString(fBuffer);
                return;
            }
            units[i] = byte;
        }
        fTarget.Validate(newLength);
    }

    VString& fTarget;
    size_t fUsed = 0;
    bool fDone = false;
    // Room past the limit, so that the byte after a cut is there to look at.
    char fBuffer[kMaxOutputBytes + 8];
};

// Appends text to a rewritten format so that the C library prints it as it is.
void AppendLiteral(std::string& ioFormat, const char* inBegin, const char* inEnd)
{
    for (const char* p = inBegin; p != inEnd; ++p)
    {
        if (*p == '%')
        {
            ioFormat += '%';
        }
        ioFormat += *p;
    }
}

// Whether every conversion of the format is the C library's own, or "%%".
bool IsPlainFormat(const char* inFormat)
{
    for (const char* percent = std::strchr(inFormat, '%'); percent != nullptr;
         percent = std::strchr(percent, '%'))
    {
        Spec spec = ParseSpec(percent);
        if (spec.fKind != SpecKind::kOrdinary && spec.fKind != SpecKind::kPercent)
        {
            return false;
        }
        percent = spec.fEnd;
    }
    return true;
}

} // namespace

void VString::_Printf(const char* inFormat, va_list inArgs)
{
    if (inFormat == nullptr)
    {
        return;
    }
    FormatOutput output(*this);
    if (IsPlainFormat(inFormat))
    {
        // Nothing to take out or rewrite: the C library formats it as it stands.
        va_list args;
        va_copy(args, inArgs);
        output.AppendFormatted(inFormat, args);
        va_end(args);
        return;
    }
    va_list cursor; // the next argument to take
    va_copy(cursor, inArgs);
    // The ordinary conversions between two object conversions are formatted in one run by the C
    // library, from a copy of the arguments where the run starts.
    std::string run;
    va_list runArgs;
    bool runOpen = false;
    auto openRun = [&]
    {
        if (!runOpen)
        {
            va_copy(runArgs, cursor);
            runOpen = true;
        }
    };
    auto closeRun = [&]
    {
        if (runOpen)
        {
            output.AppendFormatted(run.c_str(), runArgs);
            va_end(runArgs);
            run.clear();
            runOpen = false;
        }
    };
    const char* p = inFormat;
    while (*p != 0 && !output.IsDone())
    {
        const char* percent = std::strchr(p, '%');
        const char* literalEnd = percent != nullptr ? percent : p + std::strlen(p);
        if (literalEnd != p)
        {
            openRun();
            run.append(p, literalEnd);
        }
        if (percent == nullptr)
        {
            break;
        }
        Spec spec = ParseSpec(percent);
        switch (spec.fKind)
        {
        case SpecKind::kPercent:
            openRun();
            run += "%%";
            break;
        case SpecKind::kOrdinary:
            openRun();
            run.append(percent, spec.fEnd);
            SkipArguments(spec, cursor);
            break;
        case SpecKind::kObject:
        {
            for (int i = 0; i < spec.fStars; ++i)
            {
                (void)va_arg(cursor, int);
            }
            const void* object = va_arg(cursor, const void*);
            closeRun();
            if (!output.IsDone())
            {
                output.AppendObject(spec.fConversion, object);
            }
            break;
        }
        case SpecKind::kText:
            openRun();
            AppendLiteral(run, percent, spec.fEnd);
            break;
        }
        p = spec.fEnd;
    }
    if (!output.IsDone())
    {
        closeRun();
    }
    else if (runOpen)
    {
        va_end(runArgs);
    }
    va_end(cursor);
}

void VString::Printf(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    VPrintf(inFormat, args);
    va_end(args);
}

void VString::VPrintf(const char* inFormat, va_list inArgs)
{
    _EmptyForFormat();
    _Printf(inFormat, inArgs);
}

VString& VString::AppendPrintf(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    _Printf(inFormat, args);
    va_end(args);
    return *this;
}

VString Printf(const char* inFormat, ...)
{
    VString result;
    va_list args;
    va_start(args, inFormat);
    result.VPrintf(inFormat, args);
    va_end(args);
    return result;
}

// Placeholders

VString& VString::Format(const VJSONObject* inObject, bool inRemoveAbsent)
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (json == nullptr || inObject == nullptr || json->fIsEmpty(inObject))
    {
        return *this;
    }
    return _FormatPlaceholders([json, inObject](const VString& inName, VString& outText)
                               { return json->fGetText(inObject, inName, outText); },
                               inRemoveAbsent);
}

VString& VString::_FormatPlaceholders(const std::function<bool(const VString&, VString&)>& inLookup,
                                      bool inRemoveAbsent)
{
    if (fLength < 2)
    {
        return *this;
    }
    int32_t pos = 0; // 0-based
    while (pos < fLength)
    {
        int32_t open = FindUniChar(u'{', pos + 1) - 1;
        if (open < 0)
        {
            break;
        }
        if (open + 1 < fLength && fString[open + 1] == u'{')
        {
            pos = open + 2; // "{{" is not a placeholder
            continue;
        }
        int32_t close = FindUniChar(u'}', open + 2) - 1;
        if (close < 0)
        {
            break;
        }
        if (close + 1 < fLength && fString[close + 1] == u'}')
        {
            pos = close + 2; // nor is what "}}" ends
            continue;
        }
        VString name(fString + open + 1, close - open - 1);
        VString text;
        if (name.FindUniChar(u' ') != 0)
        {
            pos = close + 1;
        }
        else if (inLookup(name, text))
        {
            Replace(text, open + 1, close - open + 1);
            pos = open + text.GetLength();
        }
        else if (inRemoveAbsent)
        {
            Remove(open + 1, close - open + 1);
            pos = open;
        }
        else
        {
            pos = close + 1;
        }
    }
    return *this;
}

void VString::FormatWithTemplate(const VJSONObject* inObject, VString& outResult) const
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    std::vector<VString> pieces;
    GetSubStrings(CVSTR("{{"), pieces, true);
    std::vector<VString> parts;
    for (size_t i = 0; i < pieces.size(); ++i)
    {
        // The text before the first "{{" opens no marker, even when it holds a "}}".
        if (i == 0 || !pieces[i].GetSubStrings(CVSTR("}}"), parts, true))
        {
            outResult.AppendString(pieces[i]);
            continue;
        }
        VString text;
        if (json != nullptr && inObject != nullptr && json->fGetTextWithPath(inObject, parts[0], text))
        {
            outResult.AppendString(text);
        }
        for (size_t j = 1; j < parts.size(); ++j)
        {
            outResult.AppendString(parts[j]);
        }
    }
}

} // namespace zorn
