// The scalar value kinds: VEmpty (kind 0, always null) and the one-number kinds VBoolean (1),
// VByte (2, signed 8-bit), VWord (3, signed 16-bit), VLong (4, signed 32-bit) and VLong8 (5,
// signed 64-bit); VReal (6) is in VReal.h. Each holds one datum after the flags byte, converts it
// to every other scalar kind and to text, JSON, raw memory and streams, and has a value info that
// registers the kind.
//
// Conversions (setters and getters alike):
// - between integers: truncating (the low bits are kept);
// - real to integer: truncation toward zero; NaN, infinities and results outside the target's
//   range give 0;
// - to boolean: whether the number is non-zero (so NaN is true); from boolean: 0 or 1.
// Raw memory holds the datum in this machine's byte order (VBoolean: one byte 0 or 1). The stream
// form is the datum in the stream's byte order, VBoolean and VByte in a 16-bit field (VByte
// sign-extended; reading keeps the low byte, VBoolean reads any non-zero field as true). Reading
// from a stream leaves the flags alone and changes the datum only when the whole field was read.
//
// Text: integers are written in decimal, booleans as "true" and "false". Reading text goes through
// the source string's own getter (VString::GetLong for VLong...), as FromValue does for any value.
#pragma once

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace zorn
{

namespace detail
{

// An integral real to the integer type T: the same number, or 0 when the real is NaN, infinite or
// outside T's range.
template <class T>
T IntegralRealToInteger(double inIntegral)
{
    static_assert(std::is_integral_v<T> && std::is_signed_v<T>);
    // -2^(bits-1) and 2^(bits-1) are exact doubles for every integer width.
    constexpr double kLow = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double kHigh = -kLow;
    return inIntegral >= kLow && inIntegral < kHigh ? static_cast<T>(inIntegral) : T{0};
}

// Converts a datum between the scalar types by the rules of the header comment.
template <class TTo, class TFrom>
TTo ConvertScalar(TFrom inValue)
{
    if constexpr (std::is_same_v<TTo, bool>)
    {
        return inValue != 0;
    }
    else if constexpr (std::is_floating_point_v<TTo>)
    {
        return static_cast<TTo>(inValue);
    }
    else if constexpr (std::is_floating_point_v<TFrom>)
    {
        return IntegralRealToInteger<TTo>(std::trunc(inValue));
    }
    else
    {
        return static_cast<TTo>(inValue);
    }
}

} // namespace detail

// The common part of the one-number kinds: TValue is the kind's class, T the type of its datum
// (bool, int8_t, int16_t, int32_t, int64_t or double). TValue provides Info() and may provide a
// CompareData of its own (VReal compares with an epsilon).
template <class TValue, class T, ValueKind kKind>
class VScalarValue : public VValueSingle
{
public:
    // The stored field: bool is kept in one byte.
    using Storage = std::conditional_t<std::is_same_v<T, bool>, uint8_t, T>;

    VScalarValue() = default;
    explicit VScalarValue(T inValue) : fData(_ToStorage(inValue)) {}
    // From raw storage, or 0 when inInit is set.
    VScalarValue(const void* inData, bool inInit)
        : fData(inInit || inData == nullptr ? Storage{} : _Load(inData))
    {
    }

    const VValueInfo* GetValueInfo() const override { return &TValue::Info(); }
    void Clear() override
    {
        fData = Storage{};
        SetNull(false);
    }
    VValue* Clone() const override
    {
        TValue* copy = new TValue(static_cast<const TValue&>(*this));
        copy->SetDirty(true);
        return copy;
    }

    bool GetBoolean() const override { return detail::ConvertScalar<bool>(Value()); }
    int8_t GetByte() const override { return detail::ConvertScalar<int8_t>(Value()); }
    int16_t GetWord() const override { return detail::ConvertScalar<int16_t>(Value()); }
    int32_t GetLong() const override { return detail::ConvertScalar<int32_t>(Value()); }
    int64_t GetLong8() const override { return detail::ConvertScalar<int64_t>(Value()); }
    double GetReal() const override { return detail::ConvertScalar<double>(Value()); }

    void GetString(VString& outValue) const override
    {
        if constexpr (std::is_same_v<T, bool>)
        {
            outValue.FromCString(fData != 0 ? "true" : "false");
        }
        else if constexpr (std::is_integral_v<T>)
        {
            // VReal writes its own text.
            char text[24];
            auto result = std::to_chars(text, text + sizeof(text) - 1, fData);
            *result.ptr = 0;
            outValue.FromCString(text);
        }
    }
    // The target's setter of this kind's type; a string target gets the text form.
    void GetValue(VValueSingle& outValue) const override
    {
        if (VString* text = dynamic_cast<VString*>(&outValue))
        {
            GetString(*text);
        }
        else
        {
            _WriteOwnType(outValue, Value());
        }
    }

    void FromBoolean(bool inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromByte(int8_t inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromWord(int16_t inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromLong(int32_t inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromLong8(int64_t inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromReal(double inValue) override { _Set(detail::ConvertScalar<T>(inValue)); }
    void FromString(const VString& inValue) override { FromValue(inValue); }
    void FromDuration(const VDuration& inValue) override { FromValue(inValue); }
    // The duration's setter of this kind's type (numbers are seconds to a duration).
    void GetDuration(VDuration& outValue) const override { _WriteOwnType(outValue, Value()); }
    // Takes the source's null state and the source's getter of this kind's type.
    void FromValue(const VValueSingle& inValue) override
    {
        fData = _ToStorage(_ReadOwnType(inValue));
        SetNull(inValue.IsNull());
    }
    bool FromValueSameKind(const VValue* inValue) override
    {
        const VScalarValue* other = static_cast<const VScalarValue*>(inValue);
        fData = other->fData;
        SetNull(other->IsNull());
        return true;
    }

    // Comparisons: numeric, a bigger own value giving 1.
    CompareResult CompareTo(const VValueSingle& inValue, bool /*inDiacritical*/ = false) const override
    {
        return TValue::CompareData(fData, _ToStorage(_ReadOwnType(inValue)), kDefaultEpsilon);
    }
    CompareResult CompareToSameKind(const VValue* inValue, bool /*inDiacritical*/ = false) const override
    {
        return TValue::CompareData(fData, static_cast<const VScalarValue*>(inValue)->fData, kDefaultEpsilon);
    }
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                       bool /*inDiacritical*/ = false) const override
    {
        return TValue::CompareData(fData, _Load(inPtrToValueData), kDefaultEpsilon);
    }
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override
    {
        return TValue::CompareData(fData, static_cast<const VScalarValue*>(inValue)->fData,
                                   inOptions.GetEpsilon());
    }
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override
    {
        return TValue::CompareData(fData, _Load(inPtrToValueData), inOptions.GetEpsilon());
    }

    // Raw memory.
    const void* LoadFromPtr(const void* inData, bool /*inRefOnly*/ = false) override
    {
        fData = _Load(inData);
        SetNull(false);
        return static_cast<const char*>(inData) + sizeof(Storage);
    }
    void* WriteToPtr(void* ioData, bool /*inRefOnly*/ = false, size_t /*inMax*/ = 0) const override
    {
        std::memcpy(ioData, &fData, sizeof(Storage));
        return static_cast<char*>(ioData) + sizeof(Storage);
    }
    size_t GetSpace(size_t /*inMax*/ = 0) const override { return sizeof(Storage); }

    // Stream form.
    VError WriteToStream(VStream* ioStream, int32_t /*inParam*/ = 0) const override
    {
        if (ioStream == nullptr)
        {
            return VE_OK;
        }
        StreamField field = static_cast<StreamField>(Value());
        if (ioStream->NeedSwap())
        {
            field = ByteSwapped(field);
        }
        ioStream->PutData(&field, sizeof(field));
        return ioStream->GetLastError();
    }
    VError ReadFromStream(VStream* ioStream, int32_t /*inParam*/ = 0) override
    {
        if (ioStream == nullptr)
        {
            return VE_OK;
        }
        StreamField field;
        size_t count = 0;
        if (ioStream->GetData(&field, sizeof(field), &count) == VE_OK && count == sizeof(field))
        {
            fData = _ToStorage(detail::ConvertScalar<T>(ioStream->NeedSwap() ? ByteSwapped(field) : field));
        }
        return ioStream->GetLastError();
    }

    // JSON values: null, else a number (VBoolean: a boolean). Reading takes null from a JSON
    // null; integers take the floor of the number when the type holds it exactly, else 0.
    VError GetJSONValue(VJSONValue& outJSONValue) const override
    {
        if (IsNull())
        {
            detail::SetJSONNull(outJSONValue);
        }
        else if constexpr (std::is_same_v<T, bool>)
        {
            detail::SetJSONBool(outJSONValue, fData != 0);
        }
        else
        {
            detail::SetJSONNumber(outJSONValue, static_cast<double>(fData));
        }
        return VE_OK;
    }
    VError FromJSONValue(const VJSONValue& inJSONValue) override
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
        else if constexpr (std::is_same_v<T, bool>)
        {
            _Set(scalar.fBool);
        }
        else if constexpr (std::is_floating_point_v<T>)
        {
            _Set(scalar.fNumber);
        }
        else
        {
            _Set(detail::IntegralRealToInteger<T>(std::floor(scalar.fNumber)));
        }
        return VE_OK;
    }

    // Numeric three-way comparison; the epsilon serves reals only.
    static CompareResult CompareData(Storage inA, Storage inB, double /*inEpsilon*/)
    {
        return inA < inB ? CR_SMALLER : (inB < inA ? CR_BIGGER : CR_EQUAL);
    }

protected:
    // The tolerance of real comparisons made without options.
    static constexpr double kDefaultEpsilon = 1e-6;

    T Value() const
    {
        if constexpr (std::is_same_v<T, bool>)
        {
            return fData != 0;
        }
        else
        {
            return fData;
        }
    }
    // Stores a datum: not null, dirty.
    void _Set(T inValue)
    {
        fData = _ToStorage(inValue);
        SetNull(false);
    }

    Storage fData{};

private:
    // One-byte kinds travel in a 16-bit field.
    using StreamField = std::conditional_t<sizeof(Storage) == 1, int16_t, Storage>;

    static Storage _ToStorage(T inValue) { return static_cast<Storage>(inValue); }
    static Storage _Load(const void* inData)
    {
        Storage value;
        std::memcpy(&value, inData, sizeof(Storage));
        if constexpr (std::is_same_v<T, bool>)
        {
            value = value != 0 ? 1 : 0;
        }
        return value;
    }

    static T _ReadOwnType(const VValueSingle& inValue)
    {
        if constexpr (std::is_same_v<T, bool>)
        {
            return inValue.GetBoolean();
        }
        else if constexpr (std::is_same_v<T, int8_t>)
        {
            return inValue.GetByte();
        }
        else if constexpr (std::is_same_v<T, int16_t>)
        {
            return inValue.GetWord();
        }
        else if constexpr (std::is_same_v<T, int32_t>)
        {
            return inValue.GetLong();
        }
        else if constexpr (std::is_same_v<T, int64_t>)
        {
            return inValue.GetLong8();
        }
        else
        {
            return inValue.GetReal();
        }
    }
    static void _WriteOwnType(VValueSingle& outValue, T inValue)
    {
        if constexpr (std::is_same_v<T, bool>)
        {
            outValue.FromBoolean(inValue);
        }
        else if constexpr (std::is_same_v<T, int8_t>)
        {
            outValue.FromByte(inValue);
        }
        else if constexpr (std::is_same_v<T, int16_t>)
        {
            outValue.FromWord(inValue);
        }
        else if constexpr (std::is_same_v<T, int32_t>)
        {
            outValue.FromLong(inValue);
        }
        else if constexpr (std::is_same_v<T, int64_t>)
        {
            outValue.FromLong8(inValue);
        }
        else
        {
            outValue.FromReal(inValue);
        }
    }
};

// Kind 0: no datum, always null.
class VEmpty : public VValueSingle
{
public:
    VEmpty() : VValueSingle(true) {}

    static const VValueInfo_default<VEmpty, VK_EMPTY>& Info();
    const VValueInfo* GetValueInfo() const override { return &Info(); }
    // An empty value stays null.
    void Clear() override { SetDirty(true); }
    VValue* Clone() const override;
    // Equal to another null value, before any value that is not null.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;

protected:
    // Clearing the null bit (SetNull(false), ConvertTo from a value that is not null) sets it again.
    void DoNullChanged() override { fFlags |= kNull; }
};
using VEmpty_info = VValueInfo_default<VEmpty, VK_EMPTY>;

class VBoolean;
class VByte;
class VWord;
class VLong;
class VLong8;
using VBoolean_info = VValueInfo_scalar<VBoolean, VK_BOOLEAN, uint8_t>;
using VByte_info = VValueInfo_scalar<VByte, VK_BYTE, int8_t>;
using VWord_info = VValueInfo_scalar<VWord, VK_WORD, int16_t>;
using VLong_info = VValueInfo_scalar<VLong, VK_LONG, int32_t>;
using VLong8_info = VValueInfo_scalar<VLong8, VK_LONG8, int64_t>;

class VBoolean : public VScalarValue<VBoolean, bool, VK_BOOLEAN>
{
public:
    using VScalarValue::VScalarValue;
    static const VBoolean_info& Info();

    // Accepts exactly "1", "0", "true" and "false"; false, value unchanged, for anything else.
    bool FromXMLString(const VString& inValue) override;
    // The XML form; text that it does not accept makes the value false (not null).
    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
};

class VByte : public VScalarValue<VByte, int8_t, VK_BYTE>
{
public:
    using VScalarValue::VScalarValue;
    static const VByte_info& Info();
};

class VWord : public VScalarValue<VWord, int16_t, VK_WORD>
{
public:
    using VScalarValue::VScalarValue;
    static const VWord_info& Info();
};

class VLong : public VScalarValue<VLong, int32_t, VK_LONG>
{
public:
    using VScalarValue::VScalarValue;
    static const VLong_info& Info();
};

class VLong8 : public VScalarValue<VLong8, int64_t, VK_LONG8>
{
public:
    using VScalarValue::VScalarValue;
    static const VLong8_info& Info();

    // A null string makes the value null and leaves the datum as it was.
    void FromString(const VString& inValue) override;
};

} // namespace zorn
