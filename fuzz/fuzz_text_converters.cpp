// Feeds arbitrary bytes through every character-set converter and back: whole-string decoding,
// decoding and encoding into small targets, encoding into grown blocks, the stack converter, the
// byte-order mark and encoding guesses, and line-ending conversion of strings and byte buffers.
// Beyond the sanitizers it checks that counts stay within their buffers and that well-formed
// Unicode text encodes back to exactly the bytes it came from, and that UTF-8's two decoding paths
// agree.

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/charsets/VUTF8Decoder.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/StStringConverter.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

std::vector<CharSet> AllCharSets()
{
    std::vector<CharSet> sets = {CharSet::VTC_StdLib_char, CharSet::VTC_UNKNOWN};
    for (int32_t value = 1; value <= 11; ++value)
    {
        sets.push_back(static_cast<CharSet>(value));
    }
    for (const detail::CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (static_cast<int32_t>(row->fCharSet) >= 100 && (sets.empty() || sets.back() != row->fCharSet))
        {
            sets.push_back(row->fCharSet);
        }
    }
    return sets;
}

// The sets whose well-formed text has exactly one byte form.
bool IsBijective(CharSet inCharSet)
{
    int32_t value = static_cast<int32_t>(inCharSet);
    return value >= 1 && value <= 7;
}

void ExerciseSet(CharSet inCharSet, const uint8_t* inData, size_t inSize)
{
    VTextConverters* converters = VTextConverters::Get();
    VRefPtr<VToUnicodeConverter> decoder(converters->RetainToUnicodeConverter(inCharSet), true);
    VRefPtr<VFromUnicodeConverter> encoder(converters->RetainFromUnicodeConverter(inCharSet), true);

    // Whole text into a string, then back.
    VString text;
    size_t consumed = 0;
    bool clean = decoder->ConvertString(inData, inSize, &consumed, text);
    Check(consumed <= inSize);
    void* block = nullptr;
    size_t blockSize = 0;
    size_t produced = 0;
    bool encoded =
        encoder->ConvertRealloc(text.GetCPointer(), text.GetLength(), block, blockSize, produced, 1);
    Check(produced + 1 <= blockSize || block == nullptr);
    if (clean && encoded && IsBijective(inCharSet))
    {
        Check(produced == inSize && (inSize == 0 || std::memcmp(block, inData, inSize) == 0));
    }
    VMemory::DisposePtr(block);

    // Small targets: every count stays within its buffer (exact-size heap blocks for ASan).
    std::vector<UniChar> units(7);
    int32_t unitCount = 0;
    decoder->Convert(inData, inSize, &consumed, units.data(), static_cast<int32_t>(units.size()), &unitCount);
    Check(consumed <= inSize && unitCount >= 0 && unitCount <= static_cast<int32_t>(units.size()));
    std::vector<char> bytes(5);
    int32_t unitsConsumed = 0;
    encoder->Convert(text.GetCPointer(), text.GetLength(), &unitsConsumed, bytes.data(), bytes.size(),
                     &produced);
    Check(unitsConsumed >= 0 && unitsConsumed <= text.GetLength() && produced <= bytes.size());

    VMemoryBuffer<> buffer;
    text.ToBuffer(buffer, inCharSet);
    VString::ConvertCarriageReturns(buffer, inCharSet, static_cast<ECarriageReturnMode>(1 + inSize % 4));
    Check(buffer.GetDataSize() <= buffer.GetAllocatedSize());

    StStringConverter<char> stack(inCharSet, eCRM_CRLF);
    const char* output = stack.ConvertString(text);
    Check(output != nullptr && output[stack.GetSize()] == 0);

    char small[9];
    size_t written = text.ToBlock(small, sizeof(small), inCharSet, true, true);
    Check(written <= sizeof(small));
}

// UTF-8's block path against its character path, with the room of the whole text and with a
// short room: the same units, consumed count and verdict.
void CompareUTF8Paths(const uint8_t* inData, size_t inSize)
{
    for (size_t room : {inSize, inSize / 3})
    {
        std::vector<UniChar> blocks(room);
        std::vector<UniChar> characters(room);
        const uint8_t* blockSource = inData;
        const uint8_t* characterSource = inData;
        UniChar* blockTarget = blocks.data();
        UniChar* characterTarget = characters.data();
        bool blockClean =
            VUTF8Decoder::Decode(blockSource, inData + inSize, blockTarget, blocks.data() + room);
        bool characterClean = VUTF8Decoder::DecodeByCharacters(characterSource, inData + inSize,
                                                               characterTarget, characters.data() + room);
        const auto produced = static_cast<size_t>(blockTarget - blocks.data());
        Check(blockClean == characterClean && blockSource == characterSource &&
              produced == static_cast<size_t>(characterTarget - characters.data()) &&
              std::equal(blocks.data(), blockTarget, characters.data()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CompareUTF8Paths(data, size);
    static const std::vector<CharSet> sSets = AllCharSets();
    for (CharSet charSet : sSets)
    {
        ExerciseSet(charSet, data, size);
    }

    size_t markSize = 0;
    CharSet marked = CharSet::VTC_UNKNOWN;
    VTextConverters::ParseBOM(data, size, markSize, marked);
    Check(markSize <= size);
    CharSet guessed = CharSet::VTC_ISO_8859_1;
    VTextConverters::GuessCharsetWithNoBom(data, size, guessed, true);
    VTextConverters::DetectUTF8(data, size);

    VString text;
    text.FromBlockWithOptionalBOM(data, size, CharSet::VTC_MacRoman);
    for (ECarriageReturnMode mode : {eCRM_CRLF, eCRM_CR, eCRM_LF})
    {
        VString copy(text);
        copy.ConvertCarriageReturns(mode);
        Check(copy.GetCarriageReturnMode(mode) == mode);
    }
    return 0;
}
