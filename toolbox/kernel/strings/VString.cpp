#include "toolbox/kernel/strings/VString.h"

#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/values/VUUID.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace zorn
{

namespace
{

constexpr OsType kTagString = MakeOsType('s', 't', 'r', ' ');
constexpr OsType kTagStringRetained = MakeOsType('s', 't', 'r', 'X');
// Allocation sizes (in units) above this fail: the capacity must stay a positive int32.
constexpr int64_t kMaxAllocUnits = 0x80000002LL;
// At most this many spare units when a string grows.
constexpr int32_t kMaxExtraUnits = 0xA00000;

// A counted buffer keeps its 32-bit count at the first even unit index after the terminator
// slot, so that the count is 4-byte aligned.
int64_t CountIndex(int32_t inCapacity)
{
    return (static_cast<int64_t>(inCapacity) | 1) + 1;
}

std::atomic_ref<uint32_t> BufferCount(UniChar* inBuffer, int32_t inCapacity)
{
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(inBuffer + CountIndex(inCapacity)));
}

void RetainCountedBuffer(UniChar* inBuffer, int32_t inCapacity)
{
    BufferCount(inBuffer, inCapacity).fetch_add(1, std::memory_order_relaxed);
}

void ReleaseCountedBuffer(UniChar* inBuffer, int32_t inCapacity)
{
    // acq_rel: the thread that frees the buffer must see every other holder's last reads done.
    if (BufferCount(inBuffer, inCapacity).fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        // A buffer outliving the memory manager (strings destroyed at exit) is not freed.
        if (VCppMemMgr* manager = VObject::sCppMemMgr)
        {
            manager->Free(inBuffer);
        }
    }
}

void CopyUnitsRaw(UniChar* outDest, const UniChar* inSource, int32_t inCount)
{
    if (inCount > 0)
    {
        std::memmove(outDest, inSource, static_cast<size_t>(inCount) * sizeof(UniChar));
    }
}

// A heap string with inline room chosen at run time: the units follow the object.
class VDynamicInlineString final : public VString
{
public:
    explicit VDynamicInlineString(int32_t inInlineCapacity)
        : VString(InlineStorage{}, reinterpret_cast<UniChar*>(this + 1), inInlineCapacity)
    {
        reinterpret_cast<UniChar*>(this + 1)[0] = 0;
    }
    static void* operator new(size_t inSize, int32_t inInlineCapacity) noexcept
    {
        return std::malloc(inSize + (static_cast<size_t>(inInlineCapacity) + 1) * sizeof(UniChar));
    }
    static void operator delete(void* inBlock) { std::free(inBlock); }
    static void operator delete(void* inBlock, int32_t) { std::free(inBlock); }
};

} // namespace

int32_t VString::UniCStringLength(const UniChar* inString)
{
    if (inString == nullptr)
    {
        return 0;
    }
    int32_t length = 0;
    while (inString[length] != 0 && length < INT32_MAX)
    {
        ++length;
    }
    return length;
}

// Construction

VString::VString() : fString(fOwnInline), fMaxLength(0), fInlineCapacity(0), fInlineBuffer(fOwnInline) {}

VString::VString(InlineStorage, UniChar* inInlineBuffer, int32_t inInlineCapacity)
    : fString(inInlineBuffer), fMaxLength(inInlineCapacity), fInlineCapacity(inInlineCapacity),
      fInlineBuffer(inInlineBuffer)
{
    // The owner of the inline storage zero-fills it; nothing is written here before it exists.
}

VString::VString(bool inIsNull) : VString()
{
    if (inIsNull)
    {
        fFlags |= kNull;
    }
}

VString::VString(const VString& inOther) : VString()
{
    if (inOther._HasCountedBuffer())
    {
        RetainCountedBuffer(inOther.fString, inOther.fMaxLength);
        fString = inOther.fString;
        fLength = inOther.fLength;
        fMaxLength = inOther.fMaxLength;
    }
    else
    {
        _CopyUnits(inOther.fString, inOther.fLength);
    }
    if (inOther.IsNull())
    {
        fFlags |= kNull;
    }
}

VString::VString(VString&& inOther) noexcept : VString()
{
    if (!inOther.IsInline() && (inOther.fFlags & kBorrowed) == 0)
    {
        _TakeBuffer(inOther, inOther.fFlags & kUncounted);
    }
    else
    {
        FromString(inOther);
    }
    fFlags = static_cast<uint8_t>((fFlags & ~kNull) | (inOther.fFlags & kNull));
}

VString::VString(UniChar inUniChar) : VString()
{
    FromUniChar(inUniChar);
}

VString::VString(const UniChar* inUniCString, int32_t inLength) : VString()
{
    FromUniCString(inUniCString, inLength);
}

VString::VString(const UniChar* inUniCString) : VString()
{
    FromUniCString(inUniCString, -1);
}

VString::VString(const wchar_t* inWideCString) : VString()
{
    static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32 here");
    if (inWideCString != nullptr)
    {
        FromBlock(inWideCString, std::wcslen(inWideCString) * sizeof(wchar_t), CharSet::VTC_UTF_32);
    }
}

VString::VString(const char* inCString) : VString()
{
    FromCString(inCString);
}

VString::VString(const void* inBuffer, size_t inNbBytes, CharSet inCharSet) : VString()
{
    FromBlock(inBuffer, inNbBytes, inCharSet);
}

VString::VString(UniChar* inBuffer, int32_t inLength, size_t inBufferSize) : VString()
{
    if (inBuffer == nullptr)
    {
        fFlags |= kNull;
        return;
    }
    int64_t capacity = inBufferSize == SIZE_MAX ? inLength : static_cast<int64_t>(inBufferSize / 2) - 1;
    if (capacity < 0)
    {
        return; // no room even for the terminator: stay empty on the inline buffer
    }
    int32_t maxLength = static_cast<int32_t>(std::min<int64_t>(capacity, INT32_MAX));
    // A length outside the buffer would break every later operation: keep it within.
    _SetBuffer(inBuffer, std::clamp(inLength, 0, maxLength), maxLength,
               kBorrowed | kUncounted | kCallerWritable);
    if (inBufferSize != SIZE_MAX)
    {
        fString[fLength] = 0;
    }
}

VString::VString(const VInlineString& inInlineString) : VString()
{
    FromString(inInlineString);
}

VString::VString(const VInlineString& inInlineString, bool /*inBorrow*/) : VString()
{
    UniChar* buffer = inInlineString.fString;
    if (buffer != nullptr)
    {
        _SetBuffer(buffer, inInlineString.fLength, inInlineString.fMaxLength, kBorrowed);
    }
}

void VString::_TakeBuffer(VString& ioOther, uint8_t inBits)
{
    _SetBuffer(ioOther.fString, ioOther.fLength, ioOther.fMaxLength, inBits);
    ioOther._ResetToInline();
}

void VString::_SetBuffer(UniChar* inBuffer, int32_t inLength, int32_t inCapacity, uint8_t inBits)
{
    _ReleaseBuffer();
    fString = inBuffer;
    fLength = inLength;
    fMaxLength = inCapacity;
    _SetBufferBits(inBits);
}

VString::~VString()
{
    _ReleaseBuffer();
}

CVSTR_struct::CVSTR_struct(const char16_t* inLiteral)
{
    // The literal is never written: borrowed without kCallerWritable, so a write copies first.
    const UniChar* units = reinterpret_cast<const UniChar*>(inLiteral);
    int32_t length = UniCStringLength(units);
    if (length > 0)
    {
        _SetBuffer(const_cast<UniChar*>(units), length, length, kBorrowed | kUncounted);
    }
}

VString* VString::NewString(int32_t inInlineCapacity)
{
    if (inInlineCapacity < 0)
    {
        inInlineCapacity = 0;
    }
    return new (inInlineCapacity) VDynamicInlineString(inInlineCapacity);
}

VString* VString::Clone() const
{
    return new VString(*this);
}

const VString_info& VString::Info()
{
    static const VString_info sInfo;
    return sInfo;
}

const VValueInfo* VString::GetValueInfo() const
{
    return &Info();
}

const VString& VString::GetEmptyString()
{
    static const VString sEmpty;
    return sEmpty;
}

// Assignment

VString& VString::operator=(VString&& inOther) noexcept
{
    if (this == &inOther)
    {
        return *this;
    }
    if (!inOther.IsInline() && (inOther.fFlags & kBorrowed) == 0)
    {
        _TakeBuffer(inOther, inOther.fFlags & kUncounted);
        fFlags &= static_cast<uint8_t>(~kNull);
        SetDirty(true);
    }
    else
    {
        FromString(inOther);
    }
    return *this;
}

void VString::FromString(const VString& inString)
{
    if (inString.IsNull())
    {
        SetNull(true);
        return;
    }
    if (inString.fString == fString)
    {
        fLength = inString.fLength;
    }
    else if (inString._HasCountedBuffer())
    {
        RetainCountedBuffer(inString.fString, inString.fMaxLength);
        _ReleaseBuffer();
        fString = inString.fString;
        fLength = inString.fLength;
        fMaxLength = inString.fMaxLength;
        _SetBufferBits(0);
    }
    else
    {
        _CopyUnits(inString.fString, inString.fLength);
    }
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::FromString(const VInlineString& inInlineString)
{
    UniChar* buffer = inInlineString.fString;
    if (buffer != fString || IsInline())
    {
        if (buffer != nullptr)
        {
            RetainCountedBuffer(buffer, inInlineString.fMaxLength);
            _ReleaseBuffer();
            fString = buffer;
            fLength = inInlineString.fLength;
            fMaxLength = inInlineString.fMaxLength;
            _SetBufferBits(0);
        }
        else
        {
            _Clear();
        }
    }
    else
    {
        fLength = inInlineString.fLength;
    }
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::FromUniChar(UniChar inUniChar)
{
    if (inUniChar == 0)
    {
        Clear(); // a 0 unit names no character: the empty string
        return;
    }
    FromUniCString(&inUniChar, 1);
}

void VString::FromUniCString(const UniChar* inUniCString, int32_t inLength)
{
    if (inUniCString == nullptr)
    {
        inLength = 0;
    }
    else if (inLength < 0)
    {
        inLength = UniCStringLength(inUniCString);
    }
    _CopyUnits(inUniCString, inLength);
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

UniChar* VString::RetainBuffer(int32_t& outLength, int32_t& outCapacity) const
{
    outLength = 0;
    outCapacity = 0;
    if (IsNull() || fLength == 0)
    {
        return nullptr;
    }
    if (_HasCountedBuffer())
    {
        RetainCountedBuffer(fString, fMaxLength);
        outLength = fLength;
        outCapacity = fMaxLength;
        return fString;
    }
    int64_t units = CountIndex(fLength) + 2;
    VCppMemMgr* manager = sCppMemMgr;
    UniChar* buffer = manager == nullptr
                          ? nullptr
                          : static_cast<UniChar*>(manager->Malloc(
                                static_cast<size_t>(units) * sizeof(UniChar), false, kTagStringRetained));
    if (buffer == nullptr)
    {
        return nullptr;
    }
    CopyUnitsRaw(buffer, fString, fLength);
    buffer[fLength] = 0;
    BufferCount(buffer, fLength).store(1, std::memory_order_relaxed);
    outLength = fLength;
    outCapacity = fLength;
    return buffer;
}

bool VString::AdoptBlock(UniChar* inBlock, int32_t inLength, int64_t inBlockUnits)
{
    constexpr int32_t kMaxCapacity = 0x7FFFFFFC;
    if (inBlock == nullptr || sCppMemMgr == nullptr || inLength < 0 || inLength > kMaxCapacity ||
        inBlockUnits < static_cast<int64_t>(inLength) + kAdoptedBlockExtraUnits)
    {
        return false;
    }
    // The count's two units lie at CountIndex(capacity) <= capacity + 2, within the block.
    const auto capacity =
        static_cast<int32_t>(std::min<int64_t>(inBlockUnits - kAdoptedBlockExtraUnits, kMaxCapacity));
    _SetBuffer(inBlock, inLength, capacity, 0);
    fString[inLength] = 0;
    BufferCount(inBlock, capacity).store(1, std::memory_order_relaxed);
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
    return true;
}

void VInlineString::Retain() const
{
    if (fString != nullptr)
    {
        RetainCountedBuffer(fString, fMaxLength);
    }
}

void VInlineString::Release()
{
    UniChar* buffer = fString;
    if (buffer != nullptr)
    {
        ReleaseCountedBuffer(buffer, fMaxLength);
    }
    fString = nullptr;
    fLength = 0;
    fMaxLength = 0;
}

void VString::Swap(VString& ioOther)
{
    if (this == &ioOther)
    {
        return;
    }
    VString holder;
    if (!holder._TakeContent(*this))
    {
        return;
    }
    if (!_TakeContent(ioOther))
    {
        _TakeContent(holder); // holder has a heap buffer or nothing: this cannot fail
        return;
    }
    ioOther._TakeContent(holder);
    uint8_t thisNull = fFlags & kNull;
    fFlags = static_cast<uint8_t>((fFlags & ~kNull) | (ioOther.fFlags & kNull));
    ioOther.fFlags = static_cast<uint8_t>((ioOther.fFlags & ~kNull) | thisNull);
    SetDirty(true);
    ioOther.SetDirty(true);
}

bool VString::_TakeContent(VString& ioOther)
{
    if (!ioOther.IsInline())
    {
        _TakeBuffer(ioOther, ioOther.fFlags & kBufferBits);
        return true;
    }
    if (!_CopyUnits(ioOther.fString, ioOther.fLength))
    {
        return false;
    }
    ioOther._ResetToInline();
    return true;
}

void VString::Clear()
{
    _Clear();
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::_Clear()
{
    _ReleaseBuffer();
    _ResetToInline();
}

void VString::DoNullChanged()
{
    if (IsNull())
    {
        _Clear();
    }
}

// Buffers

void VString::_ReleaseBuffer()
{
    if (IsInline() || (fFlags & kBorrowed) != 0)
    {
        return;
    }
    if ((fFlags & kUncounted) != 0)
    {
        if (VCppMemMgr* manager = sCppMemMgr)
        {
            manager->Free(fString);
        }
    }
    else
    {
        ReleaseCountedBuffer(fString, fMaxLength);
    }
}

void VString::_ResetToInline()
{
    fString = fInlineBuffer;
    fString[0] = 0;
    fLength = 0;
    fMaxLength = fInlineCapacity;
    _SetBufferBits(0);
}

bool VString::_IsWritable(int32_t inNewLength) const
{
    if (fMaxLength < inNewLength)
    {
        return false;
    }
    if (IsInline())
    {
        return true;
    }
    if ((fFlags & kBorrowed) != 0)
    {
        // Literals and other holders' buffers are read-only; only a caller's lent buffer is not.
        return (fFlags & kCallerWritable) != 0;
    }
    if ((fFlags & kUncounted) != 0)
    {
        return true;
    }
    return BufferCount(fString, fMaxLength).load(std::memory_order_acquire) < 2;
}

bool VString::_EnsureWritable(int32_t inNewLength, bool inKeepContent)
{
    if (inNewLength < 0)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    return _IsWritable(inNewLength) || _ReallocBuffer(inNewLength, inKeepContent);
}

bool VString::_CopyUnits(const UniChar* inUnits, int32_t inLength)
{
    if (inLength < 0)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (!_IsWritable(inLength))
    {
        // The source may live in the buffer that the reallocation gives up: copy it out first.
        if (inUnits >= fString && inUnits < fString + fMaxLength + 1)
        {
            VString source(inUnits, inLength);
            return source.fLength == inLength && _CopyUnits(source.fString, inLength);
        }
        if (!_ReallocBuffer(inLength, false))
        {
            return false;
        }
    }
    CopyUnitsRaw(fString, inUnits, inLength);
    fString[inLength] = 0;
    fLength = inLength;
    return true;
}

int64_t VString::ComputeProgressiveResize(int32_t inOldLength, int32_t inNewLength)
{
    if (inNewLength < 6)
    {
        return 8;
    }
    int64_t extra = std::min<int64_t>((static_cast<int64_t>(inNewLength) + 1) / 5, kMaxExtraUnits);
    if (extra < 3 || inOldLength == 0 || inOldLength == inNewLength)
    {
        extra = 2;
    }
    int64_t size = (static_cast<int64_t>(inNewLength) + extra + 8) & ~int64_t{7};
    if (size > kMaxAllocUnits && inNewLength < 0x7FFFFFFD)
    {
        size = CountIndex(inNewLength) + 2;
    }
    return size > kMaxAllocUnits ? 0 : size;
}

bool VString::_ReallocBuffer(int32_t inNewLength, bool inKeepContent)
{
    if (inNewLength < 0)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    int32_t keep = inKeepContent ? std::min(fLength, inNewLength) : 0;

    if (fInlineCapacity >= inNewLength)
    {
        if (!IsInline())
        {
            CopyUnitsRaw(fInlineBuffer, fString, keep);
            _ReleaseBuffer();
            fString = fInlineBuffer;
            _SetBufferBits(0);
            fString[keep] = 0;
            fLength = keep;
            fMaxLength = fInlineCapacity;
        }
        return true;
    }

    VCppMemMgr* manager = sCppMemMgr;
    UniChar* buffer = nullptr;
    int32_t capacity = 0;
    uint8_t bits = 0;
    if (manager != nullptr)
    {
        int64_t size = ComputeProgressiveResize(fLength, inNewLength);
        if (size == 0)
        {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return fMaxLength >= inNewLength;
        }
        buffer = static_cast<UniChar*>(
            manager->Malloc(static_cast<size_t>(size) * sizeof(UniChar), false, kTagString));
        capacity = static_cast<int32_t>(size - 3);
    }
    else
    {
        // Before the memory manager exists (static initialisation): an exact fit from the C
        // library, never freed, and so never shared either.
        buffer = static_cast<UniChar*>(std::malloc((static_cast<size_t>(inNewLength) + 1) * sizeof(UniChar)));
        capacity = inNewLength;
        bits = kBorrowed | kUncounted | kCallerWritable;
    }
    if (buffer == nullptr)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    CopyUnitsRaw(buffer, fString, keep);
    _ReleaseBuffer();
    fString = buffer;
    fLength = keep;
    fMaxLength = capacity;
    fString[keep] = 0;
    _SetBufferBits(bits);
    if (bits == 0)
    {
        BufferCount(buffer, capacity).store(1, std::memory_order_relaxed);
    }
    return fMaxLength >= inNewLength;
}

bool VString::EnsureSize(int32_t inLength, bool inKeepContent)
{
    return _EnsureWritable(inLength, inKeepContent);
}

UniChar* VString::GetCPointerForWrite(int32_t inLength)
{
    return _EnsureWritable(std::max(inLength, fLength), true) ? fString : nullptr;
}

bool VString::Validate(int32_t inLength)
{
    if (inLength < 0 || inLength > fMaxLength)
    {
        return false;
    }
    // Writing the terminator must not reach a literal or a shared buffer.
    if (!_EnsureWritable(fLength > inLength ? fLength : inLength, true))
    {
        return false;
    }
    fLength = inLength;
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
    return true;
}

UniChar VString::GetUniChar(int32_t inPos) const
{
    if (inPos < 1 || inPos > fLength || IsNull())
    {
        return 0;
    }
    return fString[inPos - 1];
}

bool VString::SetUniChar(int32_t inPos, UniChar inUniChar)
{
    if (inPos < 1 || inPos > fLength || IsNull())
    {
        return false;
    }
    if (!_EnsureWritable(fLength, true))
    {
        return false;
    }
    fString[inPos - 1] = inUniChar;
    SetDirty(true);
    return true;
}

bool VString::IsStringValid() const
{
    if (!IsInline() && (fFlags & kBorrowed) == 0)
    {
        VCppMemMgr* manager = sCppMemMgr;
        if (manager != nullptr && !manager->CheckPtr(fString))
        {
            return false;
        }
    }
    return fLength == 0 || fString[fLength] == 0;
}

uint32_t VString::GetBufferRefCount() const
{
    return _HasCountedBuffer() ? BufferCount(fString, fMaxLength).load(std::memory_order_acquire) : 0;
}

CharSet VString::DebugDump(char* ioBuffer, int& ioSize) const
{
    int64_t bytes = std::min<int64_t>(2 * static_cast<int64_t>(fLength), static_cast<int64_t>(ioSize) - 2);
    if (bytes < 0)
    {
        bytes = 0;
    }
    bytes &= ~int64_t{1}; // whole units only
    std::memcpy(ioBuffer, fString, static_cast<size_t>(bytes));
    ioSize = static_cast<int>(bytes);
    return CharSet::VTC_UTF_16;
}

// Value model

void VString::FromValue(const VValueSingle& inValue)
{
    if (inValue.IsNull())
    {
        SetNull(true);
        return;
    }
    inValue.GetString(*this);
}

void VString::GetVUUID(VUUID& outValue) const
{
    outValue.FromString(*this);
}

void VString::FromVUUID(const VUUID& inValue)
{
    inValue.GetString(*this);
}

bool VString::FromValueSameKind(const VValue* inValue)
{
    FromString(*static_cast<const VString*>(inValue));
    return true;
}

const void* VString::LoadFromPtr(const void* inData, bool /*inRefOnly*/)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(inData);
    int32_t length;
    std::memcpy(&length, bytes, sizeof(length));
    length = std::max(length, 0);
    if (_EnsureWritable(length, false))
    {
        std::memcpy(fString, bytes + 4, static_cast<size_t>(length) * sizeof(UniChar));
        fLength = length;
        fString[length] = 0;
    }
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
    return bytes + 4 + static_cast<size_t>(length) * sizeof(UniChar);
}

void* VString::WriteToPtr(void* ioData, bool /*inRefOnly*/, size_t inMax) const
{
    int32_t length = fLength;
    if (inMax != 0 && 4 + 2 * static_cast<size_t>(length) > inMax)
    {
        length = inMax < 4 ? 0 : static_cast<int32_t>((inMax - 4) / 2);
    }
    unsigned char* bytes = static_cast<unsigned char*>(ioData);
    std::memcpy(bytes, &length, sizeof(length));
    std::memcpy(bytes + 4, fString, static_cast<size_t>(length) * sizeof(UniChar));
    return bytes + 4 + static_cast<size_t>(length) * sizeof(UniChar);
}

size_t VString::GetSpace(size_t inMax) const
{
    size_t size = 4 + 2 * static_cast<size_t>(fLength);
    return inMax != 0 && size >= inMax ? inMax : size;
}

// Descriptor of kind 10

VValue* VString_info::Generate() const
{
    return new VString();
}

VValue* VString_info::Generate(VBlob* /*inBlob*/) const
{
    return new VString();
}

VValue* VString_info::LoadFromPtr(const void* inData, bool inRefOnly) const
{
    VString* text = new VString();
    text->LoadFromPtr(inData, inRefOnly);
    return text;
}

void* VString_info::ByteSwapPtr(void* inData, bool inFromHost) const
{
    unsigned char* bytes = static_cast<unsigned char*>(inData);
    uint32_t stored;
    std::memcpy(&stored, bytes, 4);
    uint32_t swapped = __builtin_bswap32(stored);
    int32_t length = static_cast<int32_t>(inFromHost ? stored : swapped);
    length = std::max(length, 0);
    std::memcpy(bytes, &swapped, 4);
    UniChar* units = reinterpret_cast<UniChar*>(bytes + 4);
    for (int32_t i = 0; i < length; ++i)
    {
        UniChar unit;
        std::memcpy(&unit, units + i, 2);
        unit = static_cast<UniChar>((unit >> 8) | (unit << 8));
        std::memcpy(units + i, &unit, 2);
    }
    return bytes + 4 + static_cast<size_t>(length) * sizeof(UniChar);
}

size_t VString_info::GetSizeOfValueDataPtr(const void* inPtr) const
{
    int32_t length;
    std::memcpy(&length, inPtr, sizeof(length));
    return 4 + 2 * static_cast<size_t>(std::max(length, 0));
}

} // namespace zorn
