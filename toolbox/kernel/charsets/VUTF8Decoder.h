// UTF-8 to UTF-16, the decoding behind VToUnicodeConverter_UTF8 and VString::FromBlock.
//
// Two paths with one result:
// - the character path, one character at a time (runs of ASCII by vectors), which alone decides
//   what is malformed and what a malformed piece becomes;
// - the block path, on processors with AVX2 (asked once at run time; the build targets plain
//   x86-64): 32 bytes at a time, classified with vector compares, checked as a whole and decoded
//   in 16-bit lanes that are then packed by shuffles. It takes only blocks of well-formed one-,
//   two- and three-byte characters; any other block (four-byte characters, anything malformed, a
//   sequence cut by the end of the source) goes to the character path for its bytes, and for
//   twice as many after each refusal in a row. The last bytes of the source are decoded as the
//   end of a block of its last 32 bytes (or from a padded copy when the source is shorter), so
//   short pieces such as lines take the block path too; nothing past the source is read.
// The rules are those of VUnicodeConverters.h: each maximal ill-formed subsequence becomes one
// '?', and a valid but incomplete sequence at the end of the source is left unconsumed.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VUTF8Decoder
{
public:
    // Decodes from ioSource up to inEnd into ioTarget up to inTargetEnd, advancing both; stops
    // early when the target is full or at an incomplete last sequence. Each malformed piece
    // becomes inSubstitute ('?' for the converters; U+FFFD gives ICU's u_strFromUTF8WithSub,
    // once an incomplete last sequence is taken as one more piece). False when a malformed piece
    // was replaced.
    static bool Decode(const uint8_t*& ioSource, const uint8_t* inEnd, UniChar*& ioTarget,
                       UniChar* inTargetEnd, UniChar inSubstitute = u'?');

    // The same by the character path alone: the path of processors without AVX2, and the
    // reference that the block path is tested against.
    static bool DecodeByCharacters(const uint8_t*& ioSource, const uint8_t* inEnd, UniChar*& ioTarget,
                                   UniChar* inTargetEnd, UniChar inSubstitute = u'?');

    // Whether Decode takes the block path on this processor.
    static bool HasBlockPath();
};

} // namespace zorn
