#include "tests/StringTestSupport.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/StStringConverter.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace zorn;
using zorn::test::Text;

namespace
{

VString Str(const std::u16string& inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

std::string Bytes(std::initializer_list<int> inBytes)
{
    std::string bytes;
    for (int b : inBytes)
    {
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

std::string Content(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

void Fill(VMemoryBuffer<>& ioBuffer, const std::string& inBytes)
{
    ASSERT_TRUE(ioBuffer.AddData(inBytes.data(), inBytes.size()));
}

TEST(StringConvert, FromBlockWithOptionalBOM)
{
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
        CharSet fGiven;
        CharSet fUsed;
        std::u16string fText;
    };
    const Row rows[] = {
        {"UTF-8 mark skipped",
         "\xEF\xBB\xBF"
         "caf\xC3\xA9",
         CharSet::VTC_ISO_8859_1, CharSet::VTC_UTF_8, u"café"},
        {"UTF-32 LE mark before UTF-16 LE", Bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00}),
         CharSet::VTC_UTF_8, CharSet::VTC_UTF_32, u"A"},
        {"UTF-16 LE mark", Bytes({0xFF, 0xFE, 0x41, 0x00}), CharSet::VTC_UTF_8, CharSet::VTC_UTF_16, u"A"},
        {"UTF-16 BE mark", Bytes({0xFE, 0xFF, 0x00, 0x41, 0x00, 0xE9}), CharSet::VTC_UTF_8,
         CharSet::VTC_UTF_16_BIGENDIAN, u"Aé"},
        {"unmarked UTF-16 LE guessed", std::string("h\0i\0", 4), CharSet::VTC_UTF_8, CharSet::VTC_UTF_16,
         u"hi"},
        {"unmarked UTF-8 guessed", "\xC3\xA9t\xC3\xA9", CharSet::VTC_ISO_8859_1, CharSet::VTC_UTF_8, u"été"},
        {"no guess: the given set", "\xE9t\xE9", CharSet::VTC_ISO_8859_1, CharSet::VTC_ISO_8859_1, u"été"},
    };
    for (const Row& row : rows)
    {
        VString text;
        EXPECT_EQ(text.FromBlockWithOptionalBOM(row.fBytes.data(), row.fBytes.size(), row.fGiven), row.fUsed)
            << row.fWhat;
        EXPECT_EQ(Text(text), row.fText) << row.fWhat;
    }
}

TEST(StringConvert, BlocksAndCStrings)
{
    VString text(CVSTR("old"));
    EXPECT_TRUE(text.FromBlock("new", 3, CharSet::VTC_UTF_8));
    EXPECT_EQ(Text(text), u"new");
    EXPECT_TRUE(text.AppendBlock("\xE9", 1, CharSet::VTC_ISO_8859_1));
    EXPECT_TRUE(text.AppendBlock("\x00\x21", 2, CharSet::VTC_UTF_16_BIGENDIAN));
    EXPECT_EQ(Text(text), u"newé!");
    EXPECT_FALSE(text.AppendBlock("\xC0\xAF", 2, CharSet::VTC_UTF_8));
    EXPECT_EQ(Text(text), u"newé!??");

    // Set 2 is copied unit by unit; a trailing half unit is reported.
    const char16_t units[] = u"\xD83D\xDE00x";
    EXPECT_TRUE(text.FromBlock(units, 6, CharSet::VTC_UTF_16));
    EXPECT_EQ(Text(text), u"\xD83D\xDE00x");
    EXPECT_FALSE(text.FromBlock(units, 5, CharSet::VTC_UTF_16));
    EXPECT_EQ(text.GetLength(), 2);

    // A null string becomes a value when filled.
    VString null(true);
    EXPECT_TRUE(null.FromBlock("a", 1, CharSet::VTC_UTF_8));
    EXPECT_FALSE(null.IsNull());

    VString made("x", 1, CharSet::VTC_UTF_8);
    EXPECT_EQ(Text(made), u"x");
    VString accents("\xC3\xA9");
    EXPECT_EQ(Text(accents), u"é");
    VStr<4> small("d\xC3\xA9j\xC3\xA0 vu");
    EXPECT_EQ(Text(small), u"déjà vu");
}

TEST(StringConvert, ToBlock)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        CharSet fCharSet;
        size_t fBufferSize;
        bool fTerminate;
        bool fPrefix;
        size_t fReturned;
        std::string fBytes; // the buffer's first bytes after the call
    };
    const Row rows[] = {
        {"plain", u"abc", CharSet::VTC_UTF_8, 10, false, false, 3, "abc"},
        {"terminated", u"abé", CharSet::VTC_UTF_8, 10, true, false, 4, "ab\xC3\xA9" + std::string(1, '\0')},
        {"length prefix", u"abc", CharSet::VTC_UTF_8, 10, false, true, 3,
         "\x03"
         "abc"},
        {"room for the terminator kept", u"abcdef", CharSet::VTC_UTF_8, 4, true, false, 3,
         "abc" + std::string(1, '\0')},
        {"a character that does not fit is left out", u"aé", CharSet::VTC_UTF_8, 2, false, false, 1, "a"},
        {"set 2 counts units", u"ab", CharSet::VTC_UTF_16, 10, true, true, 4,
         Bytes({2, 0, 'a', 0, 'b', 0, 0, 0})},
        {"too small for prefix and terminator", u"ab", CharSet::VTC_UTF_8, 1, true, true, 0, ""},
    };
    for (const Row& row : rows)
    {
        char buffer[16];
        std::memset(buffer, '#', sizeof(buffer));
        VString text = Str(row.fText);
        EXPECT_EQ(text.ToBlock(buffer, row.fBufferSize, row.fCharSet, row.fTerminate, row.fPrefix),
                  row.fReturned)
            << row.fWhat;
        EXPECT_EQ(std::string(buffer, row.fBytes.size()), row.fBytes) << row.fWhat;
    }

    // A 300-byte text does not fit a one-byte prefix: 0 there, and 0 returned.
    std::string buffer(400, '#');
    VString long300(std::u16string(300, u'x').c_str());
    EXPECT_EQ(long300.ToBlock(buffer.data(), buffer.size(), CharSet::VTC_UTF_8, false, true), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(StringConvert, ToBuffer)
{
    VMemoryBuffer<> buffer;
    Fill(buffer, ">");
    EXPECT_TRUE(Str(u"é€").ToBuffer(buffer, CharSet::VTC_UTF_8));
    EXPECT_EQ(Content(buffer), ">\xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(Str(u"!").ToBuffer(buffer, CharSet::VTC_UTF_16_BIGENDIAN));
    EXPECT_EQ(Content(buffer), ">\xC3\xA9\xE2\x82\xAC" + Bytes({0, '!'}));
    // Substitutes are written; only a set without a converter fails.
    EXPECT_TRUE(Str(u"a日").ToBuffer(buffer, CharSet::VTC_ISO_8859_1));
    EXPECT_EQ(Content(buffer).substr(8), "a?");
    EXPECT_FALSE(Str(u"x").ToBuffer(buffer, CharSet::VTC_MacJapanese));
    EXPECT_EQ(buffer.GetDataSize(), 10u);

    // A buffer that cannot grow (built while there is no memory manager) takes nothing.
    VCppMemMgr* manager = VObject::sCppMemMgr;
    VObject::sCppMemMgr = nullptr;
    VMemoryBuffer<> refused;
    VObject::sCppMemMgr = manager;
    EXPECT_FALSE(Str(u"x").ToBuffer(refused, CharSet::VTC_UTF_8));
    EXPECT_EQ(refused.GetDataSize(), 0u);
}

TEST(StringConvert, CarriageReturnModes)
{
    struct ModeRow
    {
        std::u16string fText;
        ECarriageReturnMode fMode;
    };
    const ModeRow modes[] = {
        {u"a\rb\nc\r\n", eCRM_CR}, {u"a\r\nb", eCRM_CRLF}, {u"a\nb\r", eCRM_LF},
        {u"a\r", eCRM_CR},         {u"abc", eCRM_NONE},
    };
    for (const ModeRow& row : modes)
    {
        EXPECT_EQ(Str(row.fText).GetCarriageReturnMode(eCRM_NONE), row.fMode);
    }

    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        ECarriageReturnMode fMode;
        std::u16string fExpected;
    };
    const Row rows[] = {
        {"to CR LF", u"a\rb\nc\r\n", eCRM_CRLF, u"a\r\nb\r\nc\r\n"},
        {"to LF", u"a\rb\nc\r\n", eCRM_LF, u"a\nb\nc\n"},
        {"to CR", u"a\rb\nc\r\n", eCRM_CR, u"a\rb\rc\r"},
        {"kept", u"a\rb\nc\r\n", eCRM_NONE, u"a\rb\nc\r\n"},
        {"LF CR is two endings", u"\n\r", eCRM_CRLF, u"\r\n\r\n"},
        {"U+FFFF is an ordinary character", u"\xFFFF\n\xFFFF", eCRM_CRLF, u"\xFFFF\r\n\xFFFF"},
        {"ends only", u"\n\n\r\r", eCRM_CRLF, u"\r\n\r\n\r\n\r\n"},
    };
    for (const Row& row : rows)
    {
        VString text = Str(row.fText);
        EXPECT_TRUE(text.ConvertCarriageReturns(row.fMode)) << row.fWhat;
        EXPECT_EQ(Text(text), row.fExpected) << row.fWhat;
    }

    // A shared buffer is copied before it is rewritten; the other holder keeps its text.
    VString original = Str(u"line one\nline two\nline three\n");
    VString copy(original);
    ASSERT_TRUE(copy.ConvertCarriageReturns(eCRM_CRLF));
    EXPECT_EQ(Text(original), u"line one\nline two\nline three\n");
    EXPECT_EQ(Text(copy), u"line one\r\nline two\r\nline three\r\n");
    // A literal is never written.
    VString literal(CVSTR("a\nb"));
    ASSERT_TRUE(literal.ConvertCarriageReturns(eCRM_CR));
    EXPECT_EQ(Text(literal), u"a\rb");
}

TEST(StringConvert, CarriageReturnsInBuffers)
{
    struct Row
    {
        const char* fWhat;
        CharSet fCharSet;
        ECarriageReturnMode fMode;
        std::string fBytes;
        std::string fExpected;
    };
    const Row rows[] = {
        {"UTF-16 BE units", CharSet::VTC_UTF_16_BIGENDIAN, eCRM_CRLF, Bytes({0, 'a', 0, 0x0A, 0, 'b'}),
         Bytes({0, 'a', 0, 0x0D, 0, 0x0A, 0, 'b'})},
        {"UTF-16 BE: 0A00 is not a line feed", CharSet::VTC_UTF_16_BIGENDIAN, eCRM_CRLF, Bytes({0x0A, 0x00}),
         Bytes({0x0A, 0x00})},
        {"UTF-16 LE units", CharSet::VTC_UTF_16, eCRM_LF, Bytes({'a', 0, 0x0D, 0, 0x0A, 0, 'b', 0}),
         Bytes({'a', 0, 0x0A, 0, 'b', 0})},
        {"UTF-32 LE units", CharSet::VTC_UTF_32, eCRM_CRLF, Bytes({0x0A, 0, 0, 0}),
         Bytes({0x0D, 0, 0, 0, 0x0A, 0, 0, 0})},
        {"UTF-32 BE units", CharSet::VTC_UTF_32_BIGENDIAN, eCRM_CR, Bytes({0, 0, 0, 0x0A}),
         Bytes({0, 0, 0, 0x0D})},
        {"Latin-1 ÿ under CR LF", CharSet::VTC_ISO_8859_1, eCRM_CRLF, Bytes({0xFF, 0x0A, 0xFF, 0x0D}),
         Bytes({0xFF, 0x0D, 0x0A, 0xFF, 0x0D, 0x0A})},
        {"UTF-8 shrinking", CharSet::VTC_UTF_8, eCRM_CR, "a\r\nb\r\n", "a\rb\r"},
        {"a trailing half unit is kept after the text", CharSet::VTC_UTF_16, eCRM_CRLF,
         Bytes({0x0A, 0, 0x77}), Bytes({0x0D, 0, 0x0A, 0, 0x77})},
        {"set 0 is left alone", CharSet::VTC_UNKNOWN, eCRM_CRLF, "a\nb", "a\nb"},
    };
    for (const Row& row : rows)
    {
        VMemoryBuffer<> buffer;
        Fill(buffer, row.fBytes);
        // Exactly the bytes, so that CR LF mode must grow the block.
        ASSERT_TRUE(buffer.SetAllocatedSize(row.fBytes.size()));
        EXPECT_TRUE(VString::ConvertCarriageReturns(buffer, row.fCharSet, row.fMode)) << row.fWhat;
        EXPECT_EQ(Content(buffer), row.fExpected) << row.fWhat;
    }
}

TEST(StringConvert, StackConverter)
{
    // Inline: the text and its terminator in the guard.
    StStringConverter<char> utf8(CharSet::VTC_UTF_8);
    const char* small = utf8.ConvertString(Str(u"déjà"));
    EXPECT_STREQ(small, "d\xC3\xA9j\xC3\xA0");
    EXPECT_EQ(utf8.GetSize(), 6u);
    EXPECT_TRUE(utf8.IsOK());

    // Beyond the 512-byte inline buffer: 2,000 units of U+00E9 give 4,000 bytes from the heap.
    VString accents = Str(std::u16string(2000, u'\u00E9'));
    const char* large = utf8.ConvertString(accents);
    ASSERT_NE(large, small);
    EXPECT_EQ(utf8.GetSize(), 4000u);
    EXPECT_EQ(std::strlen(large), 4000u);
    EXPECT_EQ(std::string(large, 4), "\xC3\xA9\xC3\xA9");
    EXPECT_TRUE(utf8.IsOK());
    // The next conversion reuses the heap block.
    EXPECT_STREQ(utf8.ConvertString(Str(u"x")), "x");

    // Moving takes the heap block over and leaves the source empty and usable.
    StStringConverter<char> source(CharSet::VTC_UTF_8);
    const char* heapText = source.ConvertString(accents);
    StStringConverter<char> moved(std::move(source));
    EXPECT_EQ(moved.GetCPointer(), heapText);
    EXPECT_EQ(moved.GetSize(), 4000u);
    EXPECT_STREQ(source.GetCPointer(), ""); // NOLINT(bugprone-use-after-move): moved-from state is defined
    StStringConverter<char> copied(moved);
    EXPECT_NE(copied.GetCPointer(), moved.GetCPointer());
    EXPECT_EQ(std::string(copied.GetCPointer()), std::string(moved.GetCPointer()));

    // Line endings are rewritten on a copy; the string itself is unchanged.
    VString lines = Str(u"a\nb");
    StStringConverter<char> crlf(CharSet::VTC_ISO_8859_1, eCRM_CRLF);
    EXPECT_STREQ(crlf.ConvertString(lines), "a\r\nb");
    EXPECT_EQ(Text(lines), u"a\nb");

    // A set without a converter still gives a terminated text.
    StStringConverter<char> none(CharSet::VTC_MacJapanese);
    const char* nothing = none.ConvertString(Str(u"abc"));
    ASSERT_NE(nothing, nullptr);
    EXPECT_STREQ(nothing, "");
    EXPECT_FALSE(none.IsOK());

    // Unmappable text: substituted, flagged.
    StStringConverter<char> latin1(CharSet::VTC_ISO_8859_1);
    EXPECT_STREQ(latin1.ConvertString(Str(u"a日")), "a?");
    EXPECT_FALSE(latin1.IsOK());
}

} // namespace
