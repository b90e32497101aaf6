#include "toolbox/kernel/strings/Base64Coder.h"

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <array>
#include <bit>
#include <cstring>

namespace zorn
{

namespace
{

constexpr std::array<uint8_t, 256> MakeInverse(const char* inAlphabet)
{
    std::array<uint8_t, 256> table{};
    for (auto& entry : table)
    {
        entry = 255;
    }
    for (uint8_t value = 0; value < 64; ++value)
    {
        table[static_cast<uint8_t>(inAlphabet[value])] = value;
    }
    return table;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kURLAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool IsBase64Space(uint8_t inByte)
{
    return inByte == ' ' || inByte == '\t' || inByte == '\r' || inByte == '\n';
}

// Writes the bytes of a last group of 2 or 3 characters; false when the bits it leaves unused
// are not zero (such text would not be the encoding of any byte string).
bool EmitTail(const uint8_t* inValues, int inCount, uint8_t* outBytes, size_t& ioCount)
{
    if (inCount == 2)
    {
        if ((inValues[1] & 0x0F) != 0)
        {
            return false;
        }
        outBytes[ioCount++] = static_cast<uint8_t>((inValues[0] << 2) | (inValues[1] >> 4));
        return true;
    }
    if ((inValues[2] & 0x03) != 0)
    {
        return false;
    }
    outBytes[ioCount++] = static_cast<uint8_t>((inValues[0] << 2) | (inValues[1] >> 4));
    outBytes[ioCount++] = static_cast<uint8_t>((inValues[1] << 4) | (inValues[2] >> 2));
    return true;
}

// The decoder of both alphabets. outBytes has room for (inSize / 4) * 3 + 3 bytes; outCount is
// the count decoded so far, also on failure.
bool DecodeText(const uint8_t* inText, size_t inSize, uint8_t* outBytes, size_t& outCount,
                const std::array<uint8_t, 256>& inInverse, bool inURL)
{
    outCount = 0;
    uint8_t group[4];
    int have = 0;
    size_t i = 0;
    while (i < inSize)
    {
        if (have == 0)
        {
            // Whole groups of four alphabet characters, the bulk of any text.
            while (inSize - i >= 4)
            {
                uint8_t a = inInverse[inText[i]];
                uint8_t b = inInverse[inText[i + 1]];
                uint8_t c = inInverse[inText[i + 2]];
                uint8_t d = inInverse[inText[i + 3]];
                if (((a | b | c | d) & 0x80) != 0)
                {
                    break;
                }
                // Four bytes stored at once, the fourth overwritten by the next group: the room
                // the caller gives has three spare bytes.
                uint32_t bits =
                    (uint32_t{a} << 26) | (uint32_t{b} << 20) | (uint32_t{c} << 14) | (uint32_t{d} << 8);
                if constexpr (std::endian::native == std::endian::little)
                {
                    bits = __builtin_bswap32(bits);
                }
                std::memcpy(outBytes + outCount, &bits, 4);
                outCount += 3;
                i += 4;
            }
            if (i == inSize)
            {
                break;
            }
        }
        uint8_t byte = inText[i++];
        uint8_t value = inInverse[byte];
        if (value != 255)
        {
            group[have++] = value;
            if (have == 4)
            {
                uint32_t bits = (uint32_t{group[0]} << 18) | (uint32_t{group[1]} << 12) |
                                (uint32_t{group[2]} << 6) | group[3];
                outBytes[outCount++] = static_cast<uint8_t>(bits >> 16);
                outBytes[outCount++] = static_cast<uint8_t>(bits >> 8);
                outBytes[outCount++] = static_cast<uint8_t>(bits);
                have = 0;
            }
            continue;
        }
        if (IsBase64Space(byte))
        {
            continue;
        }
        if (byte != '=' || inURL || have < 2)
        {
            return false;
        }
        // Padding: it completes the group, and only white space may follow it.
        int pads = 1;
        while (i < inSize)
        {
            byte = inText[i++];
            if (byte == '=' && pads < 4 - have)
            {
                ++pads;
            }
            else if (!IsBase64Space(byte))
            {
                return false;
            }
        }
        return pads == 4 - have && EmitTail(group, have, outBytes, outCount);
    }
    if (have == 0)
    {
        return true;
    }
    return inURL && have >= 2 && EmitTail(group, have, outBytes, outCount);
}

} // namespace

const char Base64Coder::sBase64Alphabet[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char Base64Coder::sBase64URLAlphabet[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const char Base64Coder::sBase64WhiteSpace[4] = {' ', '\t', '\r', '\n'};

// Constant-initialised: usable from static initialisers of other files.
const std::array<uint8_t, 256> Base64Coder::sBase64Inverse = MakeInverse(kAlphabet);
const std::array<uint8_t, 256> Base64Coder::sBase64URLInverse = MakeInverse(kURLAlphabet);

size_t Base64Coder::GetEncodedSize(size_t inSize, size_t inLineLength, bool inURL)
{
    if (inSize > SIZE_MAX / 2)
    {
        return 0;
    }
    size_t fullGroups = inSize / 3;
    size_t rest = inSize % 3;
    size_t size = fullGroups * 4 + (rest == 0 ? 0 : (inURL ? rest + 1 : 4));
    size_t groups = fullGroups + (rest == 0 ? 0 : 1);
    if (!inURL && inLineLength >= 1 && groups > 0)
    {
        size += 2 * ((groups - 1) / inLineLength);
    }
    return size;
}

bool Base64Coder::_Encode(const void* inBytes, size_t inSize, VMemoryBuffer<>& outBuffer, size_t inLineLength,
                          bool inURL)
{
    outBuffer.SetDataSize(0);
    if (inSize == 0)
    {
        return true;
    }
    size_t size = GetEncodedSize(inSize, inLineLength, inURL);
    if (size == 0 || (outBuffer.GetAllocatedSize() < size && !outBuffer.SetAllocatedSize(size)))
    {
        return false;
    }
    const char* alphabet = inURL ? kURLAlphabet : kAlphabet;
    const uint8_t* s = static_cast<const uint8_t*>(inBytes);
    char* d = static_cast<char*>(outBuffer.GetDataPtr());
    size_t fullGroups = inSize / 3;
    size_t groups = fullGroups + (inSize % 3 == 0 ? 0 : 1);
    size_t lineLength = inURL ? 0 : inLineLength;
    for (size_t g = 0; g < fullGroups; ++g)
    {
        uint32_t bits = (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2];
        d[0] = alphabet[bits >> 18];
        d[1] = alphabet[(bits >> 12) & 0x3F];
        d[2] = alphabet[(bits >> 6) & 0x3F];
        d[3] = alphabet[bits & 0x3F];
        s += 3;
        d += 4;
        if (lineLength != 0 && (g + 1) % lineLength == 0 && g + 1 < groups)
        {
            *d++ = '\r';
            *d++ = '\n';
        }
    }
    size_t rest = inSize % 3;
    if (rest != 0)
    {
        uint32_t bits = (uint32_t{s[0]} << 16) | (rest == 2 ? uint32_t{s[1]} << 8 : 0);
        *d++ = alphabet[bits >> 18];
        *d++ = alphabet[(bits >> 12) & 0x3F];
        if (rest == 2)
        {
            *d++ = alphabet[(bits >> 6) & 0x3F];
        }
        else if (!inURL)
        {
            *d++ = '=';
        }
        if (!inURL)
        {
            *d++ = '=';
        }
    }
    outBuffer.SetDataSize(size);
    return true;
}

bool Base64Coder::Decode(const void* inText, size_t inSize, VMemoryBuffer<>& outBuffer, bool inURL,
                         bool inKeepOnFailure)
{
    outBuffer.SetDataSize(0);
    if (inSize == 0)
    {
        return true;
    }
    size_t room = (inSize / 4) * 3 + 3;
    if (outBuffer.GetAllocatedSize() < room && !outBuffer.SetAllocatedSize(room))
    {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    const uint8_t* text = static_cast<const uint8_t*>(inText);
    uint8_t* bytes = static_cast<uint8_t*>(outBuffer.GetDataPtr());
    size_t count = 0;
    bool ok =
        inURL ? _DecodeBase64URL(text, inSize, bytes, count) : _DecodeBase64(text, inSize, bytes, count);
    outBuffer.SetDataSize(ok || inKeepOnFailure ? count : 0);
    return ok;
}

bool Base64Coder::_DecodeBase64(const uint8_t* inText, size_t inSize, uint8_t* outBytes, size_t& outCount)
{
    return DecodeText(inText, inSize, outBytes, outCount, sBase64Inverse, false);
}

bool Base64Coder::_DecodeBase64URL(const uint8_t* inText, size_t inSize, uint8_t* outBytes, size_t& outCount)
{
    return DecodeText(inText, inSize, outBytes, outCount, sBase64URLInverse, true);
}

void Base64Coder::DO_EncodeChecksumBase64(const void* inBytes, size_t inSize, VString& outText)
{
    outText.Clear();
    outText.EncodeBase64(inBytes, inSize, false);
}

void Base64Coder::DO_EncodeChecksumHexa(const void* inBytes, size_t inSize, VString& outText)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    outText.Clear();
    if (inSize > static_cast<size_t>(INT32_MAX) / 2)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    int32_t length = static_cast<int32_t>(inSize * 2);
    UniChar* units = outText.GetCPointerForWrite(length);
    if (units == nullptr)
    {
        return;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(inBytes);
    for (size_t i = 0; i < inSize; ++i)
    {
        units[2 * i] = static_cast<UniChar>(kDigits[bytes[i] >> 4]);
        units[2 * i + 1] = static_cast<UniChar>(kDigits[bytes[i] & 0x0F]);
    }
    outText.Validate(length);
}

} // namespace zorn
