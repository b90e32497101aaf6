#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/values/VArrayValue.h"

namespace zorn
{

void VArrayImage::FromValue(const VValueSingle& inValue, int32_t inElement)
{
    if (!ValidIndex(inElement) || inValue.GetValueKind() != VK_IMAGE)
    {
        return;
    }
    VValue* copy = inValue.Clone();
    VValueSingle* image = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (image == nullptr)
    {
        delete copy;
        return;
    }
    VValueSingle*& element = Data()[inElement - 1];
    delete element;
    element = image;
}

void VArrayImage::GetValue(VValueSingle& outValue, int32_t inElement) const
{
    if (const VValueSingle* element = GetObject(inElement))
    {
        outValue.FromValue(*element);
    }
    else if (ValidIndex(inElement))
    {
        outValue.Clear();
    }
}

VValueSingle* VArrayImage::CloneValue(int32_t inElement) const
{
    const VValueSingle* element = GetObject(inElement);
    VValue* copy = element != nullptr ? element->Clone() : nullptr;
    VValueSingle* image = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (image == nullptr)
    {
        delete copy;
    }
    return image;
}

CompareResult VArrayImage::CompareTo(const VValueSingle&, bool, int32_t) const
{
    return CR_UNRELEVANT;
}

VError VArrayImage::WriteToStream(VStream* ioStream, int32_t) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    // Never the kind: the parameter goes no further.
    _WriteHeader(ioStream, 0);
    static constexpr uint8_t kMissing[8] = {};
    for (int32_t i = 0; i < fCount && ioStream->GetLastError() == VE_OK; ++i)
    {
        if (const VValueSingle* element = Data()[i])
        {
            element->WriteToStream(ioStream);
        }
        else
        {
            ioStream->PutData(kMissing, sizeof(kMissing));
        }
    }
    return ioStream->GetLastError();
}

VError VArrayImage::ReadFromStream(VStream* ioStream, int32_t)
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
    const VValueInfo* info = count > 0 ? VValue::ValueInfoFromValueKind(VK_IMAGE) : nullptr;
    if (count > 0 && info == nullptr)
    {
        return _FailStreamRead(ioStream, VE_UNIMPLEMENTED);
    }
    for (int32_t i = 0; i < count; ++i)
    {
        VValue* value = info->Generate();
        VValueSingle* image = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (image == nullptr)
        {
            delete value;
            return _FailStreamRead(ioStream, VE_UNIMPLEMENTED);
        }
        Data()[i] = image;
        if (image->ReadFromStream(ioStream) != VE_OK)
        {
            return _FailStreamRead(ioStream, VE_STREAM_EOF);
        }
    }
    return ioStream->GetLastError();
}

} // namespace zorn
