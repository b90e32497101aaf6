// The object model's entries into the text writer: a value's JSON text and an object's
// description.
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"

namespace zorn
{

VError VJSONValue::Stringify(VString& outText, uint32_t inOptions) const
{
    VJSONWriter writer(inOptions);
    return writer.StringifyValue(*this, outText);
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
