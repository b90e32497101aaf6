// Formats from the input through VString::Printf, with arguments of the types the format's
// conversions ask for (ints, 64-bit ints, doubles, long doubles, C and wide strings, pointers,
// VString and VLong objects). Besides the sanitizers' checks (an argument taken with the wrong
// type shows as a wild read): for a format without object conversions, %n or conversions the
// engine copies as text, the string holds what snprintf gives, up to the engine's cut.
//
// Input: the format up to the first zero byte (at most 256 bytes), then the bytes the argument
// values are taken from. Formats with more than 4 arguments, positional arguments or a width or
// precision above 9999 are skipped.

#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

enum class SlotType
{
    kInt,
    kLong64,
    kDouble,
    kLongDouble,
    kPointer, // C strings, wide strings, %p, objects
};

struct Slot
{
    SlotType fType = SlotType::kInt;
    int fInt = 0;
    long long fLong64 = 0;
    double fDouble = 0;
    long double fLongDouble = 0;
    const void* fPointer = nullptr;
};

constexpr size_t kMaxSlots = 4;

struct Case
{
    const char* fFormat = nullptr;
    std::vector<Slot> fSlots;
    bool fComparable = true;
};

// Arguments taken from the input bytes, in order; zeros once they run out.
class ValueSource
{
public:
    ValueSource(const uint8_t* inData, size_t inSize) : fData(inData), fSize(inSize) {}
    template <class T>
    T Take()
    {
        T value{};
        size_t count = std::min(sizeof(T), fSize - fPos);
        std::memcpy(&value, fData + fPos, count);
        fPos += count;
        return value;
    }

private:
    const uint8_t* fData;
    size_t fSize;
    size_t fPos = 0;
};

VString& TheString()
{
    static VString sString("object;;;text");
    return sString;
}

VLong& TheLong()
{
    static VLong sLong(-42);
    return sLong;
}

bool IsDigit(char inChar)
{
    return inChar >= '0' && inChar <= '9';
}

// Skips a run of digits; false when it is longer than four.
bool SkipNumber(const char*& ioP)
{
    const char* start = ioP;
    while (IsDigit(*ioP))
    {
        ++ioP;
    }
    return ioP - start <= 4;
}

// Reads the format's conversions into argument slots. False: the input is skipped.
bool ParseFormat(const char* inFormat, ValueSource& ioValues, Case& outCase)
{
    static const char* const kTexts[] = {"text", "caf\xC3\xA9", "a;;;b;;;c", ""};
    static const wchar_t* const kWide[] = {L"wide", L"\u00E9t\u00E9"};
    for (const char* p = inFormat; *p != 0; ++p)
    {
        if (*p != '%')
        {
            continue;
        }
        const char* q = p + 1;
        if (*q == '%')
        {
            p = q;
            continue;
        }
        const char* digits = q;
        while (IsDigit(*digits))
        {
            ++digits;
        }
        if (*digits == '$')
        {
            return false;
        }
        while (*q != 0 && std::strchr("-+ #0'I", *q) != nullptr)
        {
            ++q;
        }
        int stars = 0;
        if (*q == '*')
        {
            ++stars;
            if (IsDigit(*++q))
            {
                outCase.fComparable = false; // "%*" stays text, the digits after it too
                p = q - 1;
                continue;
            }
        }
        if (!SkipNumber(q))
        {
            return false;
        }
        if (*q == '.')
        {
            ++q;
            if (*q == '*')
            {
                ++stars;
                if (IsDigit(*++q))
                {
                    outCase.fComparable = false; // the specification up to ".*" stays text
                    p = q - 1;
                    continue;
                }
            }
            if (!SkipNumber(q))
            {
                return false;
            }
        }
        bool wide = false;
        bool longDouble = false;
        bool wideInteger = false;
        if (q[0] == 'h')
        {
            q += q[1] == 'h' ? 2 : 1;
        }
        else if (q[0] == 'l')
        {
            wide = true;
            wideInteger = true;
            q += q[1] == 'l' ? 2 : 1;
        }
        else if (std::strchr("qjzZt", q[0]) != nullptr && q[0] != 0)
        {
            wideInteger = true;
            ++q;
        }
        else if (q[0] == 'L')
        {
            longDouble = true;
            wideInteger = true;
            ++q;
        }
        char conversion = *q;
        if (conversion == 0)
        {
            outCase.fComparable = false; // unfinished: copied as text
            break;
        }
        p = q;
        std::vector<Slot> slots(static_cast<size_t>(stars));
        for (Slot& slot : slots)
        {
            slot.fInt = ioValues.Take<int16_t>() % 2000; // no runaway widths
        }
        Slot value;
        if (std::strchr("diouxX", conversion) != nullptr)
        {
            value.fType = wideInteger ? SlotType::kLong64 : SlotType::kInt;
            value.fInt = ioValues.Take<int>();
            value.fLong64 = ioValues.Take<long long>();
        }
        else if (std::strchr("eEfFgGa", conversion) != nullptr)
        {
            value.fType = longDouble ? SlotType::kLongDouble : SlotType::kDouble;
            value.fDouble = ioValues.Take<double>();
            value.fLongDouble = static_cast<long double>(value.fDouble) * ioValues.Take<int8_t>();
        }
        else if (conversion == 'c' || conversion == 'C')
        {
            value.fInt = ioValues.Take<uint8_t>() % 128; // ASCII, so that wide characters convert
        }
        else if (conversion == 's')
        {
            value.fType = SlotType::kPointer;
            uint8_t pick = ioValues.Take<uint8_t>();
            value.fPointer = wide ? static_cast<const void*>(kWide[pick % 2]) : kTexts[pick % 4];
        }
        else if (conversion == 'p')
        {
            value.fType = SlotType::kPointer;
            value.fPointer = reinterpret_cast<const void*>(ioValues.Take<uintptr_t>());
        }
        else if (conversion == 'S' || conversion == 'A' || conversion == 'V')
        {
            value.fType = SlotType::kPointer;
            uint8_t pick = ioValues.Take<uint8_t>();
            value.fPointer = pick % 3 == 0   ? static_cast<const void*>(&TheLong())
                             : pick % 3 == 1 ? static_cast<const void*>(&TheString())
                                             : nullptr;
            outCase.fComparable = false;
        }
        else
        {
            outCase.fComparable = false; // %n and unknown conversions: copied, no argument
            continue;
        }
        slots.push_back(value);
        outCase.fSlots.insert(outCase.fSlots.end(), slots.begin(), slots.end());
        if (outCase.fSlots.size() > kMaxSlots)
        {
            return false;
        }
    }
    return true;
}

// What the engine keeps of the C library's output: up to the first zero byte, at most 1023 bytes,
// without a character that the cut splits.
std::string CutLikeTheEngine(const char* inBytes, size_t inLength)
{
    size_t length = strnlen(inBytes, inLength);
    if (length > 1023)
    {
        length = 1023;
        while (length > 0 && (static_cast<unsigned char>(inBytes[length]) & 0xC0) == 0x80)
        {
            --length;
        }
    }
    return std::string(inBytes, length);
}

template <class... T>
void Run(const Case& inCase, T... inArgs)
{
    VString text("previous");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    text.Printf(inCase.fFormat, inArgs...);
    if (!inCase.fComparable)
    {
        return;
    }
    static char sBuffer[4096];
    int produced = std::snprintf(sBuffer, sizeof(sBuffer), inCase.fFormat, inArgs...);
#pragma GCC diagnostic pop
    if (produced < 0)
    {
        return;
    }
    VString expected;
    expected.AppendCString(
        CutLikeTheEngine(sBuffer, std::min(static_cast<size_t>(produced), sizeof(sBuffer) - 1)).c_str());
    Check(text.EqualToStringRaw(expected));
}

template <class... T>
void Dispatch(const Case& inCase, size_t inIndex, T... inArgs)
{
    if constexpr (sizeof...(T) < kMaxSlots)
    {
        if (inIndex < inCase.fSlots.size())
        {
            const Slot& slot = inCase.fSlots[inIndex];
            switch (slot.fType)
            {
            case SlotType::kInt:
                return Dispatch(inCase, inIndex + 1, inArgs..., slot.fInt);
            case SlotType::kLong64:
                return Dispatch(inCase, inIndex + 1, inArgs..., slot.fLong64);
            case SlotType::kDouble:
                return Dispatch(inCase, inIndex + 1, inArgs..., slot.fDouble);
            case SlotType::kLongDouble:
                return Dispatch(inCase, inIndex + 1, inArgs..., slot.fLongDouble);
            case SlotType::kPointer:
                return Dispatch(inCase, inIndex + 1, inArgs..., slot.fPointer);
            }
        }
    }
    Run(inCase, inArgs...);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    size_t formatLength = strnlen(reinterpret_cast<const char*>(inData), std::min<size_t>(inSize, 256));
    std::string format(reinterpret_cast<const char*>(inData), formatLength);
    size_t rest = std::min(inSize, formatLength + 1);
    ValueSource values(inData + rest, inSize - rest);
    Case input;
    input.fFormat = format.c_str();
    if (!ParseFormat(input.fFormat, values, input))
    {
        return 0;
    }
    Dispatch(input, 0);
    return 0;
}
