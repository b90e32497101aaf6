// The stream form of value bags and bag lists (the layout is described in VValueBag.h).
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/values/VArrayValue.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <new>

namespace zorn
{

namespace
{

constexpr uint32_t kBagTag = 0x56424147; // 'VBAG'
constexpr uint16_t kBagVersion = 1;
constexpr uint8_t kHasAttributes = 1;
constexpr uint8_t kHasElements = 2;

} // namespace

// Writing

VError VValueBag::WriteToStream(VStream* ioStream, int32_t) const
{
    int32_t tag = static_cast<int32_t>(kBagTag);
    ioStream->PutLongs(&tag, 1);
    ioStream->PutWord(static_cast<int16_t>(kBagVersion));
    ioStream->PutWord(0);
    return WriteToStreamMinimal(ioStream, true);
}

VError VValueBag::WriteToStreamMinimal(VStream* ioStream, bool inWithIndex) const
{
    uint8_t flags = 0;
    if (!fAttributes.IsEmpty())
    {
        flags |= kHasAttributes;
    }
    if (GetElementNamesCount() > 0)
    {
        flags |= kHasElements;
    }
    ioStream->Put(flags);
    if ((flags & kHasAttributes) != 0)
    {
        fAttributes.WriteToStream(ioStream, inWithIndex);
    }
    if ((flags & kHasElements) != 0)
    {
        fElements->_WriteKeysToStream(ioStream, inWithIndex);
        for (size_t i = 0; i < fElements->GetCount() && ioStream->GetLastError() == VE_OK; ++i)
        {
            fElements->GetNthValue(i)->WriteToStreamMinimal(ioStream);
        }
    }
    return ioStream->GetLastError();
}

VError VBagArray::WriteToStreamMinimal(VStream* ioStream) const
{
    int32_t count = GetCount();
    ioStream->PutLongs(&count, 1);
    for (const VValueBag* bag : fBags)
    {
        if (bag->WriteToStreamMinimal(ioStream, true) != VE_OK)
        {
            break;
        }
    }
    return ioStream->GetLastError();
}

// Reading

VError VValueBag::ReadFromStream(VStream* ioStream, int32_t)
{
    Destroy();
    if (VError error = ioStream->GetLastError(); error != VE_OK)
    {
        return error;
    }
    int32_t tag = 0;
    uint16_t version = 0;
    uint16_t reserved = 0;
    ioStream->GetLong(tag);
    ioStream->GetWord(version);
    if (VError error = ioStream->GetWord(reserved); error != VE_OK)
    {
        return error;
    }
    if (static_cast<uint32_t>(tag) != kBagTag)
    {
        return VE_STREAM_BAD_SIGNATURE;
    }
    if (version != kBagVersion)
    {
        return VE_STREAM_BAD_VERSION;
    }
    return ReadFromStreamMinimal(ioStream, 1);
}

VError VValueBag::ReadFromStreamMinimal(VStream* ioStream, int32_t inDepth)
{
    Destroy();
    if (VError error = ioStream->GetLastError(); error != VE_OK)
    {
        return error;
    }
    if (inDepth > kMaxStreamDepth)
    {
        return _ThrowError(VE_PACKED_DATA_INVALID);
    }
    uint8_t flags = 0;
    VError error = ioStream->GetData(&flags, 1);
    if (error == VE_OK && (flags & kHasAttributes) != 0)
    {
        error = fAttributes.ReadFromStream(ioStream);
    }
    if (error == VE_OK && (flags & kHasElements) != 0)
    {
        error = _ReadElements(ioStream, inDepth);
    }
    if (error != VE_OK)
    {
        Destroy();
    }
    return error;
}

VError VValueBag::_ReadElements(VStream* ioStream, int32_t inDepth)
{
    Elements* elements = _Elements();
    if (elements == nullptr)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    VError error = elements->_ReadKeysFromStream(ioStream);
    if (error == VE_OK && !elements->_HasUniqueKeys())
    {
        error = _ThrowError(VE_PACKED_DATA_INVALID);
    }
    for (size_t i = 0; error == VE_OK && i < elements->GetCount(); ++i)
    {
        auto* list = new (std::nothrow) VBagArray();
        if (list == nullptr)
        {
            error = _ThrowError(VE_MEMORY_FULL);
            break;
        }
        error = list->ReadFromStreamMinimal(ioStream, inDepth + 1);
        if (error != VE_OK)
        {
            list->Release();
            break;
        }
        elements->_AdoptNthValue(i, list);
    }
    if (error != VE_OK)
    {
        _DeleteElements();
    }
    return error;
}

VError VValueBag::_ReadFromStream_v1(VStream* ioStream, int32_t inDepth)
{
    Destroy();
    if (inDepth > kMaxStreamDepth)
    {
        return _ThrowError(VE_PACKED_DATA_INVALID);
    }
    auto readNamesAndCount = [ioStream](VArrayString& outNames, uint32_t& outCount) -> VError
    {
        if (VError error = outNames.ReadFromStream(ioStream); error != VE_OK)
        {
            return error;
        }
        int32_t count = 0;
        if (VError error = ioStream->GetLong(count); error != VE_OK)
        {
            return error;
        }
        outCount = static_cast<uint32_t>(count);
        // Each entry takes at least a word; the names must match the entries one to one.
        if (outCount != static_cast<uint32_t>(outNames.GetCount()) || outCount > ioStream->GetBytesLeft())
        {
            return _ThrowError(VE_PACKED_DATA_INVALID);
        }
        return VE_OK;
    };

    VArrayString names;
    uint32_t count = 0;
    VError error = readNamesAndCount(names, count);
    VString name;
    for (uint32_t i = 0; error == VE_OK && i < count; ++i)
    {
        int32_t kindField = 0;
        error = ioStream->GetLong(kindField);
        if (error != VE_OK)
        {
            break;
        }
        names.GetString(name, static_cast<int32_t>(i) + 1);
        StKey key(name);
        VValue* value = VValue::NewValueFromValueKind(static_cast<ValueKind>(kindField & 0xFFFF));
        auto* single = dynamic_cast<VValueSingle*>(value);
        if (single == nullptr || AttributeExists(key))
        {
            delete value;
            error = _ThrowError(VE_PACKED_DATA_INVALID);
            break;
        }
        error = single->ReadFromStream(ioStream);
        if (error == VE_OK)
        {
            SetValue(key, *single);
        }
        else
        {
            error = _ThrowError(VE_PACKED_DATA_INVALID);
        }
        delete single;
    }
    if (error == VE_OK)
    {
        error = readNamesAndCount(names, count);
    }
    for (uint32_t i = 0; error == VE_OK && i < count; ++i)
    {
        names.GetString(name, static_cast<int32_t>(i) + 1);
        StKey key(name);
        if (GetElements(key) != nullptr)
        {
            error = _ThrowError(VE_PACKED_DATA_INVALID);
            break;
        }
        auto* list = new (std::nothrow) VBagArray();
        if (list == nullptr)
        {
            error = _ThrowError(VE_MEMORY_FULL);
            break;
        }
        error = list->ReadFromStreamMinimal(ioStream, inDepth + 1);
        if (error == VE_OK)
        {
            SetElements(key, list);
        }
        list->Release();
    }
    if (error != VE_OK)
    {
        Destroy();
    }
    return error;
}

VError VBagArray::ReadFromStreamMinimal(VStream* ioStream, int32_t inDepth)
{
    Destroy();
    if (VError error = ioStream->GetLastError(); error != VE_OK)
    {
        return error;
    }
    int32_t field = 0;
    if (VError error = ioStream->GetLong(field); error != VE_OK)
    {
        return error;
    }
    // Every bag takes at least its flags byte. Room grows with the bags actually read, so a large
    // count costs nothing before its bags are there.
    const uint32_t count = static_cast<uint32_t>(field);
    if (count > ioStream->GetBytesLeft())
    {
        return _ThrowError(VE_PACKED_DATA_INVALID);
    }
    if (!detail::ReserveFor(fBags, std::min<size_t>(count, 1024)))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    for (uint32_t i = 0; i < count; ++i)
    {
        auto* bag = new (std::nothrow) VValueBag();
        if (bag == nullptr || !detail::ReserveFor(fBags, fBags.size() + 1))
        {
            ReleaseRefCountable(&bag);
            Destroy();
            return _ThrowError(VE_MEMORY_FULL);
        }
        if (VError error = bag->ReadFromStreamMinimal(ioStream, inDepth); error != VE_OK)
        {
            bag->Release();
            Destroy();
            return error;
        }
        fBags.push_back(bag);
    }
    return VE_OK;
}

} // namespace zorn
