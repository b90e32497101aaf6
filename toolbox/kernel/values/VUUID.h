// VUUID: the typed value of kind 13, a 16-byte identifier whose text form is 32 upper-case
// hexadecimal digits, byte 0 first. Progress indicators, value bags and temporary file names carry
// them.
//
// Choices made where several were possible:
// - Generation: version 7 is time-ordered (48-bit Unix milliseconds, a 12-bit fraction of the
//   millisecond, then random bits); every other version gives 16 random bytes marked as version 4
//   of RFC 4122. Version 0, the system's own generator, is the random one here: Linux has no
//   UUID service of its own beyond the kernel's random source, which XLinuxSystem::Random reads.
// - Null: setting the bytes from a buffer, a C string or the packed form makes the UUID null
//   exactly when all 16 bytes are 0; setting the null flag zeroes the bytes. FromString and the
//   stream reader always give a UUID that is not null, even when it is all zero.
// - Text reading is lenient: FromString takes the first 32 hexadecimal digits and skips anything
//   else (braces, dashes); with fewer digits the text itself (UTF-8, cut or padded with spaces to
//   16 bytes) becomes the bytes. IsUUIDString is the strict test (32 upper-case digits).
// - Bytes are never swapped: byte 0 is the most significant in every ordering, and the packed and
//   stream forms are the 16 bytes as stored.
// - Equality (operator==) ignores the null flags; CompareTo against another kind answers -1000.
// - An optional cached text (GetCachedConvertedString) follows every change; copies never share
//   it.
#pragma once

#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace zorn
{

class VString;
class VUUID_info;

// 16 raw bytes.
struct VUUIDBuffer
{
    uint8_t fBytes[16]{};

    bool IsZero() const
    {
        for (uint8_t byte : fBytes)
        {
            if (byte != 0)
            {
                return false;
            }
        }
        return true;
    }
    bool operator==(const VUUIDBuffer& inOther) const = default;
};

class VUUID : public VValueSingle
{
public:
    // The generation methods.
    enum Version : int
    {
        kSystem = 0,
        kRandom = 4,
        kTimeOrdered = 7
    };

    // All zero, null.
    constexpr VUUID() { fFlags = kNull | kDirty; }
    // inGenerate false: all zero, null; true: new bytes of the version, not null.
    explicit VUUID(bool inGenerate, Version inVersion = kRandom);
    explicit VUUID(const VUUIDBuffer& inBuffer);
    explicit VUUID(const VString& inText);
    explicit VUUID(const char* inText);
    // Copies the bytes and the null flag, not the cached text.
    VUUID(const VUUID& inOther);
    VUUID& operator=(const VUUID& inOther);
    ~VUUID() override;

    // The all-zero null UUID.
    static const VUUID sNullUUID;

    static const VUUID_info& Info();
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;

    // New bytes from the version's generator; not null.
    void Regenerate(Version inVersion = kRandom);
    // Fills the buffer as the version's generator does.
    static void Generate(VUUIDBuffer& outBuffer, Version inVersion);

    void FromBuffer(const VUUIDBuffer& inBuffer);
    // A C string: up to 16 bytes are taken as they are (then zeros); exactly 32 characters are
    // hexadecimal digits (any other character counting as 0); any other length leaves the bytes.
    void FromBuffer(const char* inText);
    void ToBuffer(VUUIDBuffer& outBuffer) const { outBuffer = fData; }
    const VUUIDBuffer& GetBuffer() const { return fData; }
    // Spaces, then the text's UTF-8 bytes over them (at most 16); not null.
    void BuildFromAnsiString(const VString& inText);
    // Exactly 32 characters '0'-'9' or 'A'-'F', not all '0' unless inAcceptNull.
    static bool IsUUIDString(const VString& inText, bool inAcceptNull = false);

    // The text form kept up to date with the UUID; created on the first call with inCreate.
    const VString* GetCachedConvertedString(bool inCreate = true) const;

    bool operator==(const VUUID& inOther) const { return fData == inOther.fData; }
    bool operator!=(const VUUID& inOther) const { return !(*this == inOther); }
    bool operator<(const VUUID& inOther) const;

    // Value model.
    void Clear() override;
    void GetString(VString& outValue) const override;
    void FromString(const VString& inValue) override;
    void GetVUUID(VUUID& outValue) const override { outValue.FromVUUID(*this); }
    void FromVUUID(const VUUID& inValue) override;
    void GetValue(VValueSingle& outValue) const override { outValue.FromVUUID(*this); }
    void FromValue(const VValueSingle& inValue) override { inValue.GetVUUID(*this); }
    bool FromValueSameKind(const VValue* inValue) override;

    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                       bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;

    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t /*inMax*/ = 0) const override { return sizeof(VUUIDBuffer); }
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;

    // The text; with option bit 1 in double quotes (the digits need no escaping).
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    // A JSON string of the text, or JSON null for a null UUID.
    VError GetJSONValue(VJSONValue& outJSONValue) const override;
    // JSON null makes the UUID null; anything else is read by FromString from its text.
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

    // Orders two packed UUIDs by their bytes: -1, 0 or 1.
    static CompareResult CompareBytes(const void* inA, const void* inB);

protected:
    void DoNullChanged() override;

private:
    // New bytes: the null flag as given, dirty, the cached text rewritten.
    void _SetBytes(const VUUIDBuffer& inBuffer, bool inNull);
    void _UpdateCachedText() const;

    VUUIDBuffer fData;
    mutable std::unique_ptr<VString> fCachedText;
};

// The descriptor of kind 13: new values are null UUIDs; packed data is 16 bytes.
class VUUID_info : public VValueInfo_default<VUUID, VK_UUID>
{
public:
    VValue* LoadFromPtr(const void* inData, bool inRefOnly) const override;
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
    size_t GetSizeOfValueDataPtr(const void* /*inPtr*/) const override { return sizeof(VUUIDBuffer); }
    size_t GetAvgSpace() const override { return sizeof(VUUIDBuffer); }
};

} // namespace zorn
