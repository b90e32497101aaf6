// The compact JSON stream form on arbitrary bytes, through both of its readers: the binary reader
// itself, and JSON text whose only member "__PRIVATE_BINARY_OBJECT" holds the bytes in Base64
// (the text importer's decoding). Oracles:
// - nothing breaks (the sanitizers watch) and the two readers agree on the error;
// - round trip: a value read successfully is written, read again and written again: both writes
//   are the same bytes (which compares the values with their shared containers and cycles), and
//   the two values are deep-equal unless they hold a NaN (never equal to itself);
// - the value the text importer gives is written to the same bytes.
// Blob ('JBlb') and vector ('JVec') payloads come back as their native objects: a vector payload
// that is no whole number of doubles is refused with 'zorn' 3, and the rewrite compares payloads.
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBinaryImporter.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

VError Read(const void* inData, size_t inSize, VJSONValue& outValue)
{
    StErrorContextInstaller errors(false, true);
    VJSONBinaryImporter importer(inData, inSize);
    VError error = importer.GetValue(outValue);
    Check(error == VE_OK || error == VE_STREAM_EOF || error == VE_MEMORY_FULL ||
          error == VE_JSON_NESTING_TOO_DEEP || error == VE_INVALID_PARAMETER);
    return error;
}

// The bytes of the value; false when it is too deep to write.
bool Write(const VJSONValue& inValue, std::string& outBytes)
{
    StErrorContextInstaller errors(false, true);
    VJSONBinaryWriter::Buffer buffer;
    VJSONBinaryWriter writer;
    VError error = writer.StreamValue(inValue, buffer);
    Check(error == VE_OK || error == VE_JSON_NESTING_TOO_DEEP);
    outBytes.assign(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
    return error == VE_OK;
}

// Whether the bytes hold a number record that is a NaN; scanning every offset may find one that
// is not a record, which only skips the deep comparison.
bool MayHoldNaN(const std::string& inBytes)
{
    for (size_t i = 0; i + 9 <= inBytes.size(); ++i)
    {
        if (static_cast<uint8_t>(inBytes[i]) == 0x04)
        {
            double number = 0;
            std::memcpy(&number, inBytes.data() + i + 1, 8);
            if (std::isnan(number))
            {
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartTasks();
    VJSONValue value;
    VError error = Read(data, size, value);

    // The same bytes inside JSON text.
    VString base64;
    Check(base64.EncodeBase64(data, size));
    VString text("{\"__PRIVATE_BINARY_OBJECT\":\"");
    text.AppendString(base64);
    text.AppendCString("\"}");
    VJSONValue fromText;
    VError textError = VE_OK;
    {
        StErrorContextInstaller errors(false, true);
        textError = fromText.ParseFromString(text);
    }
    Check(textError == error || (size == 0 && textError == VE_OK));

    if (error == VE_OK)
    {
        std::string first;
        if (Write(value, first))
        {
            VJSONValue again;
            Check(Read(first.data(), first.size(), again) == VE_OK);
            std::string second;
            Check(Write(again, second));
            Check(first == second);
            Check(MayHoldNaN(first) || value.DeepEqualTo(again, VCompareOptions()));
            if (size != 0)
            {
                std::string third;
                Check(Write(fromText, third) && third == first);
            }
        }
    }
    return 0;
}
