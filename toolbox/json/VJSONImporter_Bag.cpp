// The importer's reader of objects straight into value bags, without building JSON values.
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VJSONBlob.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace zorn
{

namespace
{

std::u16string_view UnitsOf(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

// A bare word as a number: an integer when it has no '.', 'e' or 'E' and fits int64, else a real.
// False when the word is not wholly a number.
bool ReadNumber(const VString& inWord, VValueBag& ioBag, const VValueBag::StKey& inKey)
{
    const int32_t length = inWord.GetLength();
    if (length == 0 || length > 400)
    {
        return false;
    }
    std::string ascii;
    bool real = false;
    for (int32_t i = 0; i < length; ++i)
    {
        const UniChar unit = inWord.GetCPointer()[i];
        if (unit > 0x7F)
        {
            return false;
        }
        real = real || unit == '.' || unit == 'e' || unit == 'E';
        ascii.push_back(static_cast<char>(unit));
    }
    const char* begin = ascii.data() + (ascii[0] == '+' ? 1 : 0);
    const char* end = ascii.data() + ascii.size();
    if (!real)
    {
        int64_t integer = 0;
        auto [ptr, ec] = std::from_chars(begin, end, integer);
        if (ec == std::errc() && ptr == end)
        {
            ioBag.SetLong8(inKey, integer);
            return true;
        }
        if (ec != std::errc::result_out_of_range || ptr != end)
        {
            return false;
        }
    }
    double number = 0;
    auto [ptr, ec] = std::from_chars(begin, end, number);
    if (ec != std::errc() || ptr != end || !std::isfinite(number))
    {
        return false;
    }
    ioBag.SetReal(inKey, number);
    return true;
}

const VValueBag::StKey& BinaryObjectKey()
{
    static const VValueBag::StKey sKey("__PRIVATE_BINARY_OBJECT");
    return sKey;
}

// The blob that a child object carried (read into it under "__PRIVATE_BINARY_OBJECT") put into
// the bag under the key, in place of the child.
void MoveCarriedBlob(const VValueBag& inChild, VValueBag& ioBag, const VValueBag::StKey& inKey)
{
    VBlobWithPtr blob;
    inChild.GetValue(BinaryObjectKey(), blob);
    ioBag.SetValue(inKey, blob);
}

} // namespace

VError VJSONImporter::_BagScalar(VValueBag& ioBag, const VString& inName, const VString& inToken,
                                 bool inIsString)
{
    const VValueBag::StKey key(inName);
    if (inIsString)
    {
        const int32_t length = inToken.GetLength();
        VTime time;
        const bool isDate = fMarkedDatesOnly ? length == 14 && inToken.IsNonAmbigousDate()
                                             : length == 10 && inToken.IsISODate();
        if (isDate && time.FromXMLString(inToken))
        {
            ioBag.SetTime(key, time);
        }
        else
        {
            ioBag.SetString(key, inToken);
        }
        return VE_OK;
    }
    if (inToken.EqualToUSASCIICString("null"))
    {
        ioBag.SetString(key, VString(true));
    }
    else if (inToken.EqualToUSASCIICString("true") || inToken.EqualToUSASCIICString("false"))
    {
        ioBag.SetBool(key, inToken.EqualToUSASCIICString("true"));
    }
    else if (!ReadNumber(inToken, ioBag, key))
    {
        if ((fOptions & kStrict) != 0)
        {
            return _ThrowErrorInvalidToken(UnitsOf(inToken), kExpectedValue);
        }
        ioBag.SetString(key, inToken);
    }
    return VE_OK;
}

VError VJSONImporter::_ReadBagArray(VValueBag& ioBag, const VString& inName)
{
    const VValueBag::StKey key(inName);
    VString token;
    bool isString = false;
    VError err = VE_OK;
    for (;;)
    {
        JsonToken next = GetNextJSONToken(token, &isString, &err);
        if (err != VE_OK || next == jsonEnd || next == jsonEndArray)
        {
            return err;
        }
        if (next == jsonComma)
        {
            continue;
        }
        VValueBag* child = new VValueBag();
        if (next == jsonBeginObject)
        {
            ++fBagDepth;
            const bool outer = std::exchange(fBagReadBlob, false);
            err = _ReadBagMembers(*child);
            const bool carriedBlob = std::exchange(fBagReadBlob, outer);
            --fBagDepth;
            if (err == VE_OK && carriedBlob)
            {
                VValueBag* element = new VValueBag();
                MoveCarriedBlob(*child, *element, VValueBag::StKey("____FakeArrayElement"));
                std::swap(child, element);
                element->Release();
            }
        }
        else if (next == jsonString)
        {
            err = _BagScalar(*child, VString("____FakeArrayElement"), token, isString);
        }
        else if (next == jsonBeginArray)
        {
            // An array inside the array: a child marked with the name of the list that holds its
            // elements, the array's own name.
            StJSONNestingGuard guard;
            if (guard.Failed())
            {
                err = _ThrowErrorMalformed();
            }
            else
            {
                child->SetString(VValueBag::StKey(VValueBag::kJSONArrayMarker), inName);
                ++fBagDepth;
                err = _ReadBagArray(*child, inName);
                --fBagDepth;
            }
        }
        else
        {
            err = _ThrowErrorInvalidToken(_FoundToken(next), kExpectedElement);
        }
        if (err == VE_OK)
        {
            ioBag.AddElement(key, child);
        }
        child->Release();
        if (err != VE_OK)
        {
            return err;
        }
    }
}

VError VJSONImporter::_ReadBagMembers(VValueBag& ioBag)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return _ThrowErrorMalformed();
    }
    VString name;
    VString token;
    bool isString = false;
    VError err = VE_OK;
    bool first = true;
    for (;;)
    {
        JsonToken next = GetNextJSONToken(name, &isString, &err);
        if (err != VE_OK || next == jsonEnd || next == jsonEndObject)
        {
            return err;
        }
        if (next == jsonComma && !first)
        {
            continue;
        }
        if (next != jsonString || (!isString && (fOptions & kStrict) != 0))
        {
            return _ThrowErrorInvalidToken(_FoundToken(next), first ? kExpectedNameOrEnd : kExpectedName);
        }
        first = false;
        const bool binaryName = name.EqualToUSASCIICString("__PRIVATE_BINARY_OBJECT");
        bool carriesBlob = false;
        next = GetNextJSONToken(&err);
        if (err != VE_OK)
        {
            return err;
        }
        if (next != jsonColon)
        {
            return _ThrowErrorInvalidToken(_FoundToken(next), kExpectedColon);
        }
        next = GetNextJSONToken(token, &isString, &err);
        if (err != VE_OK)
        {
            return err;
        }
        if (next == jsonBeginObject)
        {
            VValueBag* child = new VValueBag();
            child->SetBool(VValueBag::StKey("____objectunic"), true);
            ++fBagDepth;
            const bool outer = std::exchange(fBagReadBlob, false);
            err = _ReadBagMembers(*child);
            const bool carriedBlob = std::exchange(fBagReadBlob, outer);
            --fBagDepth;
            if (err == VE_OK && carriedBlob)
            {
                MoveCarriedBlob(*child, ioBag, VValueBag::StKey(name));
            }
            else if (err == VE_OK)
            {
                ioBag.AddElement(VValueBag::StKey(name), child);
            }
            child->Release();
        }
        else if (next == jsonBeginArray)
        {
            err = _ReadBagArray(ioBag, name);
        }
        else if (next != jsonString)
        {
            err = _ThrowErrorInvalidToken(_FoundToken(next), kExpectedValue);
        }
        else if (isString && binaryName)
        {
            VJSONValue value;
            bool decoded = false;
            err = VJSONBinaryObject::DecodeText(token, value, &decoded);
            if (err == VE_OK && decoded && value.IsObject() && VJSONBlob::CastJSONObject(value.GetObject()))
            {
                // The object is the blob, as Parse reads it: the caller moves it out.
                VBlobWithPtr blob;
                blob.FromJSONValue(value);
                ioBag.SetValue(BinaryObjectKey(), blob);
                carriesBlob = true;
            }
            else if (err == VE_OK && decoded)
            {
                err = ioBag.FromJSONValue(value);
            }
            else if (err == VE_OK)
            {
                ioBag.SetString(VValueBag::StKey(name), token);
            }
        }
        else if (name.EqualToUSASCIICString("__CDATA") && isString)
        {
            // Character data is text, whatever it looks like.
            ioBag.SetString(VValueBag::CDataAttributeName(), token);
        }
        else if (name.EqualToUSASCIICString("__CDATA"))
        {
            err = _BagScalar(ioBag, VString("<>"), token, isString);
        }
        else
        {
            err = _BagScalar(ioBag, name, token, isString);
        }
        if (err != VE_OK)
        {
            return err;
        }
        if (binaryName)
        {
            // Parse decodes the last such member only.
            fBagReadBlob = carriesBlob;
        }
    }
}

VError VJSONImporter::JSONObjectToBag(VValueBag& ioBag)
{
    VError err = VE_OK;
    if (fBagDepth == 0)
    {
        JsonToken first = GetNextJSONToken(&err);
        if (err != VE_OK)
        {
            return err;
        }
        if (first != jsonBeginObject)
        {
            return _ThrowErrorInvalidToken(_FoundToken(first), u"{");
        }
    }
    return _ReadBagMembers(ioBag);
}

} // namespace zorn
