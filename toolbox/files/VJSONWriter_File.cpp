// The file forms of the JSON writer, built here because they need files.
#include "toolbox/files/IFile.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

VError VJSONWriter::StringifyValueToFile(IFile* inFile, const VJSONValue& inValue, uint32_t inOptions)
{
    if (inFile == nullptr)
    {
        return VE_OK;
    }
    VString text;
    VJSONWriter writer(inOptions);
    VError code = writer.StringifyValue(inValue, text);
    if (code != VE_OK)
    {
        // Nothing is written: the file keeps what it held.
        return code;
    }
    return inFile->SetContentAsString(text, CharSet::VTC_UTF_8, eCRM_NONE, false);
}

VError VJSONValue::SaveToFile(IFile* inFile, uint32_t inOptions) const
{
    return VJSONWriter::StringifyValueToFile(inFile, *this, inOptions);
}

} // namespace zorn
