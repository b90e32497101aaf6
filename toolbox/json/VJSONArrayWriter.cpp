#include "toolbox/json/VJSONArrayWriter.h"

#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VValue.h"

namespace zorn
{

VJSONArrayWriter::VJSONArrayWriter() : fText("[") {}

VJSONArrayWriter::~VJSONArrayWriter() = default;

void VJSONArrayWriter::_Reopen()
{
    if (!fClosed)
    {
        return;
    }
    const int32_t length = fText.GetLength();
    if (length > 0 && fText.GetUniChar(length) == ']')
    {
        fText.Truncate(length - 1);
    }
    // The separator that closing took after the last element.
    if (fText.GetLength() > 1)
    {
        fText.AppendUniChar(',');
    }
    fClosed = false;
}

void VJSONArrayWriter::_AppendElement(const VString& inText)
{
    _Reopen();
    fText.AppendString(inText);
    fText.AppendUniChar(',');
}

void VJSONArrayWriter::_AppendElement(const char* inText)
{
    _Reopen();
    fText.AppendCString(inText);
    fText.AppendUniChar(',');
}

void VJSONArrayWriter::Add(const VValueSingle& inValue, uint32_t inOptions)
{
    VString text;
    if (inValue.GetJSONString(text, inOptions) == VE_OK)
    {
        _AppendElement(text);
    }
}

void VJSONArrayWriter::AddString(const VString& inString, uint32_t inOptions)
{
    VString text;
    if (inString.GetJSONString(text, inOptions) == VE_OK)
    {
        _AppendElement(text);
    }
}

void VJSONArrayWriter::AddString(const char* inCString, uint32_t inOptions)
{
    if (inCString != nullptr)
    {
        AddString(VString(inCString), inOptions);
    }
}

void VJSONArrayWriter::AddBool(bool inValue)
{
    _AppendElement(inValue ? "true" : "false");
}

void VJSONArrayWriter::AddLong(int32_t inValue)
{
    AddReal(inValue);
}

void VJSONArrayWriter::AddReal(double inValue)
{
    VString text;
    VReal::RealToJSONString(inValue, text);
    _AppendElement(text);
}

void VJSONArrayWriter::AddLongs(const int32_t* inValues, int inCount)
{
    for (int i = 0; inValues != nullptr && i < inCount; ++i)
    {
        AddLong(inValues[i]);
    }
}

void VJSONArrayWriter::AddWords(const int16_t* inValues, int inCount)
{
    for (int i = 0; inValues != nullptr && i < inCount; ++i)
    {
        AddLong(inValues[i]);
    }
}

void VJSONArrayWriter::AddBools(const char* inValues, int inCount)
{
    for (int i = 0; inValues != nullptr && i < inCount; ++i)
    {
        AddBool(inValues[i] != 0);
    }
}

void VJSONArrayWriter::AddReals(const double* inValues, int inCount)
{
    for (int i = 0; inValues != nullptr && i < inCount; ++i)
    {
        AddReal(inValues[i]);
    }
}

void VJSONArrayWriter::AddStrings(const std::vector<VString>& inStrings, uint32_t inOptions)
{
    for (const VString& text : inStrings)
    {
        AddString(text, inOptions);
    }
}

void VJSONArrayWriter::AddJSONArray(VJSONArrayWriter& ioOther)
{
    VString text;
    ioOther.GetArray(text, false);
    _AppendElement(text);
}

void VJSONArrayWriter::Close()
{
    if (fClosed)
    {
        return;
    }
    const int32_t length = fText.GetLength();
    if (length == 0)
    {
        fText.FromCString("[]");
    }
    else
    {
        if (length > 1 || fText.GetUniChar(1) != '[')
        {
            fText.Truncate(length - 1);
        }
        fText.AppendUniChar(']');
    }
    fClosed = true;
}

void VJSONArrayWriter::GetArray(VString& outText, bool inKeep)
{
    Close();
    outText = fText;
    if (!inKeep)
    {
        fText.FromCString("[]");
    }
}

} // namespace zorn
