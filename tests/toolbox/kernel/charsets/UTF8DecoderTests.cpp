// The UTF-8 decoder's block path against its character path: every malformed or unusual piece at
// every byte position around the 32-byte blocks and the source's end, in exact-size buffers (so that
// the sanitizer sees any read past the source), with room to spare and with short room.

#include "tests/StringTestSupport.h"
#include "toolbox/kernel/charsets/VUTF8Decoder.h"

#include <gtest/gtest.h>

#include <unicode/ustring.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

using test::Hex;

struct Decoded
{
    bool fClean = false;
    size_t fConsumed = 0;
    std::vector<UniChar> fUnits;

    bool operator==(const Decoded&) const = default;
};

// Decodes inBytes from a heap block of exactly its size into exactly inRoom units.
Decoded DecodeExact(const std::string& inBytes, size_t inRoom, bool inByCharacters)
{
    std::unique_ptr<uint8_t[]> source(new uint8_t[inBytes.size()]);
    if (!inBytes.empty())
    {
        std::memcpy(source.get(), inBytes.data(), inBytes.size());
    }
    std::unique_ptr<UniChar[]> target(new UniChar[inRoom]);
    const uint8_t* s = source.get();
    UniChar* d = target.get();
    Decoded result;
    result.fClean =
        inByCharacters
            ? VUTF8Decoder::DecodeByCharacters(s, source.get() + inBytes.size(), d, target.get() + inRoom)
            : VUTF8Decoder::Decode(s, source.get() + inBytes.size(), d, target.get() + inRoom);
    result.fConsumed = static_cast<size_t>(s - source.get());
    result.fUnits.assign(target.get(), d);
    return result;
}

// Both paths give the same units, consumed count and verdict, with the room of the whole text and
// with a third of it.
void ExpectSamePaths(const std::string& inBytes, const char* inWhat)
{
    for (size_t room : {inBytes.size(), inBytes.size() / 3})
    {
        const Decoded blocks = DecodeExact(inBytes, room, false);
        const Decoded characters = DecodeExact(inBytes, room, true);
        ASSERT_EQ(blocks, characters) << inWhat << ", room " << room << ": " << Hex(inBytes);
    }
}

struct Piece
{
    const char* fWhat;
    std::string fBytes;
};

const std::vector<Piece>& Pieces()
{
    static const std::vector<Piece> sPieces = {
        {"smallest two-byte character", "\xC2\x80"},
        {"largest two-byte character", "\xDF\xBF"},
        {"smallest three-byte character", "\xE0\xA0\x80"},
        {"last character before the surrogates", "\xED\x9F\xBF"},
        {"first character after the surrogates", "\xEE\x80\x80"},
        {"largest three-byte character", "\xEF\xBF\xBF"},
        {"four-byte character", "\xF0\x9F\x98\x80"},
        {"largest code point", "\xF4\x8F\xBF\xBF"},
        {"overlong two-byte form (C0)", "\xC0\xAF"},
        {"overlong two-byte form (C1)", "\xC1\xBF"},
        {"overlong three-byte form", "\xE0\x9F\xBF"},
        {"overlong three-byte form of zero", "\xE0\x80\x80"},
        {"encoded high surrogate", "\xED\xA0\x80"},
        {"encoded low surrogate", "\xED\xBF\xBF"},
        {"overlong four-byte form", "\xF0\x8F\xBF\xBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"FF byte", "\xFF"},
        {"stray continuation byte", "\x80"},
        {"two stray continuation bytes", "\xBF\x80"},
        {"two-byte lead alone", "\xC3"},
        {"three-byte lead and one continuation", "\xE6\x96"},
        {"four-byte lead and two continuations", "\xF0\x9F\x98"},
        {"lead followed by a lead", "\xE6\xE6\x96\x87"},
        {"three-byte character cut by ASCII", "\xE6\x96"
                                              "a"},
    };
    return sPieces;
}

// Every piece at every byte position of texts of 0 to 36, 62 to 68 and 126 to 132 bytes (across
// the first, second and third block, the 64-byte widening steps and the source's end), in ASCII,
// accented, CJK and mixed surroundings. Where the piece cuts a surrounding character, the cut
// makes one more malformed case.
TEST(UTF8Decoder, BlocksAgreeWithCharactersAtEveryPosition)
{
    const struct
    {
        const char* fWhat;
        std::vector<std::string> fCycle;
    } fills[] = {
        {"in ASCII", {"x"}},
        {"in accented text", {"\xC3\xA9"}},
        {"in CJK", {"\xE6\x96\x87"}},
        {"in CJK with spaces", {"\xE6\x96\x87", "\xE5\xAD\x97", " "}},
    };
    for (const auto& fill : fills)
    {
        for (size_t length = 0; length <= 132; length = length == 36 ? 62 : length == 68 ? 126 : length + 1)
        {
            std::string text;
            for (size_t i = 0; text.size() < length; ++i)
            {
                text += fill.fCycle[i % fill.fCycle.size()];
            }
            text.resize(length);
            for (const Piece& piece : Pieces())
            {
                for (size_t position = 0; position <= length; ++position)
                {
                    std::string bytes = text;
                    bytes.insert(position, piece.fBytes);
                    ExpectSamePaths(bytes, piece.fWhat);
                    if (HasFatalFailure())
                    {
                        ADD_FAILURE() << fill.fWhat << ", at " << position << " of " << length;
                        return;
                    }
                }
            }
        }
    }
}

// Random mixes of the pieces with runs of ASCII long enough for the 32-byte widening, some with a
// random byte overwritten.
TEST(UTF8Decoder, BlocksAgreeWithCharactersOnRandomText)
{
    std::mt19937 random(2024);
    std::vector<std::string> parts = {"a",
                                      "bc",
                                      "\xC3\xA9",
                                      "\xE6\x96\x87",
                                      "\xF0\x9F\x98\x80",
                                      std::string(40, 'w'),
                                      std::string(70, 'k')};
    for (const Piece& piece : Pieces())
    {
        parts.push_back(piece.fBytes);
    }
    for (int round = 0; round < 10000; ++round)
    {
        std::string bytes;
        const size_t length = random() % 200;
        while (bytes.size() < length)
        {
            // The valid parts far more often than the malformed ones.
            size_t index = random() % 4 != 0 ? random() % 7 : random() % parts.size();
            bytes += parts[index];
        }
        if (random() % 4 == 0 && !bytes.empty())
        {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        ExpectSamePaths(bytes, "random text");
        if (HasFatalFailure())
        {
            return;
        }
    }
}

// Well-formed text across the block edges decodes to its code points (not only to what the
// character path gives).
TEST(UTF8Decoder, WellFormedTextDecodes)
{
    std::string bytes;
    std::u16string expected;
    for (int i = 0; i < 50; ++i)
    {
        bytes += "a\xC3\xA9\xE6\x96\x87\xF0\x9F\x98\x80 ";
        expected += u"aé文\U0001F600 ";
    }
    for (size_t cut = 0; cut <= bytes.size(); cut += 7)
    {
        const Decoded decoded = DecodeExact(bytes.substr(0, cut), cut, false);
        const Decoded reference = DecodeExact(bytes.substr(0, cut), cut, true);
        ASSERT_EQ(decoded, reference) << cut;
    }
    const Decoded whole = DecodeExact(bytes, bytes.size(), false);
    EXPECT_TRUE(whole.fClean);
    EXPECT_EQ(whole.fConsumed, bytes.size());
    EXPECT_EQ(std::u16string(whole.fUnits.begin(), whole.fUnits.end()), expected);
}

// With U+FFFD as the substitute, and an incomplete last sequence taken as one more malformed
// piece, the decoding is ICU's u_strFromUTF8WithSub: what a reader that wants U+FFFD (JSON text)
// can take instead of a loop of its own.
TEST(UTF8Decoder, UnicodeSubstituteGivesICUsDecoding)
{
    std::mt19937 random(99);
    std::vector<std::string> parts = {"a", "\xC3\xA9", "\xE6\x96\x87", "\xF0\x9F\x98\x80",
                                      std::string(40, 'w')};
    for (const Piece& piece : Pieces())
    {
        parts.push_back(piece.fBytes);
    }
    for (int round = 0; round < 5000; ++round)
    {
        std::string bytes;
        const size_t length = random() % 120;
        while (bytes.size() < length)
        {
            bytes += parts[random() % parts.size()];
        }
        std::vector<UniChar> units(bytes.size() + 1);
        const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
        const uint8_t* const end = s + bytes.size();
        UniChar* d = units.data();
        bool clean = VUTF8Decoder::Decode(s, end, d, units.data() + units.size(), 0xFFFD);
        if (s != end)
        {
            *d++ = 0xFFFD;
            clean = false;
        }
        std::vector<UChar> icu(bytes.size() + 1);
        int32_t icuLength = 0;
        int32_t substitutions = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(icu.data(), static_cast<int32_t>(icu.size()), &icuLength, bytes.data(),
                             static_cast<int32_t>(bytes.size()), 0xFFFD, &substitutions, &status);
        ASSERT_TRUE(U_SUCCESS(status));
        ASSERT_EQ(std::u16string(units.data(), d), std::u16string(icu.data(), icu.data() + icuLength))
            << Hex(bytes);
        ASSERT_EQ(clean, substitutions == 0) << Hex(bytes);
    }
}

} // namespace
