#include "toolbox/json/VJSONAlter.h"

#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/values/VTime.h"

namespace zorn
{

void VJSONAlter::_MakeObject(VJSONValue& ioValue)
{
    if (!ioValue.IsObject())
    {
        ioValue = VJSONValue(JSON_object);
    }
}

bool VJSONAlter::_Set(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inValue)
{
    _MakeObject(ioValue);
    return ioValue.GetObject()->SetPropertyWithPath(inPath, inValue);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, bool inValue)
{
    _Set(ioValue, inPath, VJSONValue(inValue ? JSON_true : JSON_false));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, int inValue)
{
    _Set(ioValue, inPath, VJSONValue(static_cast<double>(inValue)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, double inValue)
{
    _Set(ioValue, inPath, VJSONValue(inValue));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VString& inValue)
{
    _Set(ioValue, inPath, VJSONValue(inValue));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const char* inValue)
{
    _Set(ioValue, inPath, VJSONValue(VString(inValue)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const UniChar* inValue)
{
    _Set(ioValue, inPath, VJSONValue(VString(inValue)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inValue)
{
    _Set(ioValue, inPath, inValue);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, JSONType inType, VJSONArray** outArray)
{
    const VJSONValue value(inType);
    const bool set = _Set(ioValue, inPath, value);
    if (outArray != nullptr)
    {
        // The stored value shares the container made here, which the tree now holds.
        *outArray = set ? value.GetArray() : nullptr;
    }
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VTime& inTime)
{
    VString text;
    inTime.GetJSONString(text, 0);
    _Set(ioValue, inPath, VJSONValue(text));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue)
{
    _MakeObject(ioValue);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inName)
{
    if (VJSONObject* object = ioValue.GetObject())
    {
        object->RemoveProperty(inName);
    }
}

VJSONAlter::~VJSONAlter() = default;

} // namespace zorn
