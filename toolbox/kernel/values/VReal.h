// VReal: the real-number value kind (6), one IEEE double, and the toolbox's texts of real numbers.
// Conversions, raw and stream forms are those of the other scalar kinds (VScalarValues.h).
//
// Comparison: two reals are equal when they are the same number or differ by less than an
// epsilon: 1e-6 for the plain comparisons, the options' epsilon for the WithOptions forms, none
// when the value info is asked for a diacritical comparison. NaN orders before every number and
// equals another NaN in every comparison, so that sorting sees one consistent order.
//
// Texts:
// - GetString: the C library's "%.14G" form ("NAN", "INF" and "-INF" for the non-finite values).
//   It is the text for people (as are VString::FromReal and AppendReal, and so printf-style
//   formatting): 14 significant digits, which hide the last binary digits of a computed value.
// - RealToXMLString and RealToJSONString are data forms, which must read back as the same number:
//   an integer between -(2^53 - 1) and 2^53 - 1 in integer form; -0 as "-0"; anything else as the
//   shortest text that reads back as exactly this double (std::to_chars: fixed or exponential,
//   whichever is shorter, with an upper-case "E": 0.1, 1E+300, 9007199254740992, 5E-324), '.' as
//   the decimal separator whatever the locale. Non-finite values are "NaN", "INF", "-INF" in XML
//   and "null" in JSON.
// - ToString (radix 2 to 36, 0 meaning 10): the shortest text in the radix that reads back as
//   exactly this number, lower-case digits, "-" before negative numbers, "0" for both zeros, and
//   "NaN", "Infinity", "-Infinity" for the non-finite values. In radix 10 a number whose point
//   would stand outside positions -5 to 21 is written in exponential form (1e+21, 1.5e-7).
// - FromXMLString: the C library's reading of the whole text in the C locale, ',' read as '.'; at
//   most 254 characters.
#pragma once

#include "toolbox/kernel/values/VScalarValues.h"

#include <string>

namespace zorn
{

class VReal : public VScalarValue<VReal, double, VK_REAL>
{
public:
    class VValueInfo_real;

    using VScalarValue::VScalarValue;
    static const VValueInfo_real& Info();

    void GetString(VString& outValue) const override;
    void GetXMLString(VString& outValue, JSONStringOptions inOptions = 0) const override;
    bool FromXMLString(const VString& inValue) override;
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;

    // The shortest text of the value in the radix; empty for a radix outside 2 to 36.
    VString ToString(int32_t inRadix = 10) const;

    static void RealToXMLString(double inValue, VString& outText);
    static void RealToJSONString(double inValue, VString& outText);
    // The units a RealToJSONUnits text can take.
    static constexpr int32_t kMaxJSONUnits = 32;
    // RealToJSONString's text written at outText (room for kMaxJSONUnits), for writers that
    // append to a buffer of their own; returns the number of units written.
    static int32_t RealToJSONUnits(double inValue, UniChar* outText);

    // The comparison of all real forms (see the header comment); an epsilon of 0 asks for exact
    // equality.
    static CompareResult CompareData(double inA, double inB, double inEpsilon);

    // Reads a stored arbitrary-precision decimal: a 32-bit exponent, a sign byte (1 positive, 0
    // zero, 255 negative), a 32-bit count of digits, then the digits two to a byte (values 0 to
    // 99), all in this machine's byte order. The digits are read as d.ddd...E<exponent>, the
    // exponent taken as it is stored. Malformed data (too short for its digit count, a sign or a
    // digit byte out of range, no digit) gives NaN. This reading is kept as designed: nothing in
    // the system writes such decimals, so there is no producer to check it against. Pinned by
    // one vector: exponent 2, sign 255, 3 digits, pairs 12 50 read "-1.25E+2", giving -125.
    static double MAPM_FloatToReal(const void* inData, size_t inDataSize);
};

class VReal::VValueInfo_real : public VValueInfo_scalar<VReal, VK_REAL, double>
{
public:
    // Within 1e-6, or exactly equal when inDiacritical.
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool inDiacritical = false) const override;
    // Within the options' epsilon, or exactly equal when the options are diacritical.
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
};
using VReal_info = VReal::VValueInfo_real;

namespace detail
{
// The shortest digits in the radix (2 to 36, lower-case) of a positive finite number, and the
// position of the point: the number is 0.<digits> x radix^outPointPosition.
void DoubleToRadixDigits(double inPositive, int inRadix, std::string& outDigits, int& outPointPosition);
// The same by exact integer arithmetic whatever the radix (radix 10 normally comes from the
// standard library); kept reachable so that the two can be checked against each other.
void DoubleToRadixDigitsExact(double inPositive, int inRadix, std::string& outDigits, int& outPointPosition);
} // namespace detail

} // namespace zorn
