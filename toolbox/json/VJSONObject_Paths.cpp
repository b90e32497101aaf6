// Property paths of JSON objects: "a.b[2][0].c".
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"

#include <limits>
#include <string_view>

namespace zorn
{

namespace
{

std::u16string_view Units(const VString& inString)
{
    return {reinterpret_cast<const char16_t*>(inString.GetCPointer()),
            static_cast<size_t>(inString.GetLength())};
}

VString MakeString(std::u16string_view inUnits)
{
    return VString(reinterpret_cast<const UniChar*>(inUnits.data()), static_cast<int32_t>(inUnits.size()));
}

std::u16string_view TrimBlanks(std::u16string_view inText)
{
    size_t first = inText.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
    {
        return {};
    }
    size_t last = inText.find_last_not_of(u' ');
    return inText.substr(first, last - first + 1);
}

// A non-empty run of ASCII digits only.
bool IsDigitRun(const VString& inPart)
{
    std::u16string_view units = Units(inPart);
    if (units.empty())
    {
        return false;
    }
    for (char16_t unit : units)
    {
        if (unit < u'0' || unit > u'9')
        {
            return false;
        }
    }
    return true;
}

// The array index a part names: VString::GetLong of its text, except that a run of digits too
// large for 32 bits (which GetLong reads as 0) names an index past every array instead of
// element 0.
int64_t PathIndex(const VString& inPart)
{
    if (IsDigitRun(inPart))
    {
        std::u16string_view digits = Units(inPart);
        size_t first = digits.find_first_not_of(u'0');
        if (first != std::u16string_view::npos && digits.size() - first > 10)
        {
            return std::numeric_limits<int64_t>::max();
        }
        int64_t value = inPart.GetLong8();
        return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int64_t>::max() : value;
    }
    return inPart.GetLong();
}

bool IsLength(const VString& inPart)
{
    // The comparison of names follows the task's international settings when they exist.
    static const CVSTR_struct sLength(u"length");
    return inPart.CompareTo(sLength, false) == CR_EQUAL;
}

bool IsVoid(const VJSONValue& inValue)
{
    return inValue.IsUndefined() || inValue.IsNull();
}

} // namespace

VError VJSONObject::ExtractPath(const VString& inPath, std::vector<VString>& outParts)
{
    outParts.clear();
    std::u16string_view path = Units(inPath);
    size_t start = 0;
    while (true)
    {
        size_t dot = path.find(u'.', start);
        std::u16string_view piece = TrimBlanks(
            path.substr(start, dot == std::u16string_view::npos ? std::u16string_view::npos : dot - start));

        size_t open = piece.find(u'[');
        std::u16string_view name = piece.substr(0, open);
        outParts.push_back(MakeString(name));
        if (name.empty())
        {
            return _ThrowError(VE_JSON_PATH_EMPTY_PART);
        }
        while (open != std::u16string_view::npos)
        {
            size_t next = piece.find(u'[', open + 1);
            std::u16string_view index = piece.substr(
                open + 1, next == std::u16string_view::npos ? std::u16string_view::npos : next - open - 1);
            if (index.empty() || index.back() != u']')
            {
                outParts.push_back(MakeString(index));
                return _ThrowError(VE_JSON_PATH_UNCLOSED_INDEX);
            }
            index.remove_suffix(1);
            outParts.push_back(MakeString(index));
            if (index.empty())
            {
                return _ThrowError(VE_JSON_PATH_EMPTY_PART);
            }
            open = next;
        }

        if (dot == std::u16string_view::npos)
        {
            return VE_OK;
        }
        start = dot + 1;
    }
}

VJSONValue VJSONObject::GetPropertyWithPath(const VString& inPath, VDBLanguageContext* inContext) const
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
    {
        return VJSONValue(JSON_undefined);
    }
    return GetPropertyWithPath(parts, inContext);
}

VJSONValue VJSONObject::GetPropertyWithPath(const std::vector<VString>& inParts,
                                            VDBLanguageContext* inContext) const
{
    VJSONValue current(const_cast<VJSONObject*>(this));
    for (const VString& part : inParts)
    {
        if (VJSONObject* object = current.GetObject())
        {
            current = object->GetProperty(part, inContext);
        }
        else if (VJSONArray* array = current.GetArray())
        {
            if (IsLength(part))
            {
                current = VJSONValue(static_cast<double>(array->GetCount()));
            }
            else
            {
                int64_t index = PathIndex(part);
                current = index >= 0 && static_cast<uint64_t>(index) < array->GetCount()
                              ? array->GetAt(static_cast<size_t>(index))
                              : VJSONValue(JSON_undefined);
            }
        }
        else
        {
            return VJSONValue(JSON_undefined);
        }
    }
    return current;
}

bool VJSONObject::SetPropertyWithPath(const VString& inPath, const VJSONValue& inValue,
                                      VDBLanguageContext* inContext)
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
    {
        return false;
    }
    // A missing or null step becomes an array when the part after it is an index, else an object.
    auto newContainer = [&parts](size_t inNext)
    { return VJSONValue(inNext < parts.size() && IsDigitRun(parts[inNext]) ? JSON_array : JSON_object); };

    VJSONValue current(this);
    for (size_t i = 0; i < parts.size(); ++i)
    {
        const VString& part = parts[i];
        const bool last = i + 1 == parts.size();
        if (VJSONObject* object = current.GetObject())
        {
            if (last)
            {
                return object->SetProperty(part, inValue, inContext);
            }
            VJSONValue next = object->GetProperty(part, inContext);
            if (IsVoid(next))
            {
                next = newContainer(i + 1);
            }
            if (!object->SetProperty(part, next, inContext))
            {
                return false;
            }
            current = std::move(next);
        }
        else if (VJSONArray* array = current.GetArray())
        {
            int64_t index = PathIndex(part);
            if (index >= 0 && static_cast<uint64_t>(index) >= array->GetCount())
            {
                if (index > kMaxPathIndex)
                {
                    _ThrowError(VE_INVALID_PARAMETER, &part);
                    return false;
                }
                array->Resize(static_cast<size_t>(index) + 1, JSON_null);
            }
            if (last)
            {
                // A negative index changes no array.
                return index < 0 || array->SetAt(static_cast<size_t>(index), inValue, false);
            }
            VJSONValue next =
                index >= 0 ? array->GetAt(static_cast<size_t>(index)) : VJSONValue(JSON_undefined);
            if (IsVoid(next))
            {
                next = newContainer(i + 1);
            }
            if (index >= 0 && !array->SetAt(static_cast<size_t>(index), next, false))
            {
                return false;
            }
            current = std::move(next);
        }
        else
        {
            // The value reached by the previous part can hold neither names nor indexes.
            _ThrowError(IsDigitRun(part) ? VE_JSON_PATH_INDEX_IN_SCALAR : VE_JSON_PATH_NAME_IN_SCALAR,
                        &parts[i - 1]);
            return false;
        }
    }
    return true;
}

bool VJSONObject::SetPropertiesWithPaths(const NamedValues& inValues)
{
    for (const auto& [path, value] : inValues)
    {
        if (!SetPropertyWithPath(path, value))
        {
            return false;
        }
    }
    return true;
}

uint32_t VJSONObject::GetPropertyStampWithPath(const VString& inPath) const
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
    {
        return 0;
    }
    if (parts.size() == 1)
    {
        return GetPropertyStamp(parts[0]);
    }
    VString last = parts.back();
    parts.pop_back();
    VJSONValue container = GetPropertyWithPath(parts);
    if (VJSONObject* object = container.GetObject())
    {
        return object->GetPropertyStamp(last);
    }
    if (VJSONArray* array = container.GetArray())
    {
        if (Units(last) == u"length")
        {
            return static_cast<uint32_t>(array->GetCount());
        }
        int64_t index = PathIndex(last);
        if (index >= 0 && static_cast<uint64_t>(index) < array->GetCount())
        {
            return array->GetStampAt(static_cast<size_t>(index));
        }
    }
    return 0;
}

void VJSONObject::TouchPropertyStampWithPath(const VString& inPath)
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
    {
        return;
    }
    if (parts.size() == 1)
    {
        TouchPropertyStamp(parts[0]);
        return;
    }
    VString last = parts.back();
    parts.pop_back();
    VJSONValue container = GetPropertyWithPath(parts);
    if (VJSONObject* object = container.GetObject())
    {
        object->TouchPropertyStamp(last);
    }
    else if (VJSONArray* array = container.GetArray())
    {
        int64_t index = PathIndex(last);
        if (Units(last) != u"length" && index >= 0 && static_cast<uint64_t>(index) < array->GetCount())
        {
            array->TouchStampAt(static_cast<size_t>(index));
        }
    }
}

} // namespace zorn
