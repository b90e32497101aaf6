// Texts of real numbers: the C library forms, the XML and JSON forms, the shortest radix text and
// the reading of stored arbitrary-precision decimals.

#include "toolbox/kernel/values/VReal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

namespace zorn
{

namespace
{

// The largest integer below 2^53 in absolute value: integers up to it are written as integers.
constexpr double kMaxExactInteger = 9007199254740991.0;

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// The C locale, for reading reals with '.' whatever the process's locale. Made once, kept.
locale_t CLocale()
{
    static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

// strtod in the C locale; false unless it consumes the whole, non-empty text.
bool ReadWholeReal(const char* inText, size_t inLength, double& outValue)
{
    if (inLength == 0 || CLocale() == static_cast<locale_t>(nullptr))
    {
        return false;
    }
    char* end = nullptr;
    double value = strtod_l(inText, &end, CLocale());
    if (end != inText + inLength)
    {
        return false;
    }
    outValue = value;
    return true;
}

void SetASCII(VString& outText, const char* inBegin, const char* inEnd)
{
    std::string text(inBegin, inEnd);
    outText.FromCString(text.c_str());
}

// The longest text of the forms below: "-1.2345678901234E-308", "-9007199254740991" and the
// shortest round trip "-2.2250738585072014E-308", with room to spare.
constexpr size_t kMaxFormLength = 32;
static_assert(kMaxFormLength <= VReal::kMaxJSONUnits);

// "%.14G" through the standard library's conversion with a precision: exact, but several times
// slower than the integer arithmetic below, which serves the usual magnitudes.
char* WriteGeneral14Exact(double inValue, char* outText)
{
    auto result = std::to_chars(outText, outText + kMaxFormLength, inValue, std::chars_format::general, 14);
    std::transform(outText, result.ptr, outText,
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return result.ptr;
}

__extension__ using UInt128 = unsigned __int128;

constexpr int kPrecision = 14;
constexpr uint64_t kPowersOf10[] = {1ULL,
                                    10ULL,
                                    100ULL,
                                    1000ULL,
                                    10000ULL,
                                    100000ULL,
                                    1000000ULL,
                                    10000000ULL,
                                    100000000ULL,
                                    1000000000ULL,
                                    10000000000ULL,
                                    100000000000ULL,
                                    1000000000000ULL,
                                    10000000000000ULL,
                                    100000000000000ULL,
                                    1000000000000000ULL,
                                    10000000000000000ULL,
                                    100000000000000000ULL,
                                    1000000000000000000ULL,
                                    10000000000000000000ULL};

// The 14 significant digits of a number from 1e-5 to below 1e14, rounded as the C library rounds
// (to nearest, ties to even), by exact integer arithmetic: the number is m x 2^-s with a 53-bit m,
// and the digits are m x 10^p x 2^-s for the p that leaves 14 digits before the point. Fills
// outDigits (no trailing zeros) and outExponent (the decimal exponent after rounding); returns the
// number of digits, or 0 outside that range.
int GetDigits14(double inMagnitude, char* outDigits, int& outExponent)
{
    if (!(inMagnitude >= 1e-5 && inMagnitude < 1e14))
    {
        return 0;
    }
    // A normal number: the stored 52 bits and the implicit one; its value is m x 2^(e - 1075).
    const auto bits = std::bit_cast<uint64_t>(inMagnitude);
    const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int shift = 1075 - static_cast<int>(bits >> 52); // from 7 to 70
    // floor(log10(m x 2^-shift)) within one: log10(2) is about 78913 / 2^18.
    int exponent = ((52 - shift) * 78913) >> 18;
    uint64_t digits = 0;
    for (;;)
    {
        const int power = kPrecision - 1 - exponent;
        if (power < 0 || power >= static_cast<int>(std::size(kPowersOf10)))
        {
            return 0;
        }
        const UInt128 product = static_cast<UInt128>(mantissa) * kPowersOf10[power];
        const UInt128 whole = product >> shift;
        if (whole >= kPowersOf10[kPrecision])
        {
            ++exponent;
            continue;
        }
        if (whole < kPowersOf10[kPrecision - 1])
        {
            --exponent;
            continue;
        }
        const UInt128 rest = product & ((UInt128{1} << shift) - 1);
        const UInt128 half = UInt128{1} << (shift - 1);
        digits = static_cast<uint64_t>(whole);
        if (rest > half || (rest == half && (digits & 1) != 0))
        {
            ++digits;
        }
        if (digits == kPowersOf10[kPrecision])
        {
            digits = kPowersOf10[kPrecision - 1];
            ++exponent;
        }
        break;
    }
    // Two halves of seven digits, each written two digits at a time.
    auto writeSeven = [](uint32_t inValue, char* outText)
    {
        for (int i = 6; i > 0; i -= 2)
        {
            const uint32_t pair = inValue % 100;
            inValue /= 100;
            outText[i] = static_cast<char>('0' + pair % 10);
            outText[i - 1] = static_cast<char>('0' + pair / 10);
        }
        outText[0] = static_cast<char>('0' + inValue);
    };
    writeSeven(static_cast<uint32_t>(digits / 10000000), outDigits);
    writeSeven(static_cast<uint32_t>(digits % 10000000), outDigits + 7);
    int count = kPrecision;
    while (count > 1 && outDigits[count - 1] == '0')
    {
        --count;
    }
    outExponent = exponent;
    return count;
}

// "%.14G": the shortest of the fixed and exponential forms with 14 significant digits, upper case.
// Written at outText (room for kMaxFormLength); returns the end.
char* WriteGeneral14(double inValue, char* outText)
{
    char digits[kPrecision];
    int exponent = 0;
    const int count = GetDigits14(std::fabs(inValue), digits, exponent);
    if (count == 0)
    {
        return WriteGeneral14Exact(inValue, outText);
    }
    char* d = outText;
    if (inValue < 0)
    {
        *d++ = '-';
    }
    if (exponent >= -4 && exponent < kPrecision)
    {
        if (exponent < 0)
        {
            *d++ = '0';
            *d++ = '.';
            d = std::fill_n(d, -exponent - 1, '0');
            return std::copy_n(digits, count, d);
        }
        const int whole = exponent + 1;
        d = std::copy_n(digits, std::min(count, whole), d);
        if (count <= whole)
        {
            return std::fill_n(d, whole - count, '0');
        }
        *d++ = '.';
        return std::copy(digits + whole, digits + count, d);
    }
    // Only 1e14 itself, rounded up from below, and 1e-5 to 1e-4 reach the exponential form here.
    *d++ = digits[0];
    if (count > 1)
    {
        *d++ = '.';
        d = std::copy(digits + 1, digits + count, d);
    }
    *d++ = 'E';
    *d++ = exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(exponent);
    if (magnitude < 10)
    {
        *d++ = '0';
    }
    return std::to_chars(d, outText + kMaxFormLength, magnitude).ptr;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The same pairs as two UTF-16 units each, the first in the low half (little-endian order).
constexpr std::array<uint32_t, 100> MakeDigitPairUnits()
{
    std::array<uint32_t, 100> pairs{};
    for (size_t i = 0; i < 100; ++i)
    {
        pairs[i] = static_cast<uint32_t>(kDigitPairs[i * 2]) | static_cast<uint32_t>(kDigitPairs[i * 2 + 1])
                                                                   << 16;
    }
    return pairs;
}
constexpr std::array<uint32_t, 100> kDigitPairUnits = MakeDigitPairUnits();

// Integers within +-(2^53 - 1) in integer form, written at outText (room for kMaxFormLength);
// returns the end, or null for any other number. The digits are written two at a time from the
// end, in bytes or in UTF-16 units.
template <class TChar>
TChar* WriteExactInteger(double inValue, TChar* outText)
{
    if (!(std::fabs(inValue) <= kMaxExactInteger))
    {
        return nullptr;
    }
    const auto integer = static_cast<int64_t>(inValue);
    if (static_cast<double>(integer) != inValue)
    {
        return nullptr;
    }
    TChar* d = outText;
    if (integer < 0)
    {
        *d++ = '-';
    }
    const auto value = static_cast<uint64_t>(integer < 0 ? -integer : integer);
    // floor(log10(v)) is t or t - 1 for t = floor(bit width x log10(2)); v = value | 1 has the
    // digit count of value, 0 included.
    const uint64_t counted = value | 1;
    const int estimate = (std::bit_width(counted) * 1233) >> 12;
    const int length = estimate + (counted >= kPowersOf10[estimate] ? 1 : 0);
    TChar* const end = d + length;
    TChar* p = end;
    auto writePair = [&p](size_t inPair)
    {
        if constexpr (sizeof(TChar) == 2 && std::endian::native == std::endian::little)
        {
            // Both units with one store.
            p -= 2;
            std::memcpy(p, &kDigitPairUnits[inPair], sizeof(uint32_t));
        }
        else
        {
            *--p = static_cast<TChar>(kDigitPairs[inPair * 2 + 1]);
            *--p = static_cast<TChar>(kDigitPairs[inPair * 2]);
        }
    };
    uint64_t high = value;
    while (high > UINT32_MAX)
    {
        writePair(static_cast<size_t>(high % 100));
        high /= 100;
    }
    // The rest in 32 bits, where a division is cheaper.
    auto rest = static_cast<uint32_t>(high);
    while (rest >= 100)
    {
        writePair(rest % 100);
        rest /= 100;
    }
    if (rest >= 10)
    {
        writePair(rest);
    }
    else
    {
        *--p = static_cast<TChar>('0' + rest);
    }
    return end;
}

void FormatGeneral14(double inValue, VString& outText)
{
    char text[kMaxFormLength];
    SetASCII(outText, text, WriteGeneral14(inValue, text));
}

// The data form of a finite number, written at outText (room for kMaxFormLength); returns the end.
// Integers within +-(2^53 - 1) in integer form; any other number as the shortest text that reads
// back as exactly that number (the standard library's shortest round trip: fixed or exponential,
// whichever is shorter), with an upper-case "E" as the 14-digit form had. Negative zero is "-0", so
// that its sign survives a trip through the text.
char* WriteDataForm(double inValue, char* outText)
{
    if (inValue == 0)
    {
        return std::signbit(inValue) ? std::copy_n("-0", 2, outText) : std::copy_n("0", 1, outText);
    }
    if (char* end = WriteExactInteger(inValue, outText))
    {
        return end;
    }
    auto result = std::to_chars(outText, outText + kMaxFormLength, inValue);
    std::replace(outText, result.ptr, 'e', 'E');
    return result.ptr;
}

// An unsigned integer of any size, for the exact digit generation.
class BigUInt
{
public:
    explicit BigUInt(uint64_t inValue = 0)
    {
        if (inValue != 0)
        {
            fLimbs.push_back(static_cast<uint32_t>(inValue));
            if ((inValue >> 32) != 0)
            {
                fLimbs.push_back(static_cast<uint32_t>(inValue >> 32));
            }
        }
    }

    void MultiplyBy(uint32_t inFactor)
    {
        uint64_t carry = 0;
        for (uint32_t& limb : fLimbs)
        {
            uint64_t product = static_cast<uint64_t>(limb) * inFactor + carry;
            limb = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0)
        {
            fLimbs.push_back(static_cast<uint32_t>(carry));
        }
        _Trim();
    }

    // Multiplies by inRadix^inPower, several factors at a time.
    void MultiplyByPower(uint32_t inRadix, int inPower)
    {
        while (inPower > 0)
        {
            uint32_t factor = 1;
            for (; inPower > 0 && factor <= UINT32_MAX / inRadix; --inPower)
            {
                factor *= inRadix;
            }
            MultiplyBy(factor);
        }
    }

    void ShiftLeft(int inBits)
    {
        if (fLimbs.empty() || inBits == 0)
        {
            return;
        }
        int limbs = inBits / 32;
        int bits = inBits % 32;
        if (bits != 0)
        {
            uint32_t carry = 0;
            for (uint32_t& limb : fLimbs)
            {
                uint32_t next = limb >> (32 - bits);
                limb = (limb << bits) | carry;
                carry = next;
            }
            if (carry != 0)
            {
                fLimbs.push_back(carry);
            }
        }
        fLimbs.insert(fLimbs.begin(), static_cast<size_t>(limbs), 0u);
    }

    void Add(const BigUInt& inOther)
    {
        if (fLimbs.size() < inOther.fLimbs.size())
        {
            fLimbs.resize(inOther.fLimbs.size(), 0);
        }
        uint64_t carry = 0;
        for (size_t i = 0; i < fLimbs.size(); ++i)
        {
            uint64_t sum = static_cast<uint64_t>(fLimbs[i]) + carry +
                           (i < inOther.fLimbs.size() ? inOther.fLimbs[i] : 0);
            fLimbs[i] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        if (carry != 0)
        {
            fLimbs.push_back(static_cast<uint32_t>(carry));
        }
    }

    // Requires *this >= inOther.
    void Subtract(const BigUInt& inOther)
    {
        int64_t borrow = 0;
        for (size_t i = 0; i < fLimbs.size(); ++i)
        {
            int64_t difference = static_cast<int64_t>(fLimbs[i]) - borrow -
                                 static_cast<int64_t>(i < inOther.fLimbs.size() ? inOther.fLimbs[i] : 0);
            borrow = difference < 0 ? 1 : 0;
            fLimbs[i] = static_cast<uint32_t>(difference + (borrow << 32));
        }
        _Trim();
    }

    static int Compare(const BigUInt& inA, const BigUInt& inB)
    {
        if (inA.fLimbs.size() != inB.fLimbs.size())
        {
            return inA.fLimbs.size() < inB.fLimbs.size() ? -1 : 1;
        }
        for (size_t i = inA.fLimbs.size(); i-- > 0;)
        {
            if (inA.fLimbs[i] != inB.fLimbs[i])
            {
                return inA.fLimbs[i] < inB.fLimbs[i] ? -1 : 1;
            }
        }
        return 0;
    }

    // Compares inA + inB with inC.
    static int CompareSum(const BigUInt& inA, const BigUInt& inB, const BigUInt& inC)
    {
        BigUInt sum = inA;
        sum.Add(inB);
        return Compare(sum, inC);
    }

private:
    void _Trim()
    {
        while (!fLimbs.empty() && fLimbs.back() == 0)
        {
            fLimbs.pop_back();
        }
    }

    std::vector<uint32_t> fLimbs; // least significant first, no zero limb at the top
};

// The digits of radix 10 from the standard library's shortest round-trip form ("d.ddde+x").
void DecimalDigits(double inPositive, std::string& outDigits, int& outPointPosition)
{
    char text[40];
    auto result = std::to_chars(text, text + sizeof(text), inPositive, std::chars_format::scientific);
    const char* exponent = std::find(text, result.ptr, 'e');
    outDigits.clear();
    for (const char* c = text; c != exponent; ++c)
    {
        if (*c != '.')
        {
            outDigits.push_back(*c);
        }
    }
    int power = 0;
    const char* digits = exponent + 1;
    if (*digits == '+')
    {
        ++digits;
    }
    std::from_chars(digits, result.ptr, power);
    outPointPosition = power + 1;
}

} // namespace

// Free-format shortest digit generation (Steele and White, as refined by Burger and Dybvig) in
// exact integer arithmetic. The number v = r / s lies in the interval of reals that read back as
// v, from (r - m-) / s to (r + m+) / s, bounds included when the significand is even (the reader
// rounds ties to even). Digits are generated until the digits so far, or those with the last one
// raised, fall inside that interval; of two candidates the nearer to v is taken.
void detail::DoubleToRadixDigitsExact(double inPositive, int inRadix, std::string& outDigits,
                                      int& outPointPosition)
{
    const uint64_t bits = std::bit_cast<uint64_t>(inPositive);
    const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t hiddenBit = uint64_t{1} << 52;
    uint64_t significand = bits & (hiddenBit - 1);
    int exponent = -1074;
    if (biasedExponent != 0)
    {
        significand |= hiddenBit;
        exponent = biasedExponent - 1075;
    }
    const bool inclusive = (significand & 1) == 0;
    // At a power of two the gap below is half the gap above.
    const bool unequalGaps = significand == hiddenBit && biasedExponent > 1;
    const uint32_t radix = static_cast<uint32_t>(inRadix);

    BigUInt r(significand);
    BigUInt s(1);
    BigUInt mPlus(1);
    BigUInt mMinus(1);
    if (exponent >= 0)
    {
        r.ShiftLeft(exponent + (unequalGaps ? 2 : 1));
        s.ShiftLeft(unequalGaps ? 2 : 1);
        mPlus.ShiftLeft(exponent + (unequalGaps ? 1 : 0));
        mMinus.ShiftLeft(exponent);
    }
    else
    {
        r.ShiftLeft(unequalGaps ? 2 : 1);
        s.ShiftLeft(-exponent + (unequalGaps ? 2 : 1));
        if (unequalGaps)
        {
            mPlus.ShiftLeft(1);
        }
    }

    // The position of the point: the smallest k with (r + m+) / s below radix^k (or equal when
    // the bound is excluded). Estimated from the logarithm, then corrected exactly.
    int k =
        static_cast<int>(std::ceil(std::log(inPositive) / std::log(static_cast<double>(inRadix)) - 1e-10));
    s.MultiplyByPower(radix, k);
    r.MultiplyByPower(radix, -k);
    mPlus.MultiplyByPower(radix, -k);
    mMinus.MultiplyByPower(radix, -k);
    auto highReaches = [&](const BigUInt& inR, const BigUInt& inM, const BigUInt& inS)
    {
        int c = BigUInt::CompareSum(inR, inM, inS);
        return inclusive ? c >= 0 : c > 0;
    };
    while (highReaches(r, mPlus, s))
    {
        s.MultiplyBy(radix);
        ++k;
    }
    for (;;)
    {
        BigUInt r2 = r;
        BigUInt m2 = mPlus;
        r2.MultiplyBy(radix);
        m2.MultiplyBy(radix);
        if (highReaches(r2, m2, s))
        {
            break;
        }
        r = r2;
        mPlus = m2;
        mMinus.MultiplyBy(radix);
        --k;
    }

    std::vector<uint32_t> digits;
    for (;;)
    {
        r.MultiplyBy(radix);
        mPlus.MultiplyBy(radix);
        mMinus.MultiplyBy(radix);
        uint32_t digit = 0;
        while (BigUInt::Compare(r, s) >= 0)
        {
            r.Subtract(s);
            ++digit;
        }
        int lowCompare = BigUInt::Compare(r, mMinus);
        bool low = inclusive ? lowCompare <= 0 : lowCompare < 0;
        bool high = highReaches(r, mPlus, s);
        if (!low && !high)
        {
            digits.push_back(digit);
            continue;
        }
        if (low && high)
        {
            BigUInt twice = r;
            twice.ShiftLeft(1);
            high = BigUInt::Compare(twice, s) >= 0;
        }
        digits.push_back(high ? digit + 1 : digit);
        break;
    }
    // A raised last digit that reaches the radix carries into the digits before it.
    while (digits.size() > 1 && digits.back() >= radix)
    {
        digits.pop_back();
        ++digits.back();
    }
    if (digits.back() >= radix)
    {
        digits.back() = 1;
        ++k;
    }
    outDigits.clear();
    for (uint32_t digit : digits)
    {
        outDigits.push_back(kDigits[digit]);
    }
    while (outDigits.size() > 1 && outDigits.back() == '0')
    {
        outDigits.pop_back();
    }
    outPointPosition = k;
}

void detail::DoubleToRadixDigits(double inPositive, int inRadix, std::string& outDigits,
                                 int& outPointPosition)
{
    if (inRadix == 10)
    {
        DecimalDigits(inPositive, outDigits, outPointPosition);
    }
    else
    {
        DoubleToRadixDigitsExact(inPositive, inRadix, outDigits, outPointPosition);
    }
}

VString VReal::ToString(int32_t inRadix) const
{
    if (inRadix == 0)
    {
        inRadix = 10;
    }
    VString result;
    if (inRadix < 2 || inRadix > 36)
    {
        return result;
    }
    double value = fData;
    std::string text;
    if (std::isnan(value))
    {
        text = "NaN";
    }
    else if (value == 0)
    {
        text = "0";
    }
    else
    {
        if (value < 0)
        {
            text = "-";
            value = -value;
        }
        if (std::isinf(value))
        {
            text += "Infinity";
        }
        else
        {
            std::string digits;
            int point = 0;
            detail::DoubleToRadixDigits(value, inRadix, digits, point);
            int count = static_cast<int>(digits.size());
            if (inRadix == 10 && (point < -5 || point > 21))
            {
                text += digits[0];
                if (count > 1)
                {
                    text += '.';
                    text.append(digits, 1);
                }
                text += point - 1 >= 0 ? "e+" : "e-";
                text += std::to_string(std::abs(point - 1));
            }
            else if (point <= 0)
            {
                text += "0.";
                text.append(static_cast<size_t>(-point), '0');
                text += digits;
            }
            else if (point >= count)
            {
                text += digits;
                text.append(static_cast<size_t>(point - count), '0');
            }
            else
            {
                text.append(digits, 0, static_cast<size_t>(point));
                text += '.';
                text.append(digits, static_cast<size_t>(point));
            }
        }
    }
    result.FromCString(text.c_str());
    return result;
}

void VReal::RealToXMLString(double inValue, VString& outText)
{
    if (std::isnan(inValue))
    {
        outText.FromCString("NaN");
    }
    else if (std::isinf(inValue))
    {
        outText.FromCString(inValue > 0 ? "INF" : "-INF");
    }
    else
    {
        char text[kMaxFormLength];
        SetASCII(outText, text, WriteDataForm(inValue, text));
    }
}

void VReal::RealToJSONString(double inValue, VString& outText)
{
    UniChar units[kMaxJSONUnits];
    outText.FromUniCString(units, RealToJSONUnits(inValue, units));
}

int32_t VReal::RealToJSONUnits(double inValue, UniChar* outText)
{
    if (inValue != 0)
    {
        if (UniChar* end = WriteExactInteger(inValue, outText))
        {
            return static_cast<int32_t>(end - outText);
        }
    }
    char text[kMaxFormLength];
    char* end = nullptr;
    if (inValue == 0 || !std::isfinite(inValue))
    {
        end = inValue == 0 ? WriteDataForm(inValue, text) : std::copy_n("null", 4, text);
    }
    else
    {
        // WriteDataForm's text for a number that is no exact integer, widened in the same pass that
        // raises its exponent letter.
        end = std::to_chars(text, text + kMaxFormLength, inValue).ptr;
    }
    const auto length = static_cast<int32_t>(end - text);
    for (int32_t i = 0; i < length; ++i)
    {
        outText[i] = text[i] == 'e' ? UniChar{'E'} : static_cast<UniChar>(text[i]);
    }
    return length;
}

void VReal::GetString(VString& outValue) const
{
    FormatGeneral14(fData, outValue);
}

void VReal::GetXMLString(VString& outValue, JSONStringOptions) const
{
    RealToXMLString(fData, outValue);
}

VError VReal::GetJSONString(VString& outJSONString, JSONStringOptions) const
{
    RealToJSONString(fData, outJSONString);
    return VE_OK;
}

bool VReal::FromXMLString(const VString& inValue)
{
    // The text is read as UTF-8 within 254 bytes; a real number is ASCII, so any other unit fails.
    constexpr int32_t kMaxLength = 254;
    int32_t length = inValue.GetLength();
    if (length > kMaxLength)
    {
        return false;
    }
    char text[kMaxLength + 1];
    const UniChar* units = inValue.GetCPointer();
    for (int32_t i = 0; i < length; ++i)
    {
        if (units[i] >= 0x80 || units[i] == 0)
        {
            return false;
        }
        text[i] = units[i] == ',' ? '.' : static_cast<char>(units[i]);
    }
    text[length] = 0;
    double value = 0;
    if (!ReadWholeReal(text, static_cast<size_t>(length), value))
    {
        return false;
    }
    _Set(value);
    return true;
}

double VReal::MAPM_FloatToReal(const void* inData, size_t inDataSize)
{
    constexpr size_t kHeaderSize = 4 + 1 + 4;
    const double kMalformed = std::numeric_limits<double>::quiet_NaN();
    if (inData == nullptr || inDataSize < kHeaderSize)
    {
        return kMalformed;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(inData);
    int32_t exponent;
    int32_t digitCount;
    std::memcpy(&exponent, bytes, 4);
    uint8_t sign = bytes[4];
    std::memcpy(&digitCount, bytes + 5, 4);
    if (sign == 0)
    {
        return 0.0;
    }
    if ((sign != 1 && sign != 255) || digitCount < 1 ||
        (static_cast<size_t>(digitCount) + 1) / 2 > inDataSize - kHeaderSize)
    {
        return kMalformed;
    }
    // The text grows with the digits; the count read from the data never sizes a fixed buffer.
    std::string text;
    text.reserve(static_cast<size_t>(digitCount) + 16);
    if (sign == 255)
    {
        text += '-';
    }
    const unsigned char* pairs = bytes + kHeaderSize;
    for (int32_t i = 0; i < digitCount; ++i)
    {
        unsigned char pair = pairs[i / 2];
        if (pair > 99)
        {
            return kMalformed;
        }
        text += static_cast<char>('0' + (i % 2 == 0 ? pair / 10 : pair % 10));
        if (i == 0)
        {
            text += '.';
        }
    }
    text += 'E';
    text += exponent < 0 ? '-' : '+';
    text += std::to_string(exponent < 0 ? -static_cast<int64_t>(exponent) : static_cast<int64_t>(exponent));
    double value = kMalformed;
    return ReadWholeReal(text.c_str(), text.size(), value) ? value : kMalformed;
}

} // namespace zorn
