#include "toolbox/json/VJSONArrayReader.h"

#include "toolbox/json/VJSONImporter.h"

namespace zorn
{

VJSONArrayReader::VJSONArrayReader() = default;

VJSONArrayReader::VJSONArrayReader(const VString& inText)
{
    _Parse(inText);
}

VJSONArrayReader::~VJSONArrayReader() = default;

void VJSONArrayReader::FromJSONString(const VString& inText)
{
    fError = VE_OK;
    fElements.clear();
    fCount = 0;
    _Parse(inText);
}

void VJSONArrayReader::_Parse(const VString& inText)
{
    VError error = VE_OK;
    if (inText.IsNull() || inText.IsEmpty())
    {
        error = VE_JSON_MALFORMED;
    }
    else
    {
        VJSONImporter importer(inText, 0);
        VString token;
        JsonToken next = jsonEnd;
        // Up to the array.
        do
        {
            next = importer.GetNextJSONToken(token, nullptr, &error);
        } while (error == VE_OK && next != jsonEnd && next != jsonBeginArray);
        while (error == VE_OK && next != jsonEnd)
        {
            next = importer.GetNextJSONToken(token, nullptr, &error);
            if (next == jsonEndArray)
            {
                break;
            }
            if (next == jsonString)
            {
                fElements.push_back(token);
            }
            else if (next == jsonBeginArray)
            {
                // A nested array is passed over whole.
                for (int32_t depth = 1; depth > 0 && error == VE_OK && next != jsonEnd;)
                {
                    next = importer.GetNextJSONToken(&error);
                    depth += next == jsonBeginArray ? 1 : (next == jsonEndArray ? -1 : 0);
                }
            }
        }
        if (error != VE_OK || next != jsonEndArray)
        {
            error = VE_JSON_MALFORMED;
        }
    }
    if (error != VE_OK)
    {
        fError = error;
        fElements.clear();
    }
    fCount = static_cast<int32_t>(fElements.size());
}

int32_t VJSONArrayReader::GetCountOfElements(VError* outError) const
{
    if (outError != nullptr)
    {
        *outError = fError;
    }
    return fCount;
}

template <class T, class TConvert>
VError VJSONArrayReader::_Convert(T* outValues, TConvert inConvert) const
{
    if (outValues == nullptr || fError != VE_OK)
    {
        return fError;
    }
    for (int32_t i = 0; i < fCount; ++i)
    {
        outValues[i] = inConvert(fElements[static_cast<size_t>(i)]);
    }
    return VE_OK;
}

VError VJSONArrayReader::ToArrayShort(int16_t* outValues) const
{
    return _Convert(outValues, [](const VString& inText) { return inText.GetWord(); });
}

VError VJSONArrayReader::ToArrayLong(int32_t* outValues) const
{
    return _Convert(outValues, [](const VString& inText) { return inText.GetLong(); });
}

VError VJSONArrayReader::ToArrayReal(double* outValues) const
{
    return _Convert(outValues, [](const VString& inText) { return inText.GetReal(); });
}

VError VJSONArrayReader::ToArrayBool(char* outValues) const
{
    static const VString sTrue("true");
    return _Convert(outValues, [](const VString& inText)
                    { return static_cast<char>(inText.EqualToString(sTrue, false) ? 1 : 0); });
}

void VJSONArrayReader::ToArrayString(std::vector<VString>& ioTexts, bool inAppend) const
{
    if (!inAppend)
    {
        ioTexts.clear();
    }
    ioTexts.insert(ioTexts.end(), fElements.begin(), fElements.end());
}

} // namespace zorn
