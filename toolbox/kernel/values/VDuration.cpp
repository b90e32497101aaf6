#include "toolbox/kernel/values/VDuration.h"

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace zorn
{

namespace
{

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

int64_t LoadCount(const void* inData)
{
    int64_t count;
    std::memcpy(&count, inData, sizeof(count));
    return count;
}

CompareResult CompareCounts(int64_t inA, int64_t inB)
{
    return inA < inB ? CR_SMALLER : (inB < inA ? CR_BIGGER : CR_EQUAL);
}

} // namespace

// Construction and setting

const VDuration_info& VDuration::Info()
{
    static const VDuration_info sInfo;
    return sInfo;
}

VDuration::VDuration(const int64_t* inData, bool inUseDefault)
{
    if (!inUseDefault && inData != nullptr)
    {
        fMilliseconds = LoadCount(inData);
    }
}

int64_t VDuration::MillisecondsFromReal(double inMilliseconds)
{
    if (std::isnan(inMilliseconds))
    {
        return 0;
    }
    // 2^63 is exact as a double; anything at or beyond it, either way, is held at the bound.
    constexpr double kLimit = 9223372036854775808.0;
    if (inMilliseconds >= kLimit)
    {
        return kInt64Max;
    }
    if (inMilliseconds <= -kLimit)
    {
        return kInt64Min;
    }
    return static_cast<int64_t>(inMilliseconds);
}

int64_t VDuration::_Scaled(int64_t inCount, int64_t inUnit)
{
    int64_t product;
    if (__builtin_mul_overflow(inCount, inUnit, &product))
    {
        return (inCount < 0) == (inUnit < 0) ? kInt64Max : kInt64Min;
    }
    return product;
}

int64_t VDuration::_Sum(int64_t inA, int64_t inB)
{
    int64_t sum;
    if (__builtin_add_overflow(inA, inB, &sum))
    {
        return inB < 0 ? kInt64Min : kInt64Max;
    }
    return sum;
}

void VDuration::_Set(int64_t inMilliseconds)
{
    fMilliseconds = inMilliseconds;
    SetNull(false);
    SetDirty(true);
}

void VDuration::FromLong8(int64_t inValue)
{
    _Set(_Scaled(inValue, kSecond));
}

void VDuration::FromReal(double inValue)
{
    _Set(MillisecondsFromReal(inValue * 1000.0));
}

void VDuration::SetDuration(int32_t inDays, int32_t inHours, int32_t inMinutes, int32_t inSeconds,
                            int32_t inMilliseconds)
{
    // Each term fits in 64 bits (|n| x one day < 2^63); only the sum needs watching.
    _Set(_Sum(_Sum(_Sum(int64_t{inDays} * kDay, int64_t{inHours} * kHour), int64_t{inMinutes} * kMinute),
              int64_t{inSeconds} * kSecond + inMilliseconds));
}

void VDuration::AddDuration(int32_t inDays, int32_t inHours, int32_t inMinutes, int32_t inSeconds,
                            int32_t inMilliseconds)
{
    int64_t before = fMilliseconds;
    SetDuration(inDays, inHours, inMinutes, inSeconds, inMilliseconds);
    _Set(_Sum(before, fMilliseconds));
}

void VDuration::FromDecimalHour(double inHours)
{
    _Set(MillisecondsFromReal(inHours * 3600000.0));
}

void VDuration::AddDecimalHour(double inHours)
{
    _Set(_Sum(fMilliseconds, MillisecondsFromReal(inHours * 3600000.0)));
}

void VDuration::FromValue(const VValueSingle& inValue)
{
    inValue.GetDuration(*this);
    SetNull(inValue.IsNull());
    SetDirty(true);
}

bool VDuration::FromValueSameKind(const VValue* inValue)
{
    const VDuration* other = static_cast<const VDuration*>(inValue);
    FromDuration(*other);
    SetNull(other->IsNull());
    return true;
}

void VDuration::FromRESTValue(const VValueSingle& inValue)
{
    int64_t milliseconds = inValue.GetLong8();
    if (milliseconds != 0)
    {
        fMilliseconds = milliseconds;
    }
    else
    {
        inValue.GetDuration(*this);
    }
    SetNull(inValue.IsNull());
    SetDirty(true);
}

// Readers

void VDuration::GetString(VString& outValue) const
{
    outValue.Clear();
    if (!IsNull())
    {
        outValue.AppendLong8(fMilliseconds);
    }
}

void VDuration::GetDuration(int32_t& outDays, int32_t& outHours, int32_t& outMinutes, int32_t& outSeconds,
                            int32_t& outMilliseconds) const
{
    if (IsNull())
    {
        outDays = outHours = outMinutes = outSeconds = outMilliseconds = -1;
        return;
    }
    outDays = GetDay();
    outHours = GetHour();
    outMinutes = GetMinute();
    outSeconds = GetSecond();
    outMilliseconds = GetMillisecond();
}

// Arithmetic

void VDuration::Substract(const VDuration& inOther)
{
    int64_t difference;
    if (__builtin_sub_overflow(fMilliseconds, inOther.fMilliseconds, &difference))
    {
        difference = inOther.fMilliseconds < 0 ? kInt64Max : kInt64Min;
    }
    fMilliseconds = difference;
}

void VDuration::Multiply(double inFactor)
{
    fMilliseconds = MillisecondsFromReal(static_cast<double>(fMilliseconds) * inFactor);
}

void VDuration::Divide(double inDivisor)
{
    fMilliseconds = MillisecondsFromReal(static_cast<double>(fMilliseconds) / inDivisor);
}

double VDuration::Divide(const VDuration& inDivisor) const
{
    return static_cast<double>(fMilliseconds) / static_cast<double>(inDivisor.fMilliseconds);
}

int64_t VDuration::Remainder(const VDuration& inDivisor)
{
    const int64_t divisor = inDivisor.fMilliseconds;
    if (divisor == 0)
    {
        return 0; // refused: no remainder by zero
    }
    if (divisor == -1)
    {
        // The quotient of INT64_MIN by -1 does not fit: it is held at INT64_MAX.
        int64_t quotient = fMilliseconds == kInt64Min ? kInt64Max : -fMilliseconds;
        fMilliseconds = 0;
        return quotient;
    }
    int64_t quotient = fMilliseconds / divisor;
    fMilliseconds %= divisor;
    return quotient;
}

// Comparisons

CompareResult VDuration::CompareTo(const VDuration& inOther) const
{
    return CompareCounts(fMilliseconds, inOther.fMilliseconds);
}

CompareResult VDuration::CompareTo(const VValueSingle& inValue, bool) const
{
    VDuration other;
    inValue.GetDuration(other);
    other.SetNull(inValue.IsNull());
    return CompareCounts(fMilliseconds, other.fMilliseconds);
}

CompareResult VDuration::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareCounts(fMilliseconds, static_cast<const VDuration*>(inValue)->fMilliseconds);
}

bool VDuration::EqualToSameKind(const VValue* inValue, bool) const
{
    return fMilliseconds == static_cast<const VDuration*>(inValue)->fMilliseconds;
}

CompareResult VDuration::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareCounts(fMilliseconds, LoadCount(inPtrToValueData));
}

bool VDuration::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fMilliseconds == LoadCount(inPtrToValueData);
}

CompareResult VDuration::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue);
}

bool VDuration::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue);
}

CompareResult VDuration::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                         const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData);
}

bool VDuration::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData);
}

// Text forms

void VDuration::FromString(const VString& inValue)
{
    if (inValue.FindUniChar(u':') == 0)
    {
        _Set(_Scaled(inValue.GetLong8(), kSecond));
        return;
    }
    std::vector<VString> pieces;
    inValue.GetSubStrings(u':', pieces, true, true);
    std::vector<int64_t> numbers;
    for (const VString& piece : pieces)
    {
        numbers.push_back(piece.GetLong8());
    }
    // Pieces are read as 64-bit numbers from text: the products and sums are held at the bounds.
    int64_t count = 0;
    if (numbers.size() >= 4)
    {
        count = _Sum(_Sum(_Sum(_Scaled(numbers[0], kHour), _Scaled(numbers[1], kMinute)),
                          _Scaled(numbers[2], kSecond)),
                     numbers[3]);
    }
    else if (numbers.size() == 3)
    {
        count = _Sum(_Sum(_Scaled(numbers[0], kHour), _Scaled(numbers[1], kMinute)),
                     _Scaled(numbers[2], kSecond));
    }
    else if (numbers.size() == 2)
    {
        count = _Sum(_Scaled(numbers[0], kMinute), _Scaled(numbers[1], kSecond));
    }
    _Set(count);
}

void VDuration::GetXMLString(VString& outValue, JSONStringOptions inOptions) const
{
    if ((inOptions & 1) == 0)
    {
        outValue.FromLong8(ConvertToSeconds());
        return;
    }
    int32_t d, h, m, s, ms;
    GetDuration(d, h, m, s, ms);
    char text[256];
    if (d == 0 && ms == 0)
    {
        std::snprintf(text, sizeof(text), "PT%dH%dM%dS", h, m, s);
    }
    else if (d == 0)
    {
        std::snprintf(text, sizeof(text), "PT%dH%dM%.14fS", h, m, s + ms / 1000.0);
    }
    else if (ms == 0)
    {
        std::snprintf(text, sizeof(text), "P%dDT%dH%dM%dS", d, h, m, s);
    }
    else
    {
        std::snprintf(text, sizeof(text), "P%dDT%dH%dM%.14fS", d, h, m, s + ms / 1000.0);
    }
    outValue.FromCString(text);
}

bool VDuration::FromXMLString(const VString& inValue)
{
    if (inValue.IsEmpty() || inValue.GetUniChar(1) != u'P')
    {
        FromString(inValue); // whole seconds, or the colon form
        return true;
    }
    int64_t years = 0, months = 0, days = 0, hours = 0, minutes = 0;
    double seconds = 0;
    bool timePart = false;
    VStr<16> number;
    for (int32_t i = 2; i <= inValue.GetLength(); ++i)
    {
        UniChar unit = inValue.GetUniChar(i);
        int64_t* field = nullptr;
        if (!timePart && unit == u'T')
        {
            timePart = true;
            continue;
        }
        if (!timePart)
        {
            field = unit == u'Y' ? &years : unit == u'M' ? &months : unit == u'D' ? &days : nullptr;
        }
        else if (unit == u'S')
        {
            seconds = number.GetReal(); // the seconds keep their text
            continue;
        }
        else
        {
            field = unit == u'H' ? &hours : unit == u'M' ? &minutes : nullptr;
        }
        if (field != nullptr)
        {
            *field = number.GetLong();
            number.Clear();
        }
        else
        {
            number.AppendUniChar(unit);
        }
    }
    const int64_t wholeSeconds = MillisecondsFromReal(std::trunc(seconds));
    const int64_t fraction = MillisecondsFromReal((seconds - std::trunc(seconds)) * 1000.0);
    int64_t count = _Scaled(years * 360 + months * 30 + days, kDay);
    count = _Sum(count, _Scaled(minutes, kMinute));
    count = _Sum(count, _Scaled(hours, kHour));
    count = _Sum(count, _Scaled(wholeSeconds, kSecond));
    _Set(_Sum(count, fraction));
    return true;
}

void VDuration::GetFormattedString(VString& ioText) const
{
    int32_t parts[5];
    GetDuration(parts[0], parts[1], parts[2], parts[3], parts[4]);
    for (int i = 0; i < 5; ++i)
    {
        if (i > 0)
        {
            ioText.AppendUniChar(u':');
        }
        ioText.AppendLong(parts[i]);
    }
}

// JSON

VError VDuration::GetJSONString(VString& outJSONString, JSONStringOptions) const
{
    outJSONString.FromLong8(fMilliseconds);
    return VE_OK;
}

VError VDuration::FromJSONString(const VString& inJSONString, JSONStringOptions)
{
    _Set(inJSONString.GetLong8());
    return VE_OK;
}

VError VDuration::GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions inOptions) const
{
    if (IsNull())
    {
        detail::SetJSONNull(outJSONValue);
    }
    else if ((inOptions & 4) != 0)
    {
        // A negative span is written as its sign before the text of its size ("-1:02:03"),
        // never with signs inside the minutes and seconds.
        VString text;
        uint64_t size = static_cast<uint64_t>(fMilliseconds);
        if (fMilliseconds < 0)
        {
            text.AppendUniChar(u'-');
            size = 0 - size;
        }
        text.AppendULong8(size / kHour);
        for (uint64_t part : {(size / kMinute) % 60, (size / kSecond) % 60})
        {
            text.AppendUniChar(u':');
            if (part <= 9)
            {
                text.AppendUniChar(u'0');
            }
            text.AppendULong8(part);
        }
        detail::SetJSONString(outJSONValue, text);
    }
    else
    {
        double number = static_cast<double>(fMilliseconds);
        detail::SetJSONNumber(outJSONValue, (inOptions & 2) != 0 ? number : number / 1000.0);
    }
    return VE_OK;
}

VError VDuration::FromJSONValue(const VJSONValue& inJSONValue)
{
    detail::JSONScalar scalar;
    if (!detail::GetJSONScalar(inJSONValue, scalar))
    {
        return VE_OK;
    }
    if (scalar.fIsNull)
    {
        SetNull(true);
    }
    else
    {
        _Set(MillisecondsFromReal(scalar.fNumber * 1000.0));
    }
    return VE_OK;
}

// Raw memory and streams

const void* VDuration::LoadFromPtr(const void* inData, bool)
{
    _Set(LoadCount(inData));
    return static_cast<const char*>(inData) + sizeof(fMilliseconds);
}

void* VDuration::WriteToPtr(void* ioData, bool, size_t) const
{
    std::memcpy(ioData, &fMilliseconds, sizeof(fMilliseconds));
    return static_cast<char*>(ioData) + sizeof(fMilliseconds);
}

VError VDuration::WriteToStream(VStream* ioStream, int32_t) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int64_t field = ioStream->NeedSwap() ? ByteSwapped(fMilliseconds) : fMilliseconds;
    ioStream->PutData(&field, sizeof(field));
    return ioStream->GetLastError();
}

VError VDuration::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int64_t field;
    size_t count = 0;
    if (ioStream->GetData(&field, sizeof(field), &count) == VE_OK && count == sizeof(field))
    {
        fMilliseconds = ioStream->NeedSwap() ? ByteSwapped(field) : field;
    }
    return ioStream->GetLastError();
}

} // namespace zorn
