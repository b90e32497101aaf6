#include "toolbox/kernel/values/VValueBag.h"

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace zorn
{

namespace
{

VString KeyText(const char* inBytes, size_t inLength)
{
    return VString(inBytes, inLength, CharSet::VTC_UTF_8);
}

// The 0-based slot of the 1-based position, with its name when asked; false, the name cleared,
// out of range.
template <class TDictionary>
bool NthName(const TDictionary& inDictionary, int32_t inIndex, VString* outName, size_t& outIndex)
{
    if (inIndex < 1 || static_cast<size_t>(inIndex) > inDictionary.GetCount())
    {
        if (outName != nullptr)
        {
            outName->Clear();
        }
        return false;
    }
    outIndex = static_cast<size_t>(inIndex - 1);
    if (outName != nullptr)
    {
        size_t length;
        const char* name = inDictionary.GetKeyAt(outIndex, &length);
        *outName = KeyText(name, length);
    }
    return true;
}

bool SameName(const char* inName, const char* inBytes, size_t inLength)
{
    return inName != nullptr && std::strlen(inName) == inLength &&
           std::memcmp(inName, inBytes, inLength) == 0;
}

const StBagElementsOrdering* FindRecord(const StBagElementsOrdering* inTable, const char* inBytes,
                                        size_t inLength)
{
    for (const StBagElementsOrdering* record = inTable; record->fElementName != nullptr; ++record)
    {
        if (SameName(record->fElementName, inBytes, inLength))
        {
            return record;
        }
    }
    return nullptr;
}

} // namespace

// IBaggable

VError IBaggable::LoadFromBagWithLoader(const VValueBag& inBag, VBagLoader*, void*)
{
    return LoadFromBag(inBag);
}

VError IBaggable::LoadFromBag(const VValueBag&)
{
    return VE_OK;
}

// Construction

VValueBag::VValueBag(const VValueBag& inOther)
    : VValue(inOther), IRefCountable(), fAttributes(inOther.fAttributes)
{
    SetDirty(true);
    if (inOther.fElements == nullptr)
    {
        return;
    }
    Elements* elements = _Elements();
    for (size_t i = 0; elements != nullptr && i < inOther.fElements->GetCount(); ++i)
    {
        size_t length;
        const char* name = inOther.fElements->GetKeyAt(i, &length);
        VBagArray* copy = new (std::nothrow) VBagArray(*inOther.fElements->GetNthValue(i));
        if (copy != nullptr)
        {
            elements->SetValue(StKey(name, length), copy);
            copy->Release();
        }
    }
}

VValueBag::~VValueBag()
{
    _DeleteElements();
}

const VValueBag_info& VValueBag::Info()
{
    static const VValueBag_info sInfo;
    return sInfo;
}

const VValueBag::StKey& VValueBag::CDataAttributeName()
{
    static const StKey sKey("<>");
    return sKey;
}

const StBagKeyWithDefault_VUUID& VValueBag::uuid()
{
    static const StBagKeyWithDefault_VUUID sKey("uuid", VUUID());
    return sKey;
}

VValueBag::Elements* VValueBag::_Elements()
{
    if (fElements == nullptr)
    {
        fElements = new (std::nothrow) Elements();
    }
    return fElements;
}

void VValueBag::_DeleteElements()
{
    // Deleting a bag's element lists releases its child bags, whose own lists would be deleted
    // from inside: a deep tree would recurse as deep as it is. Only the outermost deletion on a
    // thread deletes; the lists of the bags freed meanwhile wait in its queue.
    thread_local std::vector<Elements*>* sPending = nullptr;
    if (fElements == nullptr)
    {
        return;
    }
    Elements* elements = fElements;
    fElements = nullptr;
    if (sPending != nullptr)
    {
        sPending->push_back(elements);
        return;
    }
    std::vector<Elements*> pending{elements};
    sPending = &pending;
    while (!pending.empty())
    {
        Elements* next = pending.back();
        pending.pop_back();
        delete next;
    }
    sPending = nullptr;
}

void VValueBag::Destroy()
{
    fAttributes.RemoveAll();
    _DeleteElements();
}

// Attributes

void VValueBag::SetValue(const StKey& inKey, const VValueSingle& inValue)
{
    if (!fAttributes.SetExistingValue(inKey, inValue))
    {
        fAttributes.Append(inKey, inValue);
    }
}

void VValueBag::SetString(const StKey& inKey, const VString& inValue)
{
    SetValue(inKey, inValue);
}

void VValueBag::SetBool(const StKey& inKey, bool inValue)
{
    SetValue(inKey, VBoolean(inValue));
}

void VValueBag::SetLong(const StKey& inKey, int32_t inValue)
{
    SetValue(inKey, VLong(inValue));
}

void VValueBag::SetLong8(const StKey& inKey, int64_t inValue)
{
    SetValue(inKey, VLong8(inValue));
}

void VValueBag::SetReal(const StKey& inKey, double inValue)
{
    SetValue(inKey, VReal(inValue));
}

void VValueBag::SetTime(const StKey& inKey, const VTime& inValue)
{
    SetValue(inKey, inValue);
}

void VValueBag::SetVUUID(const StKey& inKey, const VUUID& inValue)
{
    SetValue(inKey, inValue);
}

bool VValueBag::SetExistingValue(const StKey& inKey, const VValueSingle& inValue)
{
    return fAttributes.SetExistingValue(inKey, inValue);
}

bool VValueBag::GetValue(const StKey& inKey, VValueSingle& outValue) const
{
    return fAttributes.GetValue(inKey, outValue);
}

bool VValueBag::GetString(const StKey& inKey, VString& outValue) const
{
    return fAttributes.GetValue(inKey, outValue);
}

bool VValueBag::GetTime(const StKey& inKey, VTime& outValue) const
{
    return fAttributes.GetValue(inKey, outValue);
}

bool VValueBag::GetVUUID(const StKey& inKey, VUUID& outValue) const
{
    return fAttributes.GetValue(inKey, outValue);
}

namespace
{
template <class TValue, class T>
bool GetScalar(const VPackedDictionary_with_backstore& inAttributes, const StPackedDictionaryKey& inKey,
               T& outValue, T (VValueSingle::*inGetter)() const)
{
    TValue value;
    if (!inAttributes.GetValue(inKey, value))
    {
        return false;
    }
    outValue = (value.*inGetter)();
    return true;
}
} // namespace

bool VValueBag::GetBool(const StKey& inKey, bool& outValue) const
{
    return GetScalar<VBoolean>(fAttributes, inKey, outValue, &VValueSingle::GetBoolean);
}

bool VValueBag::GetLong(const StKey& inKey, int32_t& outValue) const
{
    return GetScalar<VLong>(fAttributes, inKey, outValue, &VValueSingle::GetLong);
}

bool VValueBag::GetLong8(const StKey& inKey, int64_t& outValue) const
{
    return GetScalar<VLong8>(fAttributes, inKey, outValue, &VValueSingle::GetLong8);
}

bool VValueBag::GetReal(const StKey& inKey, double& outValue) const
{
    return GetScalar<VReal>(fAttributes, inKey, outValue, &VValueSingle::GetReal);
}

const VValueSingle* VValueBag::GetNthAttribute(int32_t inIndex, VString* outName) const
{
    size_t index;
    return NthName(fAttributes, inIndex, outName, index) ? fAttributes._GetSlotValue(index) : nullptr;
}

void VValueBag::AppendToCData(const VString& inText)
{
    const StKey& key = CDataAttributeName();
    auto slot = fAttributes._Find(key);
    if (slot == fAttributes.GetSlots().end())
    {
        fAttributes.Append(key, inText);
        return;
    }
    size_t index = static_cast<size_t>(slot - fAttributes.GetSlots().begin());
    VValueSingle* value = fAttributes._GetSlotValue(index);
    if (value != nullptr && value->GetTrueValueKind() == VK_STRING)
    {
        static_cast<VString*>(value)->AppendString(inText);
        fAttributes._ReplaceSlotValue(index, value);
        return;
    }
    auto* text = new VString();
    if (value != nullptr)
    {
        value->GetString(*text);
    }
    text->AppendString(inText);
    fAttributes._ReplaceSlotValue(index, text);
}

bool VValueBag::IsEmpty(bool inIgnoreMarkers) const
{
    if (GetElementNamesCount() > 0)
    {
        return false;
    }
    if (!inIgnoreMarkers)
    {
        return fAttributes.IsEmpty();
    }
    for (size_t i = 0; i < fAttributes.GetCount(); ++i)
    {
        size_t length;
        const char* name = fAttributes.GetKeyAt(i, &length);
        if (!SameName("____objectunic", name, length) &&
            !SameName("____property_name_in_jsarray", name, length))
        {
            return false;
        }
    }
    return true;
}

// Elements

VBagArray* VValueBag::GetElements(const StKey& inKey) const
{
    return fElements == nullptr ? nullptr : fElements->GetValue(inKey);
}

void VValueBag::SetElements(const StKey& inKey, VBagArray* inList)
{
    if (Elements* elements = _Elements())
    {
        elements->SetValue(inKey, inList);
    }
}

int32_t VValueBag::GetElementNamesCount() const
{
    return fElements == nullptr ? 0 : static_cast<int32_t>(fElements->GetCount());
}

VBagArray* VValueBag::GetNthElementName(int32_t inIndex, VString* outName) const
{
    size_t index;
    if (fElements == nullptr)
    {
        if (outName != nullptr)
        {
            outName->Clear();
        }
        return nullptr;
    }
    return NthName(*fElements, inIndex, outName, index) ? fElements->GetNthValue(index) : nullptr;
}

void VValueBag::AddElement(const StKey& inKey, VValueBag* inBag)
{
    if (inBag == nullptr || inKey.GetKeyLength() == 0)
    {
        return;
    }
    if (VBagArray* list = GetElements(inKey))
    {
        list->AddTail(inBag);
        return;
    }
    VBagArray* list = new (std::nothrow) VBagArray();
    if (list == nullptr)
    {
        return;
    }
    if (list->AddTail(inBag))
    {
        SetElements(inKey, list);
    }
    list->Release();
}

VError VValueBag::AddElement(const IBaggable* inObject)
{
    if (inObject == nullptr)
    {
        return VE_OK;
    }
    auto* bag = new VValueBag();
    VString kind;
    VError error = inObject->SaveToBag(*bag, kind);
    if (error == VE_OK)
    {
        AddElement(StKey(kind), bag);
    }
    bag->Release();
    return error;
}

bool VValueBag::ReplaceElement(const StKey& inKey, VValueBag* inBag)
{
    if (inBag == nullptr)
    {
        RemoveElements(inKey);
        return false;
    }
    if (VBagArray* list = GetElements(inKey))
    {
        if (list->GetCount() == 1 && list->GetNth(1) == inBag)
        {
            return false;
        }
        // The bag may be in the list that is emptied.
        inBag->Retain();
        list->Destroy();
        bool added = list->AddTail(inBag);
        inBag->Release();
        return added;
    }
    VBagArray* list = new (std::nothrow) VBagArray();
    if (list == nullptr || !list->AddTail(inBag))
    {
        ReleaseRefCountable(&list);
        return false;
    }
    SetElements(inKey, list);
    bool added = GetElements(inKey) == list;
    list->Release();
    return added;
}

void VValueBag::RemoveElements(const StKey& inKey)
{
    if (fElements != nullptr)
    {
        fElements->RemoveElements(inKey);
    }
}

VValueBag* VValueBag::GetUniqueElementAnyKind(VString& outName) const
{
    if (GetElementNamesCount() == 1)
    {
        VBagArray* list = fElements->GetNthValue(0);
        if (list != nullptr && list->GetCount() == 1)
        {
            size_t length;
            const char* name = fElements->GetKeyAt(0, &length);
            outName = KeyText(name, length);
            return list->GetNth(1);
        }
    }
    outName.Clear();
    return nullptr;
}

VValueBag* VValueBag::RetainUniqueElementWithAttribute(const StKey& inElementKey, const StKey& inAttributeKey,
                                                       const VValueSingle& inValue) const
{
    VBagArray* list = GetElements(inElementKey);
    if (list == nullptr)
    {
        return nullptr;
    }
    std::unique_ptr<VValue> probe(inValue.GetValueInfo()->Generate());
    VValueSingle* single = probe == nullptr ? nullptr : probe->IsVValueSingle();
    if (single == nullptr)
    {
        return nullptr;
    }
    VValueBag* found = nullptr;
    for (int32_t i = 1; i <= list->GetCount(); ++i)
    {
        VValueBag* bag = list->GetNth(i);
        single->Clear();
        bag->GetValue(inAttributeKey, *single);
        if (single->EqualTo(inValue))
        {
            if (found != nullptr)
            {
                return nullptr;
            }
            found = bag;
        }
    }
    return RetainRefCountable(found);
}

// Whole bag

bool VValueBag::_CopyAttributesOf(const VValueBag& inOther)
{
    const VPackedDictionary_with_backstore& attributes = inOther.fAttributes;
    for (size_t i = 0; i < attributes.GetCount(); ++i)
    {
        size_t length;
        const char* name = attributes.GetKeyAt(i, &length);
        if (const VValueSingle* value = attributes._GetSlotValue(i))
        {
            // The key is a copy: storing into this bag may move the other's key block when both
            // are the same bag.
            SetValue(StKey(name, length), *value);
        }
    }
    return true;
}

bool VValueBag::_AddClonesOf(const VBagArray& inList, const StKey& inKey)
{
    // The count is taken first: the list may be this bag's own.
    const int32_t count = inList.GetCount();
    for (int32_t i = 1; i <= count; ++i)
    {
        VValueBag* clone = nullptr;
        try
        {
            clone = new VValueBag(*inList.GetNth(i));
        }
        catch (...)
        {
            return false;
        }
        AddElement(inKey, clone);
        clone->Release();
    }
    return true;
}

bool VValueBag::UnionClone(const VValueBag* inOther)
{
    if (inOther == nullptr)
    {
        return true;
    }
    _CopyAttributesOf(*inOther);
    for (int32_t i = 0; i < inOther->GetElementNamesCount(); ++i)
    {
        size_t length;
        const char* name = inOther->fElements->GetKeyAt(static_cast<size_t>(i), &length);
        if (!_AddClonesOf(*inOther->fElements->GetNthValue(static_cast<size_t>(i)), StKey(name, length)))
        {
            return false;
        }
    }
    return true;
}

bool VValueBag::Override(const VValueBag* inOther)
{
    if (inOther == nullptr)
    {
        return true;
    }
    _CopyAttributesOf(*inOther);
    bool result = true;
    for (int32_t i = 0; result && i < inOther->GetElementNamesCount(); ++i)
    {
        size_t length;
        const char* name = inOther->fElements->GetKeyAt(static_cast<size_t>(i), &length);
        StKey key(name, length);
        const VBagArray* theirs = inOther->fElements->GetNthValue(static_cast<size_t>(i));
        VBagArray* ours = GetElements(key);
        if (ours != nullptr && ours->GetCount() == 1 && theirs->GetCount() == 1)
        {
            result = ours->GetNth(1)->Override(theirs->GetNth(1));
        }
        else
        {
            result = _AddClonesOf(*theirs, key);
        }
    }
    return result;
}

void VValueBag::SortElements(const StKey& inKey, const StBagElementsOrdering* inTable)
{
    if (inTable == nullptr || GetElementNamesCount() == 0)
    {
        return;
    }
    if (const StBagElementsOrdering* record = FindRecord(inTable, inKey.GetKey(), inKey.GetKeyLength()))
    {
        _SortElements(*record, inTable);
    }
}

void VValueBag::_SortElements(const StBagElementsOrdering& inRecord, const StBagElementsOrdering* inTable)
{
    const size_t count = fElements->GetCount();
    if (count >= 2)
    {
        // Each name's place among the record's children, 0 when not listed.
        std::vector<std::pair<int, size_t>> order;
        bool outOfOrder = false;
        for (size_t i = 0; i < count; ++i)
        {
            size_t length;
            const char* name = fElements->GetKeyAt(i, &length);
            int position = 0;
            for (int child = 0; child < 10 && inRecord.fChildNames[child] != nullptr; ++child)
            {
                if (SameName(inRecord.fChildNames[child], name, length))
                {
                    position = child + 1;
                    break;
                }
            }
            if (i > 0 && position > 0 && position < order.back().first)
            {
                outOfOrder = true;
            }
            order.emplace_back(position, i);
        }
        if (outOfOrder)
        {
            std::stable_sort(order.begin(), order.end(),
                             [](const auto& inA, const auto& inB) { return inA.first < inB.first; });
            auto* sorted = new (std::nothrow) Elements();
            if (sorted != nullptr)
            {
                for (const auto& [position, index] : order)
                {
                    size_t length;
                    const char* name = fElements->GetKeyAt(index, &length);
                    sorted->SetValue(StKey(name, length), fElements->GetNthValue(index));
                }
                if (sorted->GetCount() == count)
                {
                    std::swap(fElements, sorted);
                }
                delete sorted;
            }
        }
    }
    for (size_t i = 0; i < fElements->GetCount(); ++i)
    {
        size_t length;
        const char* name = fElements->GetKeyAt(i, &length);
        const StBagElementsOrdering* record = FindRecord(inTable, name, length);
        VBagArray* list = fElements->GetNthValue(i);
        for (int32_t child = 1; record != nullptr && child <= list->GetCount(); ++child)
        {
            VValueBag* bag = list->GetNth(child);
            if (bag->GetElementNamesCount() > 0)
            {
                bag->_SortElements(*record, inTable);
            }
        }
    }
}

// Dumps

void VValueBag::DumpText(VString& outText) const
{
    outText.Clear();
    VString name;
    VString text;
    for (int32_t i = 1; i <= GetAttributesCount(); ++i)
    {
        const VValueSingle* value = GetNthAttribute(i, &name);
        text.Clear();
        if (value != nullptr)
        {
            value->GetString(text);
        }
        outText.AppendString(name);
        outText.AppendCString(" = ");
        outText.AppendString(text);
        outText.AppendCString("\n");
    }
    for (int32_t i = 1; i <= GetElementNamesCount(); ++i)
    {
        VBagArray* list = GetNthElementName(i, &name);
        outText.AppendCString("=======\n");
        outText.AppendLong(list->GetCount());
        outText.AppendCString(" ");
        outText.AppendString(name);
        outText.AppendCString(" :\n");
        for (int32_t child = 1; child <= list->GetCount(); ++child)
        {
            list->GetNth(child)->DumpText(text);
            outText.AppendCString("--\n");
            outText.AppendString(text);
        }
    }
}

CharSet VValueBag::DebugDump(char* ioBuffer, int& ioSize) const
{
    if (IProcessServices::Get() == nullptr)
    {
        ioSize = 0;
        return CharSet::VTC_UTF_16;
    }
    VString text;
    DumpText(text);
    int units = std::min(text.GetLength(), std::max(ioSize, 0) / 2);
    std::memcpy(ioBuffer, text.GetCPointer(), static_cast<size_t>(units) * sizeof(UniChar));
    ioSize = units * static_cast<int>(sizeof(UniChar));
    return CharSet::VTC_UTF_16;
}

} // namespace zorn
