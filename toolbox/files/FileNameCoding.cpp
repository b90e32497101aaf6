#include "toolbox/files/FileNameCoding.h"

#include "toolbox/kernel/strings/HexDigit.h"
#include "toolbox/kernel/strings/VString.h"

#include <array>

namespace zorn
{

namespace
{

constexpr UniChar kPercent = '%';

constexpr std::array<bool, 129> MakeReservedTable()
{
    std::array<bool, 129> table{};
    for (int c = 0; c < 0x20; ++c)
    {
        table[c] = true;
    }
    for (char c : {'"', '%', '*', '/', ':', '<', '>', '?', '\\', '|'})
    {
        table[static_cast<size_t>(c)] = true;
    }
    return table;
}

constexpr std::array<bool, 129> kReserved = MakeReservedTable();

} // namespace

VString EncodeReservedFileCharacters(const VString& inName)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    VString result;
    const UniChar* units = inName.GetCPointer();
    for (int32_t i = 0; i < inName.GetLength(); ++i)
    {
        UniChar c = units[i];
        if (c < kReserved.size() && kReserved[c])
        {
            result.AppendUniChar(kPercent);
            result.AppendUniChar(static_cast<UniChar>(kDigits[c >> 4]));
            result.AppendUniChar(static_cast<UniChar>(kDigits[c & 0x0F]));
        }
        else
        {
            result.AppendUniChar(c);
        }
    }
    return result;
}

VString DecodeReservedFileCharacters(const VString& inName)
{
    VString result;
    const UniChar* units = inName.GetCPointer();
    const int32_t length = inName.GetLength();
    for (int32_t i = 0; i < length; ++i)
    {
        if (units[i] == kPercent && i + 2 < length)
        {
            int high = HexDigitValue(units[i + 1]);
            int low = HexDigitValue(units[i + 2]);
            if (high >= 0 && low >= 0)
            {
                result.AppendUniChar(static_cast<UniChar>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        result.AppendUniChar(units[i]);
    }
    return result;
}

} // namespace zorn
