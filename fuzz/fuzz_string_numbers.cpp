// Text of any kind through the number readers of VString: ParseInt in every radix (and a few
// outside 2 to 36), GetLong8, GetHexLong, GetOsType and GetRealCheckOverflow. Besides the
// sanitizers' checks (no signed overflow, no read outside the text): on ASCII text ParseInt agrees
// with a small reference parser that reads the digits with strtoull, wherever the number is exact.
//
// Input: byte 0 bit 0 set: the rest is UTF-16LE units; clear: the rest is UTF-8 (decoded with
// replacement of what is malformed).

#include "toolbox/kernel/strings/VString.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

bool IsASCIIWhite(char inChar)
{
    return inChar == ' ' || (inChar >= '\t' && inChar <= '\r');
}

// ECMAScript parseInt on ASCII text, for numbers below 2^53 (beyond, false: no opinion).
bool ReferenceParseInt(const std::string& inText, int inRadix, double& outValue)
{
    size_t i = 0;
    while (i < inText.size() && IsASCIIWhite(inText[i]))
    {
        ++i;
    }
    bool negative = false;
    if (i < inText.size() && (inText[i] == '+' || inText[i] == '-'))
    {
        negative = inText[i] == '-';
        ++i;
    }
    bool prefixed = inText.compare(i, 2, "0x") == 0 || inText.compare(i, 2, "0X") == 0;
    if ((inRadix == 0 || inRadix == 16) && prefixed)
    {
        i += 2;
        inRadix = 16;
    }
    if (inRadix == 0)
    {
        inRadix = 10;
    }
    if (inRadix < 2 || inRadix > 36)
    {
        outValue = NAN;
        return true;
    }
    size_t end = i;
    while (end < inText.size())
    {
        char c = inText[end];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'z' ? c - 'a' + 10
                    : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                           : 99;
        if (digit >= inRadix)
        {
            break;
        }
        ++end;
    }
    if (end == i)
    {
        outValue = NAN;
        return true;
    }
    std::string digits = inText.substr(i, end - i);
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, inRadix);
    if (errno == ERANGE || value >= (1ULL << 53))
    {
        return false;
    }
    outValue = negative ? -static_cast<double>(value) : static_cast<double>(value);
    return true;
}

bool SameNumber(double inA, double inB)
{
    return (std::isnan(inA) && std::isnan(inB)) || (inA == inB && std::signbit(inA) == std::signbit(inB));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize < 1)
    {
        return 0;
    }
    const bool utf16 = (inData[0] & 1) != 0;
    VString text;
    if (utf16)
    {
        std::vector<UniChar> units((inSize - 1) / 2 + 1); // never empty, so data() is never null
        std::memcpy(units.data(), inData + 1, (units.size() - 1) * 2);
        text = VString(units.data(), static_cast<int32_t>(units.size() - 1));
    }
    else
    {
        text = VString(inData + 1, inSize - 1, CharSet::VTC_UTF_8);
    }

    std::string ascii;
    bool isASCII = true;
    for (int32_t i = 1; i <= text.GetLength() && isASCII; ++i)
    {
        UniChar unit = text.GetUniChar(i);
        isASCII = unit != 0 && unit < 0x80;
        ascii.push_back(static_cast<char>(unit));
    }
    for (int radix = -1; radix <= 37; ++radix)
    {
        double value = text.ParseInt(radix);
        double expected = 0;
        if (isASCII && ReferenceParseInt(ascii, radix, expected))
        {
            Check(SameNumber(value, expected));
        }
    }
    (void)text.GetLong8();
    (void)text.GetLong();
    (void)text.GetWord();
    (void)text.GetHexLong();
    OsType code = text.GetOsType();
    Check(code == 0 || to_string(text).size() <= 4);
    bool overflow = false;
    double real = text.GetRealCheckOverflow(&overflow);
    Check(!overflow || real == 0 || std::isinf(real));
    return 0;
}
