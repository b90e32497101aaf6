// VJSONBinaryObject: the "__PRIVATE_BINARY_OBJECT" member, by which JSON text carries a value
// written in the compact stream form, Base64-encoded. Writers make that member here
// (EncodeValue), and the readers of JSON text (the importer, the value bag's JSON form) decode it
// here alone, with the compact stream reader
// (VJSONBinaryImporter::ReadValue) unless another reader was registered; with none registered
// (RegisterReader(nullptr)) nothing is decoded and the object stays as read.
//
// Choices: text that is not Base64 (standard alphabet, RFC 4648) is not a compact form and is
// left as read, without an error; the reader's own error is the decoding's result.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <atomic>
#include <cstddef>

namespace zorn
{

class VJSONValue;
class VString;

class VJSONBinaryObject
{
public:
    static constexpr const char16_t* sPropertyName = u"__PRIVATE_BINARY_OBJECT";

    // Reads the value of a compact stream form; returns its error (pushed by the reader).
    using Reader = VError (*)(const void* inBytes, size_t inSize, VJSONValue& outValue);
    static void RegisterReader(Reader inReader) { sReader.store(inReader, std::memory_order_release); }
    static Reader GetReader() { return sReader.load(std::memory_order_acquire); }

    // The value of the Base64 text: *outDecoded true with the reader's value in outValue (and
    // VE_OK), or the reader's error; false, outValue untouched, when there is no reader or the
    // text is not Base64.
    static VError DecodeText(const VString& inBase64, VJSONValue& outValue, bool* outDecoded);
    // A new object (outObject) whose one member carries the value: its compact stream form
    // (VJSONBinaryWriter with option 64), Base64-encoded. The stream writer's error, or 'zorn' 100
    // when the text cannot be made.
    static VError EncodeValue(const VJSONValue& inValue, VJSONValue& outObject);

private:
    static std::atomic<Reader> sReader;
};

} // namespace zorn
