// The JSON text of a bag: an object of its attributes, then of its element lists.
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

namespace
{

// Attribute values are written with these value options (quoted strings, dates as text).
constexpr JSONStringOptions kValueOptions = 513;

bool IsMarkerName(const VString& inName)
{
    return inName.EqualToUSASCIICString("____objectunic") ||
           inName.EqualToUSASCIICString(VValueBag::kJSONArrayMarker);
}

void AppendValue(VString& ioOut, const VValueSingle* inValue)
{
    if (inValue == nullptr || inValue->IsNull())
    {
        ioOut.AppendCString("null");
        return;
    }
    VString text;
    inValue->GetJSONString(text, kValueOptions);
    ioOut.AppendString(text);
}

} // namespace

void AppendJSONNewline(VString& ioOut, bool inPretty)
{
    if (inPretty)
    {
        ioOut.AppendUniChar(0xA);
    }
}

void AjustJSONTab(VString& ioOut, int32_t inLevel, bool inPretty)
{
    for (int32_t i = 0; inPretty && i < inLevel; ++i)
    {
        ioOut.AppendUniChar(0x9);
    }
}

namespace
{

void AppendBegin(VString& ioOut, int32_t& ioLevel, bool inPretty, UniChar inBracket)
{
    AppendJSONNewline(ioOut, inPretty);
    AjustJSONTab(ioOut, ioLevel, inPretty);
    ioOut.AppendUniChar(inBracket);
    ++ioLevel;
}

void AppendEnd(VString& ioOut, int32_t& ioLevel, bool inPretty, UniChar inBracket)
{
    --ioLevel;
    AppendJSONNewline(ioOut, inPretty);
    AjustJSONTab(ioOut, ioLevel, inPretty);
    ioOut.AppendUniChar(inBracket);
}

} // namespace

void AppendBeginJSONObject(VString& ioOut, int32_t& ioLevel, bool inPretty)
{
    AppendBegin(ioOut, ioLevel, inPretty, '{');
}

void AppendEndJSONObject(VString& ioOut, int32_t& ioLevel, bool inPretty)
{
    AppendEnd(ioOut, ioLevel, inPretty, '}');
}

void AppendBeginJSONArray(VString& ioOut, int32_t& ioLevel, bool inPretty)
{
    AppendBegin(ioOut, ioLevel, inPretty, '[');
}

void AppendEndJSONArray(VString& ioOut, int32_t& ioLevel, bool inPretty)
{
    AppendEnd(ioOut, ioLevel, inPretty, ']');
}

void AppendJSONPropertyName(VString& ioOut, int32_t inLevel, bool inPretty, const VString& inName)
{
    AppendJSONNewline(ioOut, inPretty);
    AjustJSONTab(ioOut, inLevel, inPretty);
    VString quoted;
    inName.GetJSONString(quoted, 1);
    ioOut.AppendString(quoted);
    ioOut.AppendCString(inPretty ? " : " : ":");
}

void VBagArray::_GetJSONString(VString& ioOut, int32_t& ioLevel, bool inPretty, uint32_t inOptions) const
{
    static const VValueBag::StKey sArrayMarker(VValueBag::kJSONArrayMarker);
    AppendBeginJSONArray(ioOut, ioLevel, inPretty);
    for (int32_t i = 1; i <= GetCount(); ++i)
    {
        if (i > 1)
        {
            ioOut.AppendUniChar(',');
        }
        const VValueBag* element = GetNth(i);
        VString listName;
        if (!element->GetString(sArrayMarker, listName))
        {
            element->_GetJSONString(ioOut, ioLevel, inPretty, inOptions);
        }
        else if (const VBagArray* nested = element->GetElements(VValueBag::StKey(listName)))
        {
            nested->_GetJSONString(ioOut, ioLevel, inPretty, inOptions);
        }
        else
        {
            AppendBeginJSONArray(ioOut, ioLevel, inPretty);
            AppendEndJSONArray(ioOut, ioLevel, inPretty);
        }
    }
    AppendEndJSONArray(ioOut, ioLevel, inPretty);
}

void VValueBag::_GetJSONString(VString& ioOut, int32_t& ioLevel, bool inPretty, uint32_t inOptions) const
{
    static const StKey sFakeArrayElement("____FakeArrayElement");
    static const StKey sObjectUnic("____objectunic");
    if (auto slot = fAttributes._Find(sFakeArrayElement); slot != fAttributes.GetSlots().end())
    {
        const size_t index = static_cast<size_t>(slot - fAttributes.GetSlots().begin());
        if (const VValueSingle* fake = fAttributes._GetSlotValue(index))
        {
            AppendValue(ioOut, fake);
            return;
        }
    }
    AppendBeginJSONObject(ioOut, ioLevel, inPretty);
    bool first = true;
    VString name;
    static const VString sCDataName("__CDATA");
    for (int32_t i = 1; i <= GetAttributesCount(); ++i)
    {
        const VValueSingle* value = GetNthAttribute(i, &name);
        if (IsMarkerName(name))
        {
            continue;
        }
        if (!first)
        {
            ioOut.AppendUniChar(',');
        }
        first = false;
        AppendJSONPropertyName(ioOut, ioLevel, inPretty,
                               name.EqualToUSASCIICString("<>") ? sCDataName : name);
        AppendValue(ioOut, value);
    }
    for (int32_t i = 1; i <= GetElementNamesCount(); ++i)
    {
        const VBagArray* list = GetNthElementName(i, &name);
        if (!first)
        {
            ioOut.AppendUniChar(',');
        }
        first = false;
        AppendJSONPropertyName(ioOut, ioLevel, inPretty, name);
        const VValueBag* only = list != nullptr && list->GetCount() == 1 ? list->GetNth(1) : nullptr;
        if (only != nullptr && ((inOptions & kJSONOneBagAsObject) != 0 || only->AttributeExists(sObjectUnic)))
        {
            only->_GetJSONString(ioOut, ioLevel, inPretty, inOptions);
        }
        else if (list != nullptr)
        {
            list->_GetJSONString(ioOut, ioLevel, inPretty, inOptions);
        }
        else
        {
            ioOut.AppendCString("[]");
        }
    }
    AppendEndJSONObject(ioOut, ioLevel, inPretty);
}

VError VValueBag::GetJSONString(VString& outJSONString, JSONStringOptions inOptions) const
{
    outJSONString.Clear();
    int32_t level = 0;
    _GetJSONString(outJSONString, level, (inOptions & kJSONPretty) != 0, inOptions);
    return VE_OK;
}

} // namespace zorn

namespace zorn
{

VError VValueBag::FromJSONString(const VString& inJSONString, JSONStringOptions inOptions)
{
    const detail::VBagJSONAccess* access = detail::BagJSON();
    if (access == nullptr)
    {
        return _ThrowError(VE_UNIMPLEMENTED);
    }
    // The importer's option 512: marked dates only.
    return access->fTextToBag(inJSONString, *this, (inOptions & kJSONMarkedDatesOnly) != 0 ? 512 : 0);
}

VError VValueBag::FromJSONValue(const VJSONValue& inJSONValue)
{
    const detail::VBagJSONAccess* access = detail::BagJSON();
    if (access == nullptr)
    {
        return _ThrowError(VE_UNIMPLEMENTED);
    }
    VString text;
    VError err = access->fStringify(inJSONValue, text, 1);
    return err != VE_OK ? err : FromJSONString(text, 0);
}

VJSONObject* VValueBag::BuildJSONObject(VError& outError) const
{
    outError = VE_OK;
    const detail::VBagJSONAccess* access = detail::BagJSON();
    if (access == nullptr)
    {
        outError = _ThrowError(VE_UNIMPLEMENTED);
        return nullptr;
    }
    VString text;
    GetJSONString(text, 0);
    return access->fParseObject(text, outError);
}

VError VValueBag::GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions) const
{
    VError err = VE_OK;
    VJSONObject* object = BuildJSONObject(err);
    if (const detail::VBagJSONAccess* access = detail::BagJSON())
    {
        access->fSetObject(outJSONValue, object);
    }
    if (object != nullptr)
    {
        detail::JSONObjects()->fRelease(object);
    }
    return err;
}

VError VValueBag::GetJSONValue(VJSONValue& outJSONValue) const
{
    return GetJSONValue(outJSONValue, 0);
}

} // namespace zorn
