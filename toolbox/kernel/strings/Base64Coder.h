// Base64Coder: bytes to Base64 text and back (RFC 4648), in the standard alphabet or the URL-safe
// one, into a growable memory buffer whose block carries the tag 'memb'; and the text forms of a
// checksum (Base64 or lower-case hexadecimal).
//
// Choices made where several were possible:
// - Standard form: "=" padding; with a line length L >= 1 a CR LF pair goes between every L-th
//   group of four characters and the next (L counts groups: 19 gives lines of 76 characters), never
//   after the last group. URL form: no padding, no line breaks.
// - Decoding skips white space (space, tab, CR, LF) anywhere. Any other byte outside the alphabet
//   fails. Standard text must come in whole groups of four; "=" may only end the last group (one
//   or two of them), and nothing but white space may follow it. URL text has no "="; its last
//   group may hold 2 or 3 characters. A single leftover character fails in both.
// - Tails must be canonical in both alphabets: the bits that a short last group does not use
//   must be zero ("YWJ=" fails, "YWI=" gives "ab"), so every byte string has exactly one text.
// - Malformed text answers false without raising an error (the caller says what was wrong). A
//   failed allocation answers false; decoding also raises 'zorn' 100.
#pragma once

#include "toolbox/kernel/memory/VMemoryBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zorn
{

class VString;

class Base64Coder
{
public:
    static const char sBase64Alphabet[65];
    static const char sBase64URLAlphabet[65];
    // Byte to 6-bit value; 255 for a byte outside the alphabet.
    static const std::array<uint8_t, 256> sBase64Inverse;
    static const std::array<uint8_t, 256> sBase64URLInverse;
    // The white space that the decoders skip.
    static const char sBase64WhiteSpace[4];

    // Replaces the buffer's content with the encoding of the bytes. inLineLength counts groups of
    // four characters per line (0: one line) and applies to the standard form only. False only
    // when the output cannot be allocated; an empty input gives an empty buffer.
    static bool _Encode(const void* inBytes, size_t inSize, VMemoryBuffer<>& outBuffer, size_t inLineLength,
                        bool inURL);
    // Replaces the buffer's content with the decoded bytes. On failure the buffer is emptied,
    // unless inKeepOnFailure: it then holds the bytes decoded before the fault.
    static bool Decode(const void* inText, size_t inSize, VMemoryBuffer<>& outBuffer, bool inURL,
                       bool inKeepOnFailure = false);

    // The standard encoding without line breaks, as the whole content of the string.
    static void DO_EncodeChecksumBase64(const void* inBytes, size_t inSize, VString& outText);
    // Two lower-case hexadecimal digits a byte, high digit first.
    static void DO_EncodeChecksumHexa(const void* inBytes, size_t inSize, VString& outText);

    // The encoded size in bytes, line breaks included; 0 when it cannot be represented.
    static size_t GetEncodedSize(size_t inSize, size_t inLineLength, bool inURL);

private:
    static bool _DecodeBase64(const uint8_t* inText, size_t inSize, uint8_t* outBytes, size_t& outCount);
    static bool _DecodeBase64URL(const uint8_t* inText, size_t inSize, uint8_t* outBytes, size_t& outCount);
};

} // namespace zorn
