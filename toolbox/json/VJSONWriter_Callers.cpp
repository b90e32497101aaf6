// The object model's entries into the text writer: a value's JSON text and an object's
// description.
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"

namespace zorn
{

VError VJSONValue::Stringify(VString& outText, uint32_t inOptions) const
{
    if ((inOptions & VJSONWriter::kBinaryFallback) == 0)
    {
        VJSONWriter writer(inOptions);
        return writer.StringifyValue(*this, outText);
    }
    // The text when it can carry the value: no binary natives, only generic objects, no container
    // twice; else the compact form, Base64-encoded, as the one member of an object.
    VJSONWriter writer(inOptions | VJSONWriter::kRefuseBinary | VJSONWriter::kGenericOnly |
                       VJSONWriter::kRefuseRepeats);
    StErrorContextInstaller errors;
    VError error = writer.StringifyValue(*this, outText);
    if (error != VE_JSON_CIRCULAR_ARRAY && error != VE_JSON_BINARY_OBJECT && error != VE_JSON_NOT_GENERIC &&
        error != VE_JSON_OBJECT_REPEATED)
    {
        return error;
    }
    errors.Flush();
    VJSONValue holder;
    if (error = VJSONBinaryObject::EncodeValue(*this, holder); error != VE_OK)
    {
        return error;
    }
    return writer.StringifyObject(holder.GetObject(), outText);
}

void VJSONObject::GetDescription(VString& outText, bool inTruncate, VDBLanguageContext* inContext) const
{
    if (fImplementation != nullptr &&
        fImplementation->IJSON_GetDescription(this, outText) != eJSONStatusNotHandled)
    {
        return;
    }
    VJSONWriter writer(inContext, VJSONWriter::kQuoted | (inTruncate ? VJSONWriter::kTruncate : 0));
    VString text;
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (writer.StringifyObject(this, text) == VE_OK)
    {
        outText = std::move(text);
    }
    else
    {
        outText.Clear();
    }
}

} // namespace zorn
