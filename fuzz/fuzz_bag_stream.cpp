// Reads value bags from arbitrary bytes, framed or as a bare body, in either byte order. Whatever
// reads successfully is written, read again and written again: both writes must be the same bytes,
// and a clone must dump the same text. Reading every attribute's value exercises the packed forms the
// reader accepted. The first byte chooses: bit 7 the byte order, bit 0 the framed form.

#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace zorn;

namespace
{

void Check(bool inCondition, int inLine = __builtin_LINE())
{
    if (!inCondition)
    {
        std::fprintf(stderr, "check failed at line %d\n", inLine);
        std::abort();
    }
}

VError Read(VValueBag& ioBag, const void* inData, size_t inSize, bool inSwap, bool inFramed,
            bool inOlderLayout = false)
{
    VConstPtrStream stream(inData, inSize);
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenReading() == VE_OK);
    if (inOlderLayout)
    {
        return ioBag._ReadFromStream_v1(&stream);
    }
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
    // Bit 6 reads the older layout; what it gives is then written and read in the current one.
    const bool older = (data[0] & 0x40) != 0;
    std::unique_ptr<VValueBag, void (*)(VValueBag*)> bag(new VValueBag(), Release);
    if (Read(*bag, data + 1, size - 1, swap, framed, older) != VE_OK)
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
    // A clone holds the same names and values; its hash indexes are its own (a stream may carry an
    // index of any sound size), so its bytes may differ.
    std::unique_ptr<VValueBag, void (*)(VValueBag*)> clone(static_cast<VValueBag*>(bag->Clone()), Release);
    VString cloneText;
    clone->DumpText(cloneText);
    Check(cloneText.EqualToStringRaw(text));
    return 0;
}
