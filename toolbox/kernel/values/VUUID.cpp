#include "toolbox/kernel/values/VUUID.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/HexDigit.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>

namespace zorn
{

constinit const VUUID VUUID::sNullUUID;

// Construction

VUUID::VUUID(bool inGenerate, Version inVersion) : VUUID()
{
    if (inGenerate)
    {
        Generate(fData, inVersion);
        fFlags = kDirty;
    }
}

VUUID::VUUID(const VUUIDBuffer& inBuffer) : VUUID()
{
    FromBuffer(inBuffer);
}

VUUID::VUUID(const VString& inText) : VUUID()
{
    FromString(inText);
}

VUUID::VUUID(const char* inText) : VUUID()
{
    FromBuffer(inText);
}

VUUID::VUUID(const VUUID& inOther) : VValueSingle(inOther), fData(inOther.fData)
{
    fFlags |= kDirty;
}

VUUID& VUUID::operator=(const VUUID& inOther)
{
    FromVUUID(inOther);
    return *this;
}

VUUID::~VUUID() = default;

const VUUID_info& VUUID::Info()
{
    static const VUUID_info sInfo;
    return sInfo;
}

const VValueInfo* VUUID::GetValueInfo() const
{
    return &Info();
}

VValue* VUUID::Clone() const
{
    return new VUUID(fData);
}

// Generation

void VUUID::Generate(VUUIDBuffer& outBuffer, Version inVersion)
{
    uint8_t* bytes = outBuffer.fBytes;
    if (inVersion == kTimeOrdered)
    {
        int64_t nanoseconds = VSystem::GetRealTimeNanoseconds();
        uint64_t milliseconds = static_cast<uint64_t>(nanoseconds / 1000000);
        int64_t microseconds = nanoseconds / 1000;
        auto fraction = static_cast<uint32_t>(static_cast<double>(microseconds % 1000) / 1000.0 * 4096.0);
        for (int i = 0; i < 6; ++i)
        {
            bytes[i] = static_cast<uint8_t>(milliseconds >> (8 * (5 - i)));
        }
        bytes[6] = static_cast<uint8_t>(0x70 | (fraction >> 8));
        bytes[7] = static_cast<uint8_t>(fraction & 0xFF);
        XLinuxSystem::Random(bytes + 8, 8);
        bytes[8] = static_cast<uint8_t>(0x80 | (bytes[8] & 0x3F));
    }
    else
    {
        // The system generator (version 0) is the random one on Linux.
        XLinuxSystem::Random(bytes, sizeof(outBuffer.fBytes));
        bytes[6] = static_cast<uint8_t>(0x40 | (bytes[6] & 0x0F));
        bytes[8] = static_cast<uint8_t>(0x80 | (bytes[8] & 0x3F));
    }
}

void VUUID::Regenerate(Version inVersion)
{
    VUUIDBuffer buffer;
    Generate(buffer, inVersion);
    _SetBytes(buffer, false);
}

// Bytes and text

void VUUID::_SetBytes(const VUUIDBuffer& inBuffer, bool inNull)
{
    fData = inBuffer;
    // The flag bits directly: DoNullChanged would zero the bytes just set.
    fFlags = static_cast<uint8_t>((fFlags & ~kNull) | (inNull ? kNull : 0));
    SetDirty(true);
    _UpdateCachedText();
}

void VUUID::FromBuffer(const VUUIDBuffer& inBuffer)
{
    _SetBytes(inBuffer, inBuffer.IsZero());
}

void VUUID::FromBuffer(const char* inText)
{
    VUUIDBuffer buffer = fData;
    size_t length = inText == nullptr ? 0 : std::strlen(inText);
    if (length <= sizeof(buffer.fBytes))
    {
        buffer = VUUIDBuffer{};
        if (length > 0)
        {
            std::memcpy(buffer.fBytes, inText, length);
        }
    }
    else if (length == 2 * sizeof(buffer.fBytes))
    {
        for (size_t i = 0; i < sizeof(buffer.fBytes); ++i)
        {
            int high = HexDigitValue(static_cast<unsigned char>(inText[2 * i]));
            int low = HexDigitValue(static_cast<unsigned char>(inText[2 * i + 1]));
            buffer.fBytes[i] = static_cast<uint8_t>((std::max(high, 0) << 4) | std::max(low, 0));
        }
    }
    _SetBytes(buffer, buffer.IsZero());
}

void VUUID::FromString(const VString& inValue)
{
    VUUIDBuffer buffer;
    int digits = 0;
    for (int32_t i = 0; i < inValue.GetLength() && digits < 32; ++i)
    {
        int value = HexDigitValue(inValue.GetCPointer()[i]);
        if (value >= 0)
        {
            buffer.fBytes[digits / 2] |= static_cast<uint8_t>(digits % 2 == 0 ? value << 4 : value);
            ++digits;
        }
    }
    if (digits == 32)
    {
        _SetBytes(buffer, false);
    }
    else
    {
        BuildFromAnsiString(inValue);
    }
}

void VUUID::BuildFromAnsiString(const VString& inText)
{
    VUUIDBuffer buffer;
    std::memset(buffer.fBytes, ' ', sizeof(buffer.fBytes));
    VMemoryBuffer<> utf8;
    if (inText.ToBuffer(utf8, CharSet::VTC_UTF_8) && utf8.GetDataSize() > 0)
    {
        std::memcpy(buffer.fBytes, utf8.GetDataPtr(), std::min(utf8.GetDataSize(), sizeof(buffer.fBytes)));
    }
    _SetBytes(buffer, false);
}

bool VUUID::IsUUIDString(const VString& inText, bool inAcceptNull)
{
    if (inText.GetLength() != 32)
    {
        return false;
    }
    bool allZero = true;
    for (int32_t i = 0; i < 32; ++i)
    {
        UniChar c = inText.GetCPointer()[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
        {
            return false;
        }
        allZero = allZero && c == '0';
    }
    return inAcceptNull || !allZero;
}

void VUUID::GetString(VString& outValue) const
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char text[33];
    for (size_t i = 0; i < sizeof(fData.fBytes); ++i)
    {
        uint8_t byte = IsNull() ? 0 : fData.fBytes[i];
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 0x0F];
    }
    text[32] = 0;
    outValue.FromCString(text);
}

const VString* VUUID::GetCachedConvertedString(bool inCreate) const
{
    if (fCachedText == nullptr && inCreate)
    {
        fCachedText = std::make_unique<VString>();
        _UpdateCachedText();
    }
    return fCachedText.get();
}

void VUUID::_UpdateCachedText() const
{
    if (fCachedText != nullptr)
    {
        GetString(*fCachedText);
        fCachedText->SetNull(IsNull());
    }
}

bool VUUID::operator<(const VUUID& inOther) const
{
    return CompareBytes(fData.fBytes, inOther.fData.fBytes) == CR_SMALLER;
}

// Value model

void VUUID::Clear()
{
    _SetBytes(VUUIDBuffer{}, true);
}

void VUUID::FromVUUID(const VUUID& inValue)
{
    if (&inValue != this)
    {
        _SetBytes(inValue.fData, inValue.IsNull());
    }
}

bool VUUID::FromValueSameKind(const VValue* inValue)
{
    FromVUUID(*static_cast<const VUUID*>(inValue));
    return true;
}

void VUUID::DoNullChanged()
{
    if (IsNull())
    {
        fData = VUUIDBuffer{};
    }
    _UpdateCachedText();
}

CompareResult VUUID::CompareBytes(const void* inA, const void* inB)
{
    int result = std::memcmp(inA, inB, sizeof(VUUIDBuffer));
    return result < 0 ? CR_SMALLER : (result > 0 ? CR_BIGGER : CR_EQUAL);
}

CompareResult VUUID::CompareTo(const VValueSingle& inValue, bool inDiacritical) const
{
    if (inValue.GetValueKind() != VK_UUID)
    {
        return CR_UNRELEVANT;
    }
    return CompareToSameKind(&inValue, inDiacritical);
}

CompareResult VUUID::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareBytes(fData.fBytes, static_cast<const VUUID*>(inValue)->fData.fBytes);
}

CompareResult VUUID::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareBytes(fData.fBytes, inPtrToValueData);
}

CompareResult VUUID::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue);
}

CompareResult VUUID::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                     const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData);
}

bool VUUID::EqualToSameKind(const VValue* inValue, bool) const
{
    return CompareToSameKind(inValue) == CR_EQUAL;
}

bool VUUID::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareToSameKindPtr(inPtrToValueData) == CR_EQUAL;
}

bool VUUID::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue);
}

bool VUUID::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData);
}

// Packed and stream forms

const void* VUUID::LoadFromPtr(const void* inData, bool)
{
    VUUIDBuffer buffer;
    std::memcpy(buffer.fBytes, inData, sizeof(buffer.fBytes));
    FromBuffer(buffer);
    return static_cast<const char*>(inData) + sizeof(buffer.fBytes);
}

void* VUUID::WriteToPtr(void* ioData, bool, size_t) const
{
    std::memcpy(ioData, fData.fBytes, sizeof(fData.fBytes));
    return static_cast<char*>(ioData) + sizeof(fData.fBytes);
}

VError VUUID::ReadFromStream(VStream* ioStream, int32_t)
{
    VUUIDBuffer buffer;
    size_t count = 0;
    // The bytes change only when all 16 were read.
    if (ioStream->GetData(buffer.fBytes, sizeof(buffer.fBytes), &count) == VE_OK &&
        count == sizeof(buffer.fBytes))
    {
        _SetBytes(buffer, false);
    }
    return ioStream->GetLastError();
}

VError VUUID::WriteToStream(VStream* ioStream, int32_t) const
{
    return ioStream->PutData(fData.fBytes, sizeof(fData.fBytes));
}

// JSON

VError VUUID::GetJSONString(VString& outJSONString, JSONStringOptions inOptions) const
{
    GetString(outJSONString);
    if ((inOptions & 1) != 0)
    {
        outJSONString.Insert(UniChar('"'), 1);
        outJSONString.AppendUniChar('"');
    }
    return VE_OK;
}

VError VUUID::GetJSONValue(VJSONValue& outJSONValue) const
{
    if (IsNull())
    {
        detail::SetJSONNull(outJSONValue);
    }
    else
    {
        VString text;
        GetString(text);
        detail::SetJSONString(outJSONValue, text);
    }
    return VE_OK;
}

VError VUUID::FromJSONValue(const VJSONValue& inJSONValue)
{
    detail::JSONScalar scalar;
    if (detail::GetJSONScalar(inJSONValue, scalar) && scalar.fIsNull)
    {
        SetNull(true);
        return VE_OK;
    }
    VString text;
    if (detail::GetJSONString(inJSONValue, text))
    {
        FromString(text);
    }
    return VE_OK;
}

// VUUID_info

VValue* VUUID_info::LoadFromPtr(const void* inData, bool inRefOnly) const
{
    VUUID* value = new VUUID();
    value->LoadFromPtr(inData, inRefOnly);
    return value;
}

CompareResult VUUID_info::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool) const
{
    return VUUID::CompareBytes(inPtr1, inPtr2);
}

CompareResult VUUID_info::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2, bool) const
{
    return VUUID::CompareBytes(inPtr1, inPtr2);
}

CompareResult VUUID_info::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                         const VCompareOptions&) const
{
    return VUUID::CompareBytes(inPtr1, inPtr2);
}

} // namespace zorn
