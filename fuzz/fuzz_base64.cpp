// Base64 decoding of arbitrary text in both alphabets. The first byte chooses the alphabet and a
// line length; the rest is the text. Whatever decodes must be the one canonical text of its bytes
// (the input without its white space), and every byte string must survive encoding and decoding.

#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/Base64Coder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        std::abort();
    }
}

std::string Content(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const bool url = (data[0] & 1) != 0;
    const size_t lineLength = (data[0] >> 1) % 8;
    ++data;
    --size;

    VMemoryBuffer<> decoded;
    if (Base64Coder::Decode(data, size, decoded, url))
    {
        VMemoryBuffer<> encoded;
        Check(Base64Coder::_Encode(decoded.GetDataPtr(), decoded.GetDataSize(), encoded, 0, url));
        std::string withoutSpace;
        for (size_t i = 0; i < size; ++i)
        {
            if (std::memchr(Base64Coder::sBase64WhiteSpace, data[i],
                            sizeof(Base64Coder::sBase64WhiteSpace)) == nullptr)
            {
                withoutSpace.push_back(static_cast<char>(data[i]));
            }
        }
        Check(Content(encoded) == withoutSpace);
    }

    // The input as bytes: encoded with line breaks, decoded back whole.
    VMemoryBuffer<> encoded;
    Check(Base64Coder::_Encode(data, size, encoded, lineLength, url));
    VMemoryBuffer<> back;
    Check(Base64Coder::Decode(encoded.GetDataPtr(), encoded.GetDataSize(), back, url));
    Check(back.GetDataSize() == size && (size == 0 || std::memcmp(back.GetDataPtr(), data, size) == 0));
    return 0;
}
