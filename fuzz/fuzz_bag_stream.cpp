// Reads value bags from arbitrary bytes, framed or as a bare body, in either byte order. Whatever
// reads successfully is written, read again and written again: both writes must be the same bytes,
// and so must the write of a clone. Reading every attribute's value exercises the packed forms the
// reader accepted. The first byte chooses: bit 7 the byte order, bit 0 the framed form.

#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        std::abort();
    }
}

VError Read(VValueBag& ioBag, const void* inData, size_t inSize, bool inSwap, bool inFramed)
{
    VConstPtrStream stream(inData, inSize);
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenReading() == VE_OK);
    return inFramed ? ioBag.ReadFromStream(&stream) : ioBag.ReadFromStreamMinimal(&stream);
}

std::string Write(const VValueBag& inBag, bool inSwap, bool inFramed)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenWriting() == VE_OK);
    Check((inFramed ? inBag.WriteToStream(&stream) : inBag.WriteToStreamMinimal(&stream, true)) == VE_OK);
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

void Release(VValueBag* inBag)
{
    inBag->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const bool swap = (data[0] & 0x80) != 0;
    const bool framed = (data[0] & 1) != 0;
    std::unique_ptr<VValueBag, void (*)(VValueBag*)> bag(new VValueBag(), Release);
    if (Read(*bag, data + 1, size - 1, swap, framed) != VE_OK)
    {
        Check(bag->GetAttributesCount() == 0 && bag->GetElementNamesCount() == 0);
        return 0;
    }
    VString text;
    bag->DumpText(text);

    const std::string written = Write(*bag, swap, framed);
    std::unique_ptr<VValueBag, void (*)(VValueBag*)> again(new VValueBag(), Release);
    Check(Read(*again, written.data(), written.size(), swap, framed) == VE_OK);
    Check(Write(*again, swap, framed) == written);
    std::unique_ptr<VValueBag, void (*)(VValueBag*)> clone(static_cast<VValueBag*>(bag->Clone()), Release);
    Check(Write(*clone, swap, framed) == written);
    return 0;
}
