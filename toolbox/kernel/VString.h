// VString: the toolbox's one string type, a sequence of UTF-16 units that is also a typed value
// (kind 10). Short text lives in an inline buffer inside the object (VStr<N> gives N units of it);
// longer text lives in a heap buffer from the memory manager that copies share copy-on-write
// through a reference count kept in the same block, after the terminator.
//
// Buffer kinds: inline; counted heap buffer (shared, atomic count); uncounted owned buffer (one
// owner, copied rather than shared); borrowed storage (a literal, a caller's buffer, another
// holder's buffer: never freed, and copied before the first write unless the caller lent it
// for writing with the caller-buffer constructor).
//
// Positions are 1-based; lengths and counts are int32. The text is always zero-terminated.
// Failures (negative lengths, sizes past 0x7FFFFFFC units, no memory) raise 'zorn' 107 and leave
// the string as it was.
#pragma once

#include "toolbox/kernel/VValue.h"
#include "toolbox/kernel/VValueInfo.h"

#include <cstddef>

namespace zorn
{

class VString;

// A string buffer held without a VString: length, a counted buffer with one reference on it,
// capacity. A null buffer stands for the empty string. Fields are adjacent, as stored.
struct __attribute__((packed)) VInlineString
{
    int32_t fLength = 0;
    UniChar* fString = nullptr;
    int32_t fMaxLength = 0;

    // Drops the reference on the buffer (freeing it when it was the last) and empties the record.
    void Release();
    // Takes one more reference on the buffer (nothing for the empty string).
    void Retain() const;
};

// The value descriptor of kind 10.
class VString_info : public VValueInfo
{
public:
    VString_info() : VValueInfo(VK_STRING) {}
    VValue* Generate() const override;
    VValue* Generate(VBlob* inBlob) const override;
    VValue* LoadFromPtr(const void* inData, bool inRefOnly) const override;
    void* ByteSwapPtr(void* inData, bool inFromHost) const override;
    size_t GetSizeOfValueDataPtr(const void* inPtr) const override;
    size_t GetAvgSpace() const override { return 64; }
};

class VString : public VValueSingle
{
public:
    // Flag bits of the string, beside the value model's null and dirty bits.
    static constexpr uint8_t kBorrowed = 16;       // the buffer is somebody else's: never freed
    static constexpr uint8_t kCallerWritable = 32; // a borrowed buffer lent for writing in place
    static constexpr uint8_t kUncounted = 64;      // one owner, no count: copied, never shared

    VString();
    explicit VString(bool inIsNull);
    VString(const VString& inOther);
    VString(VString&& inOther) noexcept;
    explicit VString(UniChar inUniChar);
    VString(const UniChar* inUniCString, int32_t inLength);
    VString(const UniChar* inUniCString);
    VString(const wchar_t* inWideCString);
    VString(const char* inCString);
    VString(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);
    // Writes into the caller's storage in place, without copying: inBufferSize is in bytes
    // (capacity = size / 2 - 1); SIZE_MAX means "not given", the capacity then being the length.
    // A null buffer gives an empty null string.
    VString(UniChar* inBuffer, int32_t inLength, size_t inBufferSize);
    // Shares the record's buffer (one more reference).
    explicit VString(const VInlineString& inInlineString);
    // Borrows the record's buffer without taking a reference.
    VString(const VInlineString& inInlineString, bool inBorrow);
    ~VString() override;

    VString& operator=(const VString& inOther)
    {
        FromString(inOther);
        return *this;
    }
    VString& operator=(VString&& inOther) noexcept;

    // A heap string object with inline room for inInlineCapacity units; release it with delete.
    static VString* NewString(int32_t inInlineCapacity);
    VString* Clone() const override;

    // The descriptor of kind 10, built and registered on first use.
    static const VString_info& Info();
    const VValueInfo* GetValueInfo() const override;
    // The empty, non-null string, built on first use.
    static const VString& GetEmptyString();

    // Assignment. A counted source buffer is shared; anything else is copied.
    void FromString(const VString& inString) override;
    void FromString(const VInlineString& inInlineString);
    // A zero-terminated byte string: ASCII is widened unit by unit, anything else is decoded from
    // the C library's character set.
    void FromCString(const char* inCString);
    void FromUniChar(UniChar inUniChar);
    void FromUniCString(const UniChar* inUniCString, int32_t inLength);
    // Decodes bytes of a character set. Returns false (string left empty) for a set that has no
    // converter in this program.
    bool FromBlock(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);

    // The buffer with one reference for the caller, to fill a VInlineString. Inline and uncounted
    // buffers are copied into a new counted one. Empty or null strings, and allocation failure,
    // give null and 0, 0.
    UniChar* RetainBuffer(int32_t& outLength, int32_t& outCapacity) const;

    void Swap(VString& ioOther);

    // Empties the string, returning to its inline buffer; not null, dirty.
    void Clear() override;

    // After the caller wrote units into the buffer (up to the capacity), sets the length;
    // false and no change when inLength is negative or above the capacity.
    bool Validate(int32_t inLength);
    // A writable buffer of at least inLength units, content kept; null on failure.
    UniChar* GetCPointerForWrite(int32_t inLength);
    bool EnsureSize(int32_t inLength, bool inKeepContent = true);

    // The unit at 1-based inPos; 0 outside 1..length or when null.
    UniChar GetUniChar(int32_t inPos) const;
    bool SetUniChar(int32_t inPos, UniChar inUniChar);

    bool IsStringValid() const;

    const UniChar* GetCPointer() const { return fString; }
    int32_t GetLength() const { return fLength; }
    int32_t GetCapacity() const { return fMaxLength; }
    int32_t GetInlineCapacity() const { return fInlineCapacity; }
    bool IsEmpty() const { return fLength == 0; }
    bool IsInline() const { return fString == fInlineBuffer; }

    // The allocation size in units (capacity + 3: terminator and count) for a buffer that grows
    // from inOldLength to inNewLength units; 0 when it would exceed the size limit.
    static int64_t ComputeProgressiveResize(int32_t inOldLength, int32_t inNewLength);

    using VObject::DebugDump;
    // The units as native UTF-16: min(2 x length, ioSize - 2) bytes.
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

    // Value model.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    void GetString(VString& outValue) const override { outValue.FromString(*this); }
    void GetValue(VValueSingle& outValue) const override { outValue.FromString(*this); }
    void FromValue(const VValueSingle& inValue) override;
    bool FromValueSameKind(const VValue* inValue) override;
    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t inMax = 0) const override;

    // The count of a counted buffer (for diagnostics and tests); 0 for other kinds.
    uint32_t GetBufferRefCount() const;

    // Numbers read from the text (VString_Number.cpp). Readers never fail: text without a number
    // gives 0.
    // Every unit 0-9, A-F, a-f is a hexadecimal digit (64 bits, wrapping); other units are skipped,
    // so "0x1F" gives 31.
    int64_t GetHexLong() const;
    // Every digit accumulates (64 bits, wrapping); a '-' met while the value is still 0 makes it
    // negative; the decimal separator ends the scan; other units are skipped ("12-3" gives 123).
    int64_t GetLong8() const override;
    // GetLong8 when it fits in 32 bits, else 0.
    int32_t GetLong() const override;
    // The C library's strtod in the C locale ('.' is the decimal separator whatever the locale).
    double GetReal() const override;
    // GetReal; *outOverflow (when given) tells whether the library reported a range error with a
    // zero or infinite result.
    double GetRealCheckOverflow(bool* outOverflow) const;

protected:
    struct InlineStorage
    {
    };
    // For VStr and other classes with inline storage of their own: inInlineBuffer holds
    // inInlineCapacity units and the terminator, and its owner zero-fills it.
    VString(InlineStorage, UniChar* inInlineBuffer, int32_t inInlineCapacity);

    // Points the (empty) string at storage it does not own; inBits says how it may be used.
    void _Borrow(UniChar* inBuffer, int32_t inLength, int32_t inCapacity, uint8_t inBits);

    // Gives the string a buffer of its own for inNewLength units (keeping min(length, new length)
    // units when inKeepContent). False, with 'zorn' 107 raised, when that cannot be done.
    bool _ReallocBuffer(int32_t inNewLength, bool inKeepContent);
    // Whether the present buffer may be written in place for inNewLength units.
    bool _IsWritable(int32_t inNewLength) const;
    // Makes the buffer writable for inNewLength units, keeping the content.
    bool _EnsureWritable(int32_t inNewLength, bool inKeepContent = true);
    // Empties the string without touching the null and dirty flags.
    void _Clear();

    void DoNullChanged() override;

private:
    static constexpr uint8_t kBufferBits = kBorrowed | kCallerWritable | kUncounted;

    // A heap buffer with a count, whether this string holds a reference on it or borrows it.
    bool _HasCountedBuffer() const { return !IsInline() && (fFlags & kUncounted) == 0; }
    void _ReleaseBuffer();
    void _ResetToInline();
    // Takes over ioOther's content (a heap buffer with its bits, or a copy of inline text) and
    // leaves ioOther empty on its inline buffer. False, both unchanged, when the copy fails.
    bool _TakeContent(VString& ioOther);
    // Sets the text to a copy of the units (which may lie in this string's own buffer).
    bool _CopyUnits(const UniChar* inUnits, int32_t inLength);
    void _SetBufferBits(uint8_t inBits) { fFlags = static_cast<uint8_t>((fFlags & ~kBufferBits) | inBits); }

    UniChar* fString;
    int32_t fLength = 0;
    int32_t fMaxLength;
    int32_t fInlineCapacity;
    UniChar* fInlineBuffer;
    UniChar fOwnInline[1] = {0}; // inline storage of a plain VString: the terminator only
};

// A string with inline room for N units.
template <int N>
class VStr : public VString
{
    static_assert(N > 0);

public:
    VStr() : VString(InlineStorage{}, fBuffer, N) {}
    VStr(const VString& inOther) : VStr() { FromString(inOther); }
    VStr(const VStr& inOther) : VStr() { FromString(inOther); }
    VStr(const UniChar* inUniCString) : VStr() { FromUniCString(inUniCString, -1); }
    VStr(const char* inCString) : VStr() { FromCString(inCString); }
    VStr& operator=(const VString& inOther)
    {
        FromString(inOther);
        return *this;
    }
    VStr& operator=(const VStr& inOther)
    {
        FromString(inOther);
        return *this;
    }
    ~VStr() override = default;

private:
    UniChar fBuffer[N + 1] = {0};
};

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr50 = VStr<50>;
using VStr63 = VStr<63>;
using VStr80 = VStr<80>;
using VStr100 = VStr<100>;
using VStr255 = VStr<255>;
using VStr1000 = VStr<1000>;

// A string over a constant UTF-16 literal, borrowed and uncounted: no copy until a write.
class CVSTR_struct : public VString
{
public:
    explicit CVSTR_struct(const char16_t* inLiteral);
};

} // namespace zorn

// A VString over a UTF-16 literal: CVSTR("text").
#define CVSTR(text) ::zorn::CVSTR_struct(u"" text)
