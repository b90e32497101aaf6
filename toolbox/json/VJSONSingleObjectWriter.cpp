#include "toolbox/json/VJSONSingleObjectWriter.h"

#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/values/VValue.h"

namespace zorn
{

VJSONSingleObjectWriter::VJSONSingleObjectWriter() : fText("{") {}

VJSONSingleObjectWriter::~VJSONSingleObjectWriter() = default;

bool VJSONSingleObjectWriter::AddMember(const VString& inName, const VValueSingle& inValue,
                                        uint32_t inOptions)
{
    VString value;
    if (inName.IsEmpty() || inValue.GetJSONString(value, inOptions) != VE_OK)
    {
        return false;
    }
    VString name;
    if (inName.GetJSONString(name, VJSONWriter::kQuoted |
                                       (inOptions & VJSONWriter::kEscapeAmpersandApostrophe)) != VE_OK)
    {
        return false;
    }
    if (fClosed)
    {
        const int32_t length = fText.GetLength();
        if (length > 0 && fText.GetUniChar(length) == '}')
        {
            fText.Truncate(length - 1);
        }
        fClosed = false;
    }
    if (fMemberCount > 0)
    {
        fText.AppendUniChar(',');
    }
    fText.AppendString(name);
    fText.AppendUniChar(':');
    fText.AppendString(value);
    ++fMemberCount;
    return true;
}

void VJSONSingleObjectWriter::GetObject(VString& outText)
{
    if (!fClosed)
    {
        fText.AppendUniChar('}');
        fClosed = true;
    }
    outText = fText;
}

} // namespace zorn
