#include "toolbox/kernel/values/VArrayValue.h"

#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

// ---- VArrayString ----

void VArrayString::GetString(VString& outValue, int32_t inElement) const
{
    const VString* element = GetObject(inElement);
    if (element != nullptr)
    {
        outValue.FromString(*element);
    }
    else
    {
        outValue.Clear();
    }
}

void VArrayString::FromString(const VString& inValue, int32_t inElement)
{
    if (!ValidIndex(inElement))
    {
        return;
    }
    VString*& element = Data()[inElement - 1];
    if (element == nullptr)
    {
        element = new VString(inValue);
    }
    else
    {
        element->FromString(inValue);
    }
}

void VArrayString::_SetVia(const VValueSingle& inValue, int32_t inElement)
{
    if (ValidIndex(inElement))
    {
        VString text;
        inValue.GetString(text);
        FromString(text, inElement);
    }
}

void VArrayString::GetValue(VValueSingle& outValue, int32_t inElement) const
{
    const VString* element = GetObject(inElement);
    if (element != nullptr)
    {
        outValue.FromString(*element);
    }
    else if (VString* text = dynamic_cast<VString*>(&outValue); text != nullptr)
    {
        text->Clear();
    }
}

VValueSingle* VArrayString::CloneValue(int32_t inElement) const
{
    if (!ValidIndex(inElement))
    {
        return nullptr;
    }
    const VString* element = GetObject(inElement);
    return element != nullptr ? new VString(*element) : new VString();
}

CompareResult VArrayString::CompareTo(const VValueSingle& inValue, bool inDiacritical,
                                      int32_t inElement) const
{
    if (!ValidIndex(inElement))
    {
        return CR_SMALLER;
    }
    VString text;
    inValue.GetString(text);
    const VString* element = GetObject(inElement);
    return element != nullptr ? element->CompareToString(text, inDiacritical) : CR_SMALLER;
}

int32_t VArrayString::Find(const VValueSingle& inValue, int32_t inStart, bool inForward,
                           CompareMethod inMethod) const
{
    if (!ValidIndex(inStart))
    {
        return -1;
    }
    VString text;
    inValue.GetString(text);
    const int32_t step = inForward ? 1 : -1;
    for (int32_t i = inStart - 1; i >= 0 && i < fCount; i += step)
    {
        const VString* element = Data()[i];
        if (element == nullptr)
        {
            continue;
        }
        const bool matches =
            inMethod == CM_EQUAL
                ? element->EqualToString(text, false)
                : detail::MatchesByMethod<VString>(element->CompareToString(text, false), inMethod);
        if (matches)
        {
            return i + 1;
        }
    }
    return -1;
}

CompareResult VArrayString::ComparePresent(const VString& inA, const VString& inB)
{
    return inA.CompareToString(inB, true);
}

VError VArrayString::WriteToStream(VStream* ioStream, int32_t inParam) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    _WriteHeader(ioStream, inParam);
    for (int32_t i = 0; i < fCount && ioStream->GetLastError() == VE_OK; ++i)
    {
        const VString* element = Data()[i];
        const int32_t marker = element != nullptr ? kStreamStringPresent : kStreamStringMissing;
        ioStream->PutLongs(&marker, 1);
        if (element != nullptr)
        {
            element->WriteToStream(ioStream);
        }
    }
    return ioStream->GetLastError();
}

VError VArrayString::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int32_t count = 0;
    if (VError error = _BeginStreamRead(ioStream, count); error != VE_OK)
    {
        return error;
    }
    VError error = VE_OK;
    for (int32_t i = 0; i < count && error == VE_OK; ++i)
    {
        int32_t marker = 0;
        int32_t got = 1;
        if (ioStream->GetLongs(&marker, &got) != VE_OK || got != 1)
        {
            error = VE_STREAM_EOF;
        }
        else if (marker == kStreamStringPresent)
        {
            VString* element = new VString();
            Data()[i] = element;
            if (element->ReadFromStream(ioStream) != VE_OK)
            {
                error = VE_STREAM_EOF;
            }
        }
        else if (marker != kStreamStringMissing)
        {
            error = VE_VALUE_ARRAY_STREAM_INVALID;
        }
    }
    if (error != VE_OK)
    {
        return _FailStreamRead(ioStream, error);
    }
    return ioStream->GetLastError();
}

// ---- VArrayBlob ----

void VArrayBlob::FromValue(const VValueSingle& inValue, int32_t inElement)
{
    const VBlob* blob = dynamic_cast<const VBlob*>(&inValue);
    if (!ValidIndex(inElement) || blob == nullptr)
    {
        return;
    }
    VBlob*& element = Data()[inElement - 1];
    if (element == nullptr)
    {
        element = new VBlobWithPtr();
    }
    element->FromData(blob->GetDataPtr(), blob->GetSize());
}

void VArrayBlob::GetValue(VValueSingle& outValue, int32_t inElement) const
{
    const VBlob* element = GetObject(inElement);
    VBlob* blob = dynamic_cast<VBlob*>(&outValue);
    if (blob == nullptr)
    {
        return;
    }
    if (element != nullptr)
    {
        blob->FromData(element->GetDataPtr(), element->GetSize());
    }
    else if (ValidIndex(inElement))
    {
        blob->FromData(nullptr, 0);
    }
}

VValueSingle* VArrayBlob::CloneValue(int32_t inElement) const
{
    if (!ValidIndex(inElement))
    {
        return nullptr;
    }
    const VBlob* element = GetObject(inElement);
    return element != nullptr ? new VBlobWithPtr(*element) : new VBlobWithPtr();
}

CompareResult VArrayBlob::CompareTo(const VValueSingle&, bool, int32_t) const
{
    return CR_UNRELEVANT;
}

CompareResult VArrayBlob::ComparePresent(const VBlob& inA, const VBlob& inB)
{
    const size_t common = std::min(inA.GetSize(), inB.GetSize());
    const int bytes = common == 0 ? 0 : std::memcmp(inA.GetDataPtr(), inB.GetDataPtr(), common);
    if (bytes != 0)
    {
        return bytes < 0 ? CR_SMALLER : CR_BIGGER;
    }
    return detail::CompareNumbers(inA.GetSize(), inB.GetSize());
}

VError VArrayBlob::WriteToStream(VStream* ioStream, int32_t inParam) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    _WriteHeader(ioStream, inParam);
    VBlobWithPtr empty;
    for (int32_t i = 0; i < fCount && ioStream->GetLastError() == VE_OK; ++i)
    {
        const VBlob* element = Data()[i];
        (element != nullptr ? element : &empty)->WriteToStream(ioStream);
    }
    return ioStream->GetLastError();
}

VError VArrayBlob::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int32_t count = 0;
    if (VError error = _BeginStreamRead(ioStream, count); error != VE_OK)
    {
        return error;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        VBlobWithPtr* element = new VBlobWithPtr();
        Data()[i] = element;
        if (element->ReadFromStream(ioStream) != VE_OK)
        {
            return _FailStreamRead(ioStream, VE_STREAM_EOF);
        }
    }
    return ioStream->GetLastError();
}

} // namespace zorn
