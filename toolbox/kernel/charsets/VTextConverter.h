// The two converter interfaces between bytes in a character set and the toolbox's UTF-16 text.
//
// A converter is reference-counted and starts with a count of 1. Converters shared by
// VTextConverters hold no state between calls and may be used from any thread at once; the others
// belong to whoever retained them. Every call converts a self-contained piece of text: a
// converter for a stateful encoding (UTF-7, ISO-2022-JP) starts each call in its initial state.
//
// Results are booleans: true when the whole source was converted without substitution. A
// conversion stops early, and says so through its consumed count, when the target is full or when
// the source ends inside a multi-unit sequence; it goes on past a malformed or unmappable
// character after writing a substitute. Only allocation failures raise errors ('zorn' 300).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VCppMemMgr;
class VString;
template <size_t kGranularity, size_t kDivisor, size_t kMaxIncrement, class TMemMgr>
class VMemoryBuffer;

class VToUnicodeConverter : public VObject, public IRefCountable
{
public:
    // False for a converter that cannot convert anything (a set with no converter).
    virtual bool IsValid() const { return true; }

    // Replaces ioString's text with the decoded bytes. outConsumed (may be null) receives the
    // bytes decoded. When the string cannot be given the room, raises 'zorn' 300 with the text
    // "conversion failed (EnsureSize failed)." and answers false.
    virtual bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                               VString& ioString);

    // Decodes into at most inMaxUnits units at outTarget. Both counts out may be null.
    virtual bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                         int32_t inMaxUnits, int32_t* outProduced) = 0;

    // Bytes of the smallest source character.
    virtual int32_t GetCharSize() const { return 1; }

protected:
    // The most units that inSourceBytes bytes can decode to: one per character of GetCharSize
    // bytes, or a surrogate pair for a four-byte character.
    virtual size_t GetMaxUnits(size_t inSourceBytes) const;
};

class VFromUnicodeConverter : public VObject, public IRefCountable
{
public:
    virtual bool IsValid() const { return true; }

    // Encodes into at most inMaxBytes bytes at outTarget, stopping before a character whose bytes
    // do not fit. Both counts out may be null.
    virtual bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed,
                         void* outTarget, size_t inMaxBytes, size_t* outProduced) = 0;

    // The most bytes that one UTF-16 unit can encode to.
    virtual int32_t GetCharSize() const { return 1; }

    // Encodes all the units into a block of the memory manager: ioBuffer is null or such a block
    // of ioBufferSize bytes, reallocated when the text and inTrailingBytes more bytes may not fit
    // (ioBuffer and ioBufferSize then describe the new block). outProduced receives the bytes of
    // text. When memory runs out, raises 'zorn' 300 with "mem failure" and answers false with the
    // block untouched.
    bool ConvertRealloc(const UniChar* inSource, int32_t inSourceUnits, void*& ioBuffer, size_t& ioBufferSize,
                        size_t& outProduced, size_t inTrailingBytes = 0);

    // Appends the encoded units to the buffer's data (VMemoryBuffer<>), growing it. Unlike the
    // other conversions it answers whether the whole text was written, substitutes included:
    // false only for a converter that cannot convert, or when memory runs out ('zorn' 300 with
    // "mem failure", the buffer's data untouched).
    bool ConvertToBuffer(const UniChar* inSource, int32_t inSourceUnits,
                         VMemoryBuffer<1024, 2, 1048576, VCppMemMgr>& ioBuffer);

protected:
    // Room that always holds the encoding of inSourceUnits units.
    size_t GetMaxBytes(int32_t inSourceUnits) const;
};

} // namespace zorn
