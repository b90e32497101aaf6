#include "toolbox/kernel/charsets/VTextConverter.h"

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstring>

namespace zorn
{

namespace
{
constexpr OsType kTagConvertedText = MakeOsType('c', 'v', 't', 'x');

void RaiseConversionFailed(const char16_t* inWhat)
{
    CVSTR_struct what(inWhat);
    _ThrowError(VE_CHARSET_CONVERSION_FAILED, &what);
}
} // namespace

// To Unicode

size_t VToUnicodeConverter::GetMaxUnits(size_t inSourceBytes) const
{
    int32_t charSize = GetCharSize() > 0 ? GetCharSize() : 1;
    size_t characters = inSourceBytes / static_cast<size_t>(charSize);
    return charSize >= 4 ? characters * 2 : characters;
}

bool VToUnicodeConverter::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                        VString& ioString)
{
    if (outConsumed != nullptr)
    {
        *outConsumed = 0;
    }
    size_t maxUnits = inSource == nullptr ? 0 : GetMaxUnits(inSourceBytes);
    // The string's present buffer is reused when it is writable and large enough: its content is
    // replaced, so nothing is copied.
    if (maxUnits > static_cast<size_t>(INT32_MAX) - 16 ||
        !ioString.EnsureSize(static_cast<int32_t>(maxUnits), false))
    {
        RaiseConversionFailed(u"conversion failed (EnsureSize failed).");
        ioString.Clear();
        return false;
    }
    UniChar* units = ioString.GetCPointerForWrite(static_cast<int32_t>(maxUnits));
    if (units == nullptr)
    {
        RaiseConversionFailed(u"conversion failed (EnsureSize failed).");
        ioString.Clear();
        return false;
    }
    int32_t produced = 0;
    bool ok = maxUnits == 0 ? inSourceBytes == 0
                            : Convert(inSource, inSourceBytes, outConsumed, units,
                                      static_cast<int32_t>(maxUnits), &produced);
    ioString.Validate(produced);
    return ok;
}

// From Unicode

size_t VFromUnicodeConverter::GetMaxBytes(int32_t inSourceUnits) const
{
    // Ten spare characters cover the shift sequences that a stateful encoding adds.
    size_t charSize = GetCharSize() > 0 ? static_cast<size_t>(GetCharSize()) : 1;
    return (static_cast<size_t>(inSourceUnits > 0 ? inSourceUnits : 0) + 10) * charSize;
}

bool VFromUnicodeConverter::ConvertRealloc(const UniChar* inSource, int32_t inSourceUnits, void*& ioBuffer,
                                           size_t& ioBufferSize, size_t& outProduced, size_t inTrailingBytes)
{
    outProduced = 0;
    if (!IsValid())
    {
        return false;
    }
    size_t needed = GetMaxBytes(inSourceUnits) + inTrailingBytes;
    if (ioBuffer == nullptr || ioBufferSize < needed)
    {
        void* block = VMemory::NewPtr(needed, kTagConvertedText);
        if (block == nullptr)
        {
            RaiseConversionFailed(u"mem failure");
            return false;
        }
        VMemory::DisposePtr(ioBuffer);
        ioBuffer = block;
        ioBufferSize = needed;
    }
    int32_t consumed = 0;
    bool ok =
        Convert(inSource, inSourceUnits, &consumed, ioBuffer, ioBufferSize - inTrailingBytes, &outProduced);
    return ok && consumed == inSourceUnits;
}

bool VFromUnicodeConverter::ConvertToBuffer(const UniChar* inSource, int32_t inSourceUnits,
                                            VMemoryBuffer<>& ioBuffer)
{
    if (!IsValid())
    {
        return false;
    }
    size_t used = ioBuffer.GetDataSize();
    if (!ioBuffer._EnlargeAmortized(used + GetMaxBytes(inSourceUnits)))
    {
        RaiseConversionFailed(u"mem failure");
        return false;
    }
    int32_t consumed = 0;
    size_t produced = 0;
    Convert(inSource, inSourceUnits, &consumed, static_cast<uint8_t*>(ioBuffer.GetDataPtr()) + used,
            ioBuffer.GetAllocatedSize() - used, &produced);
    ioBuffer.SetDataSize(used + produced);
    // The room holds any text: only a converter that stops early leaves units behind.
    return consumed == inSourceUnits;
}

} // namespace zorn
