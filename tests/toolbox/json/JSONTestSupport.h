// Shared pieces of the JSON tests: texts of strings and values, and building objects quickly.
#pragma once

#include "tests/StringTestSupport.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/strings/VString.h"

#include <initializer_list>
#include <string>
#include <utility>

namespace zorn::test
{

inline VString Str(const char* inText)
{
    return VString(inText);
}

inline std::u16string TextOf(const VJSONValue& inValue)
{
    VString text;
    inValue.GetString(text);
    return Text(text);
}

// A new object (held by the returned value) with the properties in order.
inline VJSONValue MakeObject(std::initializer_list<std::pair<const char*, VJSONValue>> inProperties)
{
    VJSONValue object(JSON_object);
    for (const auto& [name, value] : inProperties)
    {
        object.GetObject()->SetProperty(VString(name), value);
    }
    return object;
}

// A new array (held by the returned value) with the elements in order.
inline VJSONValue MakeArray(std::initializer_list<VJSONValue> inElements)
{
    VJSONValue array(JSON_array);
    size_t index = 0;
    for (const VJSONValue& element : inElements)
    {
        array.GetArray()->SetAt(index++, element, true);
    }
    return array;
}

// The own property names in insertion order.
inline std::u16string NamesOf(const VJSONObject* inObject)
{
    std::u16string names;
    for (const auto& property : inObject->GetOwnProperties())
    {
        names += (names.empty() ? u"" : u",") + std::u16string(property.fKey.GetUnits());
    }
    return names;
}

// "name=value" for each visited property, joined with ",".
template <class Iterator>
std::u16string Walk(Iterator&& ioIterator)
{
    std::u16string visited;
    for (; ioIterator.IsValid(); ++ioIterator)
    {
        visited += (visited.empty() ? u"" : u",") + Text(ioIterator.GetName()) + u"=" +
                   TextOf(ioIterator.GetValue());
    }
    return visited;
}

} // namespace zorn::test
