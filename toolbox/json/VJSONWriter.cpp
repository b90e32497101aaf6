#include "toolbox/json/VJSONWriter.h"

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <climits>

namespace zorn
{

namespace
{

// Past this many open containers the path is also kept in a hash set.
constexpr size_t kLinearPathLimit = 32;

constexpr std::u16string_view kCircularMarker = u"\"[circular]\"";

// Whether string escaping would copy the units as they are.
bool NeedsNoEscape(std::u16string_view inUnits, bool inEscapeAmpersandApostrophe)
{
    for (char16_t unit : inUnits)
    {
        if (unit < 0x80 && (unit < 0x20 || unit == '"' || unit == '\\' || unit == 0x7F ||
                            (inEscapeAmpersandApostrophe && (unit == '&' || unit == '\''))))
        {
            return false;
        }
    }
    return true;
}

void AppendTo(std::u16string& ioOut, const VString& inText)
{
    ioOut.append(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                 static_cast<size_t>(inText.GetLength()));
}

} // namespace

VJSONWriter::VJSONWriter(VDBLanguageContext* inContext, uint32_t inOptions)
    : fContext(inContext), fOptions(inOptions), fIndentUnit(static_cast<UniChar>('\t'))
{
    if ((fOptions & kPretty) != 0)
    {
        fLinePrefix.FromUniChar('\n');
    }
}

VJSONWriter::~VJSONWriter() = default;

// -------------------------------------------------------------------------------------------------
// Levels and indentation

void VJSONWriter::IncrementLevel()
{
    ++fLevel;
    if ((fOptions & kPretty) != 0)
    {
        fLinePrefix.AppendString(fIndentUnit);
    }
}

void VJSONWriter::DecrementLevel()
{
    --fLevel;
    if ((fOptions & kPretty) != 0)
    {
        fLinePrefix.Truncate(std::max(0, fLinePrefix.GetLength() - fIndentUnit.GetLength()));
    }
}

void VJSONWriter::InsertIndentString(VString& ioText) const
{
    if ((fOptions & kPretty) != 0)
    {
        ioText.Insert(fLinePrefix, 0);
    }
}

void VJSONWriter::_AppendIndent(std::u16string& ioOut) const
{
    if ((fOptions & kPretty) != 0)
    {
        AppendTo(ioOut, fLinePrefix);
    }
}

void VJSONWriter::AppendIndentString(VString& ioText) const
{
    if ((fOptions & kPretty) != 0)
    {
        ioText.AppendString(fLinePrefix);
    }
}

// -------------------------------------------------------------------------------------------------
// Public operations: each writes into its own buffer and replaces the output only on success.

VError VJSONWriter::_Replace(VError inError, const std::u16string& inText, VString& outText)
{
    if (inError != VE_OK)
    {
        return inError;
    }
    if (inText.size() >= 0x7FFFFFFF)
    {
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    }
    VString text(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
    if (text.GetLength() != static_cast<int32_t>(inText.size()))
    {
        return VE_STRING_ALLOC_FAILED; // raised by the string
    }
    outText = std::move(text);
    return VE_OK;
}

// The writing itself appends to a standard string, whose appends are inline and whose growth
// doubles. Running out of memory there ends the call with 'zorn' 107 and no exception.
template <class TWrite>
VError VJSONWriter::_WriteAndReplace(TWrite&& inWrite, VString& outText)
{
    std::u16string text;
    const size_t depth = fOpen.size();
    const int32_t level = fLevel;
    VError error = VE_OK;
    try
    {
        error = inWrite(text);
    }
    catch (const std::exception&)
    {
        // Only an allocation can throw: put the path and level back as the unwinding left them.
        while (fOpen.size() > depth)
        {
            _PopOpen();
        }
        while (fLevel > level)
        {
            DecrementLevel();
        }
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    }
    return _Replace(error, text, outText);
}

VError VJSONWriter::StringifyValue(const VJSONValue& inValue, VString& outText)
{
    return _WriteAndReplace([&](std::u16string& ioOut) { return _AppendValue(inValue, ioOut); }, outText);
}

VError VJSONWriter::StringifyObject(const VJSONObject* inObject, VString& outText)
{
    return _WriteAndReplace([&](std::u16string& ioOut) { return _AppendObject(inObject, ioOut); }, outText);
}

VError VJSONWriter::StringifyArray(const VJSONArray* inArray, VString& outText)
{
    return _WriteAndReplace([&](std::u16string& ioOut) { return _AppendArray(inArray, ioOut); }, outText);
}

// -------------------------------------------------------------------------------------------------
// Values

VError VJSONWriter::_AppendValue(const VJSONValue& inValue, std::u16string& ioOut)
{
    switch (inValue.GetType())
    {
    case JSON_null:
    case JSON_undefined:
        AppendTo(ioOut, VJSONValue::NullString());
        return VE_OK;
    case JSON_false:
        AppendTo(ioOut, VJSONValue::FalseString());
        return VE_OK;
    case JSON_true:
        AppendTo(ioOut, VJSONValue::TrueString());
        return VE_OK;
    case JSON_string:
        return _AppendJSONString(inValue.GetStringUnits(), ioOut);
    case JSON_number:
        VReal::RealToJSONString(inValue.GetNumber(), fNumber);
        AppendTo(ioOut, fNumber);
        return VE_OK;
    case JSON_object:
        return _AppendObject(inValue.GetObject(), ioOut);
    case JSON_array:
        return _AppendArray(inValue.GetArray(), ioOut);
    case JSON_date:
        return _AppendDate(inValue, ioOut);
    }
    return VE_OK;
}

VError VJSONWriter::_AppendJSONString(std::u16string_view inUnits, std::u16string& ioOut)
{
    // Most strings have nothing to escape: they go straight into the output.
    if ((fOptions & kRaw) != 0 || NeedsNoEscape(inUnits, (fOptions & kEscapeAmpersandApostrophe) != 0))
    {
        const bool quoted = (fOptions & kQuoted) != 0;
        if (quoted)
        {
            ioOut.push_back(u'"');
        }
        ioOut.append(inUnits);
        if (quoted)
        {
            ioOut.push_back(u'"');
        }
        return VE_OK;
    }
    fUnits.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                         static_cast<int32_t>(inUnits.size()));
    VError error = fUnits.GetJSONString(fEscaped, fOptions);
    if (error == VE_OK)
    {
        AppendTo(ioOut, fEscaped);
    }
    return error;
}

VError VJSONWriter::_AppendDate(const VJSONValue& inValue, std::u16string& ioOut)
{
    short year = 0;
    short month = 0;
    short day = 0;
    inValue.GetDate(&year, &month, &day);
    VTime time;
    if ((fOptions & kLocalDates) != 0)
    {
        time.FromLocalTime(year, month, day, 0, 0, 0, 0);
    }
    else
    {
        time.FromUTCTime(year, month, day, 0, 0, 0, 0);
    }
    VString text;
    VError error = time.GetJSONString(text, fOptions);
    if (error == VE_OK)
    {
        AppendTo(ioOut, text);
    }
    return error;
}

// -------------------------------------------------------------------------------------------------
// The open path and the character count

bool VJSONWriter::_IsOpen(const void* inContainer) const
{
    if (!fOpenSet.empty())
    {
        return fOpenSet.contains(inContainer);
    }
    return std::find(fOpen.begin(), fOpen.end(), inContainer) != fOpen.end();
}

void VJSONWriter::_PushOpen(const void* inContainer)
{
    fOpen.push_back(inContainer);
    if (fOpen.size() > kLinearPathLimit)
    {
        if (fOpenSet.empty())
        {
            fOpenSet.insert(fOpen.begin(), fOpen.end());
        }
        else
        {
            fOpenSet.insert(inContainer);
        }
    }
}

void VJSONWriter::_PopOpen()
{
    if (!fOpenSet.empty())
    {
        fOpenSet.erase(fOpen.back());
        if (fOpen.size() <= kLinearPathLimit + 1)
        {
            fOpenSet.clear();
        }
    }
    fOpen.pop_back();
}

bool VJSONWriter::_CountAndCheckStop(int32_t inLength, uint32_t inThreshold)
{
    if ((fOptions & kTruncate) == 0)
    {
        return false;
    }
    if (fCharacterCount >= inThreshold)
    {
        return true;
    }
    fCharacterCount += static_cast<uint32_t>(inLength);
    return false;
}

void VJSONWriter::_CloseContainer(std::u16string& ioOut, bool inTruncated, UniChar inClose)
{
    _AppendIndent(ioOut);
    if (!inTruncated)
    {
        ioOut.push_back(inClose);
    }
    else if (!fEllipsisWritten)
    {
        ioOut.append(u"...");
        fEllipsisWritten = true;
    }
}

// -------------------------------------------------------------------------------------------------
// Arrays

VError VJSONWriter::_AppendArray(const VJSONArray* inArray, std::u16string& ioOut)
{
    if (inArray == nullptr)
    {
        AppendTo(ioOut, VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (inArray->GetCount() == 0)
    {
        ioOut.append(u"[]");
        return VE_OK;
    }
    if (_IsOpen(inArray))
    {
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    _PushOpen(inArray);
    IncrementLevel();
    ioOut.push_back('[');
    VError error = VE_OK;
    bool truncated = false;
    // Elements are read by reference: the writer holds no lock and the array does not change
    // while its own task writes it.
    const std::span<const VJSONValue> elements = inArray->GetElements();
    for (size_t i = 0; i < elements.size(); ++i)
    {
        if (i > 0)
        {
            ioOut.push_back(',');
        }
        const int32_t start = static_cast<int32_t>(ioOut.size());
        _AppendIndent(ioOut);
        error = _AppendValue(elements[i], ioOut);
        if (error != VE_OK)
        {
            break;
        }
        if (_CountAndCheckStop(static_cast<int32_t>(ioOut.size()) - start, kTruncateCount + 1))
        {
            truncated = true;
            break;
        }
    }
    DecrementLevel();
    _PopOpen();
    if (error == VE_OK)
    {
        _CloseContainer(ioOut, truncated, ']');
    }
    return error;
}

// -------------------------------------------------------------------------------------------------
// Objects

VError VJSONWriter::_AppendObject(const VJSONObject* inObject, std::u16string& ioOut)
{
    if (inObject == nullptr)
    {
        AppendTo(ioOut, VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (_IsOpen(inObject))
    {
        if ((fOptions & kCircularText) != 0)
        {
            ioOut.append(kCircularMarker);
            return VE_OK;
        }
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    if ((fOptions & kRefuseRepeats) != 0 && !fSeen.insert(inObject).second)
    {
        return _ThrowError(VE_JSON_OBJECT_REPEATED);
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    _PushOpen(inObject);
    VError error = VE_OK;
    bool handled = false;
    if ((fOptions & kGenericOnly) != 0 && !inObject->IsGenericObject())
    {
        error = _ThrowError(VE_JSON_NOT_GENERIC);
        handled = true;
    }
    else if (IJSONObject* implementation = inObject->GetImplementation())
    {
        if ((fOptions & kRefuseBinary) != 0 && implementation->IJSON_GetBinarySignature() != 0)
        {
            error = _ThrowError(VE_JSON_BINARY_OBJECT);
            handled = true;
        }
        else
        {
            VString text;
            VError stored = VE_OK;
            if (implementation->IJSON_Stringify(inObject, *this, text, &stored) != eJSONStatusNotHandled)
            {
                handled = true;
                error = stored;
                if (error == VE_OK)
                {
                    AppendTo(ioOut, text);
                }
            }
        }
    }
    if (!handled)
    {
        if (inObject->IsEmpty())
        {
            ioOut.append(u"{}");
        }
        else
        {
            IncrementLevel();
            ioOut.push_back('{');
            bool truncated = false;
            error = _AppendMembers(inObject, ioOut, truncated);
            DecrementLevel();
            if (error == VE_OK)
            {
                _CloseContainer(ioOut, truncated, '}');
            }
        }
    }
    _PopOpen();
    return error;
}

VError VJSONWriter::_AppendMembers(const VJSONObject* inObject, std::u16string& ioOut, bool& outTruncated)
{
    VError error = VE_OK;
    bool first = true;
    if (inObject->GetImplementation() == nullptr)
    {
        // A plain object: its own properties in order, by reference (no names list, no copies).
        for (const VJSONObject::OwnProperty& property : inObject->GetOwnProperties())
        {
            if (!first)
            {
                ioOut.push_back(',');
            }
            first = false;
            error = _AppendMember(property.fKey.GetUnits(), property.fValue, ioOut, outTruncated);
            if (error != VE_OK || outTruncated)
            {
                break;
            }
        }
        return error;
    }
    // A native implementation lists names of its own, whose values it answers.
    for (VJSONPropertyConstOrderedIterator i(inObject, 0); i.IsValid(); ++i)
    {
        if (!first)
        {
            ioOut.push_back(',');
        }
        first = false;
        const VString& name = i.GetName();
        const std::u16string_view units(reinterpret_cast<const char16_t*>(name.GetCPointer()),
                                        static_cast<size_t>(name.GetLength()));
        if (const VJSONValue* stored = i.GetOwnValue())
        {
            error = _AppendMember(units, *stored, ioOut, outTruncated);
        }
        else
        {
            error = _AppendMember(units, i.GetValue(fContext), ioOut, outTruncated);
        }
        if (error != VE_OK || outTruncated)
        {
            break;
        }
    }
    return error;
}

VError VJSONWriter::_AppendMember(std::u16string_view inName, const VJSONValue& inValue,
                                  std::u16string& ioOut, bool& outTruncated)
{
    const int32_t start = static_cast<int32_t>(ioOut.size());
    _AppendIndent(ioOut);
    VError error = _AppendJSONString(inName, ioOut);
    if (error != VE_OK)
    {
        return error;
    }
    ioOut.append((fOptions & kPretty) != 0 ? u": " : u":");
    error = _AppendValue(inValue, ioOut);
    if (error == VE_OK)
    {
        outTruncated = _CountAndCheckStop(static_cast<int32_t>(ioOut.size()) - start, kTruncateCount + 1);
    }
    return error;
}

} // namespace zorn
