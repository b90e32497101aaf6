#include "toolbox/kernel/values/VScalarValues.h"

#include <cstring>

namespace zorn
{

namespace
{

bool EqualsASCII(const VString& inText, const char* inASCII)
{
    size_t length = std::strlen(inASCII);
    if (inText.GetLength() < 0 || static_cast<size_t>(inText.GetLength()) != length)
    {
        return false;
    }
    const UniChar* units = inText.GetCPointer();
    for (size_t i = 0; i < length; ++i)
    {
        if (units[i] != static_cast<unsigned char>(inASCII[i]))
        {
            return false;
        }
    }
    return true;
}

} // namespace

const VEmpty_info& VEmpty::Info()
{
    static const VEmpty_info sInfo;
    return sInfo;
}

VValue* VEmpty::Clone() const
{
    VEmpty* copy = new VEmpty(*this);
    copy->SetDirty(true);
    return copy;
}

CompareResult VEmpty::CompareTo(const VValueSingle& inValue, bool) const
{
    return inValue.IsNull() ? CR_EQUAL : CR_SMALLER;
}

const VBoolean_info& VBoolean::Info()
{
    static const VBoolean_info sInfo;
    return sInfo;
}

bool VBoolean::FromXMLString(const VString& inValue)
{
    if (EqualsASCII(inValue, "1") || EqualsASCII(inValue, "true"))
    {
        FromBoolean(true);
        return true;
    }
    if (EqualsASCII(inValue, "0") || EqualsASCII(inValue, "false"))
    {
        FromBoolean(false);
        return true;
    }
    return false;
}

VError VBoolean::FromJSONString(const VString& inJSONString, JSONStringOptions)
{
    if (!FromXMLString(inJSONString))
    {
        FromBoolean(false);
    }
    return VE_OK;
}

const VByte_info& VByte::Info()
{
    static const VByte_info sInfo;
    return sInfo;
}

const VWord_info& VWord::Info()
{
    static const VWord_info sInfo;
    return sInfo;
}

const VLong_info& VLong::Info()
{
    static const VLong_info sInfo;
    return sInfo;
}

const VLong8_info& VLong8::Info()
{
    static const VLong8_info sInfo;
    return sInfo;
}

void VLong8::FromString(const VString& inValue)
{
    if (inValue.IsNull())
    {
        SetNull(true);
        return;
    }
    FromValue(inValue);
}

} // namespace zorn
