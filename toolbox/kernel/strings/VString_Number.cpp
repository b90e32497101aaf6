// Numbers read from a VString's text.
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace zorn
{

namespace
{

// The unit that ends GetLong8's scan: the current task's decimal separator ('.' without
// international settings).
UniChar DecimalSeparator()
{
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    UniChar separator = manager == nullptr ? 0 : manager->GetDecimalSeparator().GetUniChar(1);
    return separator == 0 ? u'.' : separator;
}

// A locale whose numeric conventions are the C locale's, built once, so that reading a real never
// depends on the process's or the task's locale.
locale_t CNumericLocale()
{
    static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

} // namespace

int64_t VString::GetHexLong() const
{
    uint64_t value = 0;
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        uint64_t digit;
        if (unit >= u'0' && unit <= u'9')
        {
            digit = unit - u'0';
        }
        else if (unit >= u'A' && unit <= u'F')
        {
            digit = unit - u'A' + 10;
        }
        else if (unit >= u'a' && unit <= u'f')
        {
            digit = unit - u'a' + 10;
        }
        else
        {
            continue;
        }
        value = value * 16 + digit;
    }
    return static_cast<int64_t>(value);
}

int64_t VString::GetLong8() const
{
    // Unsigned arithmetic wraps by definition; the design reads no overflow.
    uint64_t value = 0;
    bool negative = false;
    const UniChar separator = DecimalSeparator();
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        if (unit >= u'0' && unit <= u'9')
        {
            value = value * 10 + (unit - u'0');
        }
        else if (unit == separator)
        {
            break;
        }
        else if (unit == u'-' && value == 0)
        {
            negative = true;
        }
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

int32_t VString::GetLong() const
{
    int64_t value = GetLong8();
    return value >= INT32_MIN && value <= INT32_MAX ? static_cast<int32_t>(value) : 0;
}

double VString::GetReal() const
{
    return GetRealCheckOverflow(nullptr);
}

double VString::GetRealCheckOverflow(bool* outOverflow) const
{
    // Only ASCII can be part of a number in the C locale, so every other unit becomes a byte that
    // ends the scan: the result is the one the UTF-8 text would give.
    std::string bytes(static_cast<size_t>(fLength), '\0');
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        bytes[static_cast<size_t>(i)] = unit < 0x80 ? static_cast<char>(unit) : '\x7F';
    }
    errno = 0;
    double result = strtod_l(bytes.c_str(), nullptr, CNumericLocale());
    if (outOverflow != nullptr)
    {
        *outOverflow = errno == ERANGE && (result == 0 || std::isinf(result));
    }
    return result;
}

} // namespace zorn
