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

const char kCircularMarker[] = "\"[circular]\"";

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

// Makes room for inMore units in the output. The output doubles when it grows: the string's own
// growth step of a fifth makes a long text move many times.
void Reserve(VString& ioOut, int32_t inMore)
{
    const int64_t needed = static_cast<int64_t>(ioOut.GetLength()) + inMore;
    if (needed > ioOut.GetCapacity())
    {
        const int64_t doubled = std::max<int64_t>(needed, 2 * static_cast<int64_t>(ioOut.GetCapacity()));
        ioOut.EnsureSize(static_cast<int32_t>(std::min<int64_t>(doubled, INT32_MAX - 1)), true);
    }
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

void VJSONWriter::AppendIndentString(VString& ioText) const
{
    if ((fOptions & kPretty) != 0)
    {
        ioText.AppendString(fLinePrefix);
    }
}

// -------------------------------------------------------------------------------------------------
// Public operations: each writes into its own buffer and replaces the output only on success.

VError VJSONWriter::_Replace(VError inError, VString& ioScratch, VString& outText)
{
    if (inError == VE_OK)
    {
        outText = std::move(ioScratch);
    }
    return inError;
}

VError VJSONWriter::StringifyValue(const VJSONValue& inValue, VString& outText)
{
    VString text;
    return _Replace(_AppendValue(inValue, text), text, outText);
}

VError VJSONWriter::StringifyObject(const VJSONObject* inObject, VString& outText)
{
    VString text;
    return _Replace(_AppendObject(inObject, text), text, outText);
}

VError VJSONWriter::StringifyArray(const VJSONArray* inArray, VString& outText)
{
    VString text;
    return _Replace(_AppendArray(inArray, text), text, outText);
}

// -------------------------------------------------------------------------------------------------
// Values

VError VJSONWriter::_AppendValue(const VJSONValue& inValue, VString& ioOut)
{
    switch (inValue.GetType())
    {
    case JSON_null:
    case JSON_undefined:
        ioOut.AppendString(VJSONValue::NullString());
        return VE_OK;
    case JSON_false:
        ioOut.AppendString(VJSONValue::FalseString());
        return VE_OK;
    case JSON_true:
        ioOut.AppendString(VJSONValue::TrueString());
        return VE_OK;
    case JSON_string:
        return _AppendJSONString(inValue.GetStringUnits(), ioOut);
    case JSON_number:
        VReal::RealToJSONString(inValue.GetNumber(), fNumber);
        ioOut.AppendString(fNumber);
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

VError VJSONWriter::_AppendJSONString(std::u16string_view inUnits, VString& ioOut)
{
    Reserve(ioOut, static_cast<int32_t>(std::min<size_t>(inUnits.size() + 2, INT32_MAX / 2)));
    // Most strings have nothing to escape: they go straight into the output.
    if ((fOptions & kRaw) != 0 || NeedsNoEscape(inUnits, (fOptions & kEscapeAmpersandApostrophe) != 0))
    {
        const bool quoted = (fOptions & kQuoted) != 0;
        if ((quoted && !ioOut.AppendUniChar('"')) ||
            !ioOut.AppendUniChars(reinterpret_cast<const UniChar*>(inUnits.data()),
                                  static_cast<int32_t>(inUnits.size())) ||
            (quoted && !ioOut.AppendUniChar('"')))
        {
            return VE_STRING_ALLOC_FAILED;
        }
        return VE_OK;
    }
    fUnits.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                         static_cast<int32_t>(inUnits.size()));
    VError error = fUnits.GetJSONString(fEscaped, fOptions);
    if (error == VE_OK && !ioOut.AppendString(fEscaped))
    {
        error = VE_STRING_ALLOC_FAILED;
    }
    return error;
}

VError VJSONWriter::_AppendDate(const VJSONValue& inValue, VString& ioOut)
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
        ioOut.AppendString(text);
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

void VJSONWriter::_CloseContainer(VString& ioOut, bool inTruncated, UniChar inClose)
{
    AppendIndentString(ioOut);
    if (!inTruncated)
    {
        ioOut.AppendUniChar(inClose);
    }
    else if (!fEllipsisWritten)
    {
        ioOut.AppendCString("...");
        fEllipsisWritten = true;
    }
}

// -------------------------------------------------------------------------------------------------
// Arrays

VError VJSONWriter::_AppendArray(const VJSONArray* inArray, VString& ioOut)
{
    if (inArray == nullptr)
    {
        ioOut.AppendString(VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (inArray->GetCount() == 0)
    {
        ioOut.AppendCString("[]");
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
    ioOut.AppendUniChar('[');
    VError error = VE_OK;
    bool truncated = false;
    // Elements are read by reference: the writer holds no lock and the array does not change
    // while its own task writes it.
    const std::span<const VJSONValue> elements = inArray->GetElements();
    for (size_t i = 0; i < elements.size(); ++i)
    {
        if (i > 0)
        {
            ioOut.AppendUniChar(',');
        }
        Reserve(ioOut, fLinePrefix.GetLength() + 64);
        const int32_t start = ioOut.GetLength();
        AppendIndentString(ioOut);
        error = _AppendValue(elements[i], ioOut);
        if (error != VE_OK)
        {
            break;
        }
        if (_CountAndCheckStop(ioOut.GetLength() - start, kTruncateCount + 1))
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

VError VJSONWriter::_AppendObject(const VJSONObject* inObject, VString& ioOut)
{
    if (inObject == nullptr)
    {
        ioOut.AppendString(VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (_IsOpen(inObject))
    {
        if ((fOptions & kCircularText) != 0)
        {
            ioOut.AppendCString(kCircularMarker);
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
                    ioOut.AppendString(text);
                }
            }
        }
    }
    if (!handled)
    {
        if (inObject->IsEmpty())
        {
            ioOut.AppendCString("{}");
        }
        else
        {
            IncrementLevel();
            ioOut.AppendUniChar('{');
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

VError VJSONWriter::_AppendMembers(const VJSONObject* inObject, VString& ioOut, bool& outTruncated)
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
                ioOut.AppendUniChar(',');
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
            ioOut.AppendUniChar(',');
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

VError VJSONWriter::_AppendMember(std::u16string_view inName, const VJSONValue& inValue, VString& ioOut,
                                  bool& outTruncated)
{
    Reserve(ioOut, fLinePrefix.GetLength() + 64);
    const int32_t start = ioOut.GetLength();
    AppendIndentString(ioOut);
    VError error = _AppendJSONString(inName, ioOut);
    if (error != VE_OK)
    {
        return error;
    }
    ioOut.AppendCString((fOptions & kPretty) != 0 ? ": " : ":");
    error = _AppendValue(inValue, ioOut);
    if (error == VE_OK)
    {
        outTruncated = _CountAndCheckStop(ioOut.GetLength() - start, kTruncateCount + 1);
    }
    return error;
}

} // namespace zorn
