#include "toolbox/json/VJSONBinaryObject.h"

#include "toolbox/json/VJSONBinaryImporter.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/strings/Base64Coder.h"
#include "toolbox/kernel/strings/VString.h"

#include <string>

namespace zorn
{

std::atomic<VJSONBinaryObject::Reader> VJSONBinaryObject::sReader{&VJSONBinaryImporter::ReadValue};

VError VJSONBinaryObject::DecodeText(const VString& inBase64, VJSONValue& outValue, bool* outDecoded)
{
    *outDecoded = false;
    Reader reader = GetReader();
    if (reader == nullptr)
    {
        return VE_OK;
    }
    // Base64 is ASCII: a wider unit cannot belong to it, and its byte (0xFF) is outside the
    // alphabet, so the decoder refuses it.
    std::string bytes(static_cast<size_t>(inBase64.GetLength()), '\0');
    const UniChar* units = inBase64.GetCPointer();
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        bytes[i] = units[i] < 0x80 ? static_cast<char>(units[i]) : '\xFF';
    }
    VMemoryBuffer<> decoded;
    if (!Base64Coder::Decode(bytes.data(), bytes.size(), decoded, false))
    {
        return VE_OK;
    }
    VJSONValue value;
    VError error = reader(decoded.GetDataPtr(), decoded.GetDataSize(), value);
    if (error == VE_OK)
    {
        outValue = std::move(value);
        *outDecoded = true;
    }
    return error;
}

VError VJSONBinaryObject::EncodeValue(const VJSONValue& inValue, VJSONValue& outObject)
{
    VJSONBinaryWriter::Buffer bytes;
    VJSONBinaryWriter writer(64);
    if (VError error = writer.StreamValue(inValue, bytes); error != VE_OK)
    {
        return error;
    }
    VString base64;
    if (!base64.EncodeBase64(bytes.GetDataPtr(), bytes.GetDataSize()))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    VJSONObject* holder = new VJSONObject();
    holder->SetProperty(VString(reinterpret_cast<const UniChar*>(sPropertyName)), VJSONValue(base64));
    outObject.AdoptObject(holder);
    return VE_OK;
}

} // namespace zorn
