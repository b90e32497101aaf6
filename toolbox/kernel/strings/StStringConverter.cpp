#include "toolbox/kernel/strings/StStringConverter.h"

#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

namespace
{
constexpr OsType kTagConverterOutput = MakeOsType('s', 't', 'c', 'v');
}

StStringConverterBase::StStringConverterBase(CharSet inCharSet, ECarriageReturnMode inMode)
    : fOutput(fInline), fMode(inMode),
      fConverter(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet))
{
    fInline[0] = 0;
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& inOther)
    : fOutput(fInline), fSize(0), fMode(inOther.fMode), fOK(inOther.fOK),
      fConverter(RetainRefCountable(inOther.fConverter))
{
    fInline[0] = 0;
    _CopyOutput(inOther);
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& inOther) noexcept
    : fOutput(fInline), fSize(0), fMode(inOther.fMode), fOK(inOther.fOK),
      fConverter(RetainRefCountable(inOther.fConverter))
{
    fInline[0] = 0;
    if (inOther.fHeap != nullptr)
    {
        fHeap = inOther.fHeap;
        fOutput = fHeap;
        fCapacity = inOther.fCapacity;
        fSize = inOther.fSize;
        inOther.fHeap = nullptr;
        inOther.fOutput = inOther.fInline;
        inOther.fCapacity = kInlineSize;
        inOther.fSize = 0;
        inOther.fInline[0] = 0;
    }
    else
    {
        _CopyOutput(inOther);
    }
}

StStringConverterBase::~StStringConverterBase()
{
    VMemory::DisposePtr(fHeap);
    if (fConverter != nullptr)
    {
        fConverter->Release();
    }
}

void StStringConverterBase::_CopyOutput(const StStringConverterBase& inOther)
{
    // The text and whatever terminator followed it.
    size_t bytes = std::min(inOther.fSize + kMaxTerminatorSize, inOther.fCapacity);
    if (bytes > kInlineSize)
    {
        fHeap = VMemory::NewPtr(bytes, kTagConverterOutput);
        if (fHeap == nullptr)
        {
            fOK = false; // no copy: an empty text, flagged
            return;
        }
        fOutput = fHeap;
        fCapacity = bytes;
    }
    std::memcpy(fOutput, inOther.fOutput, bytes);
    fSize = inOther.fSize;
}

const void* StStringConverterBase::_ConvertString(const VString& inString, size_t inTerminatorSize)
{
    if (fMode == eCRM_NONE)
    {
        return _ConvertString(inString.GetCPointer(), inString.GetLength(), inTerminatorSize);
    }
    VString text(inString);
    text.ConvertCarriageReturns(fMode);
    return _ConvertString(text.GetCPointer(), text.GetLength(), inTerminatorSize);
}

const void* StStringConverterBase::_ConvertString(const UniChar* inUnits, int32_t inCount,
                                                  size_t inTerminatorSize)
{
    size_t terminator = std::min(inTerminatorSize, kMaxTerminatorSize);
    fSize = 0;
    fOK = false;
    if (fConverter != nullptr && inCount >= 0)
    {
        int32_t consumed = 0;
        size_t produced = 0;
        fOK = fConverter->Convert(inUnits, inCount, &consumed, fOutput, fCapacity - terminator, &produced);
        if (consumed < inCount)
        {
            // Did not fit: the whole text again into a heap block sized for it.
            void* heap = fHeap;
            size_t heapSize = fHeap == nullptr ? 0 : fCapacity;
            produced = 0;
            fOK = fConverter->ConvertRealloc(inUnits, inCount, heap, heapSize, produced, terminator);
            if (heap != nullptr)
            {
                fHeap = heap;
                fOutput = heap;
                fCapacity = heapSize;
            }
        }
        fSize = produced;
    }
    std::memset(static_cast<char*>(fOutput) + fSize, 0, terminator);
    return fOutput;
}

} // namespace zorn
