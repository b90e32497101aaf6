#include "toolbox/kernel/streams/VBlobStream.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"
#include "toolbox/kernel/values/VBlob.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

std::string BytesOf(const VPtrStream& inStream)
{
    return std::string(static_cast<const char*>(inStream.GetDataPtr()), inStream.GetDataSize());
}

// The text as UTF-16 in the given byte order.
std::string UTF16(const std::string& inASCII, bool inBigEndian)
{
    std::string bytes;
    for (char c : inASCII)
    {
        bytes += inBigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

VString Utf16Text(const char16_t* inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText));
}

std::string ToUTF8(const VString& inText)
{
    std::string out;
    for (int32_t i = 0; i < inText.GetLength(); ++i)
    {
        UniChar c = inText.GetCPointer()[i];
        out += c < 128 ? static_cast<char>(c) : '?';
    }
    return out;
}

// Reads lines until the end of data, each line's text (non-ASCII as '?') in order.
std::vector<std::string> ReadLines(VStream& ioStream, bool inKeepLineEnd, UniChar inLineEnd)
{
    std::vector<std::string> lines;
    VString line;
    UniChar lineEnd = inLineEnd;
    while (ioStream.GetTextLine(line, inKeepLineEnd, inLineEnd == 0 ? nullptr : &lineEnd) == VE_OK)
    {
        lines.push_back(ToUTF8(line));
    }
    return lines;
}

} // namespace

TEST(StreamText, GuessCharSetFromLeadingBytes)
{
    struct Case
    {
        const char* fWhat;
        std::string fBytes;
        CharSet fDefault;
        bool fDetectUTF8;
        CharSet fExpected;
        bool fFoundBOM;
        int64_t fPosition;
    };
    using enum CharSet;
    const Case cases[] = {
        {"UTF-8 mark alone", "\xEF\xBB\xBF", VTC_MacRoman, false, VTC_UTF_8, true, 3},
        {"UTF-8 mark and one byte",
         "\xEF\xBB\xBF"
         "a",
         VTC_MacRoman, false, VTC_UTF_8, true, 3},
        {"UTF-16 BE mark alone", "\xFE\xFF", VTC_MacRoman, false, VTC_UTF_16_BIGENDIAN, true, 2},
        {"UTF-16 BE mark, 2 bytes", std::string("\xFE\xFF\0a", 4), VTC_MacRoman, false, VTC_UTF_16_BIGENDIAN,
         true, 2},
        {"UTF-16 LE mark, 1 byte",
         "\xFF\xFE"
         "a",
         VTC_MacRoman, false, VTC_UTF_16, true, 2},
        {"UTF-16 LE mark, 2 bytes",
         std::string("\xFF\xFE"
                     "a\0",
                     4),
         VTC_MacRoman, false, VTC_UTF_16, true, 2},
        {"UTF-32 LE mark", std::string("\xFF\xFE\0\0", 4), VTC_MacRoman, false, VTC_UTF_32, true, 4},
        {"UTF-32 BE mark", std::string("\0\0\xFE\xFF", 4), VTC_MacRoman, false, VTC_UTF_32_BIGENDIAN, true,
         4},
        {"UTF-16 LE mark then ASCII is not taken for UTF-8",
         std::string("\xFF\xFE"
                     "a\0b\0",
                     6),
         VTC_MacRoman, true, VTC_UTF_16, true, 2},
        {"00 xx 00 xx", UTF16("ab", true), VTC_MacRoman, false, VTC_UTF_16_BIGENDIAN, false, 0},
        {"xx 00 xx 00", UTF16("ab", false), VTC_MacRoman, false, VTC_UTF_16, false, 0},
        {"default UTF-16 BE with ASCII", "abcd", VTC_UTF_16_BIGENDIAN, false, VTC_UTF_8, false, 0},
        {"default UTF-16 LE with ASCII", "abcd", VTC_UTF_16, false, VTC_UTF_8, false, 0},
        {"other default with ASCII", "abcd", VTC_MacRoman, false, VTC_MacRoman, false, 0},
        {"valid UTF-8 detected", "caf\xC3\xA9 au lait", VTC_MacRoman, true, VTC_UTF_8, false, 0},
        {"invalid UTF-8 not detected", "caf\xE9 au lait", VTC_MacRoman, true, VTC_MacRoman, false, 0},
        {"UTF-8 not asked for", "caf\xC3\xA9", VTC_MacRoman, false, VTC_MacRoman, false, 0},
        {"3 bytes, no mark", "abc", VTC_MacRoman, false, VTC_MacRoman, false, 0},
        {"1 byte", "\xFF", VTC_MacRoman, true, VTC_MacRoman, false, 0},
        {"empty", "", VTC_MacRoman, true, VTC_MacRoman, false, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        VConstPtrStream stream(c.fBytes.data(), c.fBytes.size());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        bool foundBOM = !c.fFoundBOM;
        EXPECT_EQ(stream.GuessCharSetFromLeadingBytes(c.fDefault, c.fDetectUTF8, &foundBOM), c.fExpected);
        EXPECT_EQ(foundBOM, c.fFoundBOM);
        EXPECT_EQ(stream.GetPos(), c.fPosition);
        EXPECT_EQ(stream.GetCharSet(), c.fExpected);
        EXPECT_EQ(stream.GetLastError(), VE_OK);
    }
}

TEST(StreamText, UTF8DetectionToleratesACharacterCutByTheBlock)
{
    // 2047 ASCII bytes then a two-byte character across the 2048-byte limit.
    std::string bytes(2047, 'a');
    bytes += "\xC3\xA9 and more";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GuessCharSetFromLeadingBytes(CharSet::VTC_MacRoman, true), CharSet::VTC_UTF_8);
    EXPECT_EQ(stream.GetPos(), 0);
}

TEST(StreamText, GetTextLine)
{
    struct Case
    {
        const char* fWhat;
        CharSet fCharSet;
        std::string fBytes;
        bool fKeepLineEnd;
        UniChar fLineEnd; // 0: none given
        std::vector<std::string> fLines;
    };
    using enum CharSet;
    const std::string longLine(511, 'x');
    const Case cases[] = {
        {"LF, CR, CR LF", VTC_UTF_8, "a\nb\rc\r\nd", false, 0, {"a", "b", "c", "d"}},
        {"empty lines", VTC_UTF_8, "\n\r\n\ra\n", false, 0, {"", "", "", "a"}},
        {"end kept as one CR", VTC_UTF_8, "a\r\nb\nc", true, 0, {"a\r", "b\r", "c"}},
        {"last line without end", VTC_UTF_8, "a\nlast", false, 0, {"a", "last"}},
        {"UTF-8 text", VTC_UTF_8, "caf\xC3\xA9\nx", false, 0, {"caf?", "x"}},
        {"malformed byte in a line", VTC_UTF_8, "a\xFF\nb", false, 0, {"a?", "b"}},
        {"sequence cut by the line end", VTC_UTF_8, "a\xE2\x82\nb\xC3\rc", false, 0, {"a?", "b?", "c"}},
        {"sequence cut by the end of data", VTC_UTF_8, "a\nb\xE2\x82", false, 0, {"a", "b?"}},
        {"line end given: CR LF not joined", VTC_UTF_8, "a;b\r\nc", false, ';', {"a", "b\r", "c"}},
        {"CR LF split at the block boundary", VTC_UTF_8, longLine + "\r\nb", false, 0, {longLine, "b"}},
        {"CR at the block boundary then text", VTC_UTF_8, longLine + "\rb", false, 0, {longLine, "b"}},
        {"UTF-16 LE", VTC_UTF_16, UTF16("a\nb\r\nc\rd", false), false, 0, {"a", "b", "c", "d"}},
        {"UTF-16 BE", VTC_UTF_16_BIGENDIAN, UTF16("a\nb\r\n\nd", true), false, 0, {"a", "b", "", "d"}},
        // U+0A0D in UTF-16 BE holds the bytes of LF and CR without being a line end.
        {"UTF-16 scans units, not bytes",
         VTC_UTF_16_BIGENDIAN,
         std::string("\x0A\x0D\0\n\0z", 6),
         false,
         0,
         {"?", "z"}},
        {"UTF-16 CR LF split at the block boundary",
         VTC_UTF_16,
         UTF16(std::string(255, 'y') + "\r\nb", false),
         false,
         0,
         {std::string(255, 'y'), "b"}},
        {"legacy set", VTC_MacRoman, "caf\x8E\r\nz", false, 0, {"caf?", "z"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        VConstPtrStream stream(c.fBytes.data(), c.fBytes.size());
        ASSERT_EQ(stream.SetCharSet(c.fCharSet), VE_OK);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        EXPECT_EQ(ReadLines(stream, c.fKeepLineEnd, c.fLineEnd), c.fLines);
        EXPECT_EQ(stream.GetLastError(), VE_STREAM_EOF);
        EXPECT_EQ(stream.GetPos(), static_cast<int64_t>(c.fBytes.size()));
    }
}

TEST(StreamText, LegacyAndUTF16TextDecodes)
{
    std::string bytes = "caf\x8E";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.SetCharSet(CharSet::VTC_MacRoman), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString line;
    ASSERT_EQ(stream.GetTextLine(line), VE_OK);
    EXPECT_TRUE(line.EqualToString(Utf16Text(u"caf\u00e9"), true));
}

TEST(StreamText, CountedTextGivesBackWhatItReadBeyond)
{
    std::string bytes = "a\xC3\xA9z\xE2\x82";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.SetCharSet(CharSet::VTC_UTF_8), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString text;
    ASSERT_EQ(stream.GetText(text, 2), VE_OK);
    EXPECT_TRUE(text.EqualToString(Utf16Text(u"a\u00e9"), true));
    EXPECT_EQ(stream.GetPos(), 3);

    // Only "z" is left before a cut character: given back, then consumed.
    text.Clear();
    ASSERT_EQ(stream.GetText(text, 5, true), VE_OK);
    EXPECT_TRUE(text.EqualToString(VString("z"), true));
    EXPECT_EQ(stream.GetPos(), 4);
    // Nothing but the cut character: consumed, and the end of data reported.
    text.Clear();
    EXPECT_EQ(stream.GetText(text, 5, false), VE_STREAM_EOF);
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_EQ(stream.GetPos(), 6);
}

TEST(StreamText, CountedTextInUTF16)
{
    std::string bytes = UTF16("abcd", false);
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.SetCharSet(CharSet::VTC_UTF_16), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString text;
    ASSERT_EQ(stream.GetText(text, 3), VE_OK);
    EXPECT_TRUE(text.EqualToString(VString("abc"), true));
    EXPECT_EQ(stream.GetPos(), 6);
}

TEST(StreamText, WholeTextWithATruncatedTail)
{
    // Longer than one 4096-byte block, so the tail carries over a block.
    std::string bytes(5000, 'a');
    bytes += "\xE2\x82";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.SetCharSet(CharSet::VTC_UTF_8), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString text("> ");
    EXPECT_EQ(stream.GetText(text), VE_STREAM_TEXT_CONVERSION_FAILURE);
    EXPECT_EQ(text.GetLength(), 5002);
    EXPECT_EQ(stream.GetPos(), 5000);

    VConstPtrStream whole(bytes.data(), 5000);
    ASSERT_EQ(whole.OpenReading(), VE_OK);
    text.Clear();
    EXPECT_EQ(whole.GetText(text), VE_OK);
    EXPECT_EQ(text.GetLength(), 5000);
}

TEST(StreamText, UngetData)
{
    std::string bytes = "abcdef";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char buffer[8] = {};
    ASSERT_EQ(stream.GetData(buffer, 4), VE_OK);
    EXPECT_EQ(stream.UngetData(buffer, 5), VE_STREAM_CANNOT_UNGET);
    EXPECT_EQ(stream.GetPos(), 4);

    VConstPtrStream atEnd(bytes.data(), bytes.size());
    ASSERT_EQ(atEnd.OpenReading(), VE_OK);
    size_t count = 0;
    EXPECT_EQ(atEnd.GetData(buffer, 8, &count), VE_STREAM_EOF);
    // A pending end of data does not stop giving back.
    EXPECT_EQ(atEnd.UngetData(buffer + 4, 2), VE_STREAM_EOF);
    EXPECT_EQ(atEnd.GetPos(), 4);
}

TEST(StreamText, TTRLineSplitsAtTabs)
{
    std::string bytes = "a\t\tb\t\n\nc";
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VArrayString fields;
    ASSERT_EQ(stream.GetTTRLine(fields), VE_OK);
    ASSERT_EQ(fields.GetCount(), 4);
    VString field;
    fields.GetString(field, 1);
    EXPECT_TRUE(field.EqualToString(VString("a"), true));
    fields.GetString(field, 3);
    EXPECT_TRUE(field.EqualToString(VString("b"), true));
    fields.GetString(field, 4);
    EXPECT_EQ(field.GetLength(), 0);
    ASSERT_EQ(stream.GetTTRLine(fields), VE_OK);
    EXPECT_EQ(fields.GetCount(), 0);
    ASSERT_EQ(stream.GetTTRLine(fields), VE_OK);
    EXPECT_EQ(fields.GetCount(), 1);
}

TEST(StreamText, WritingMarksHexAndPrintf)
{
    struct Case
    {
        CharSet fCharSet;
        std::string fMark;
    };
    using enum CharSet;
    const Case cases[] = {
        {VTC_UTF_16_BIGENDIAN, "\xFE\xFF"},
        {VTC_UTF_16, "\xFF\xFE"},
        {VTC_UTF_32_BIGENDIAN, std::string("\0\0\xFE\xFF", 4)},
        {VTC_UTF_32, std::string("\xFF\xFE\0\0", 4)},
        {VTC_UTF_8, "\xEF\xBB\xBF"},
        {VTC_MacRoman, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(static_cast<int>(c.fCharSet));
        VPtrStream stream;
        ASSERT_EQ(stream.SetCharSet(c.fCharSet), VE_OK);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.WriteBOM(), VE_OK);
        EXPECT_EQ(BytesOf(stream), c.fMark);
    }

    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutHexBytes("\x00\x7F\xAB", 3), VE_OK);
    EXPECT_EQ(stream.PutPrintf(" %d-%s", 42, "x"), VE_OK);
    EXPECT_EQ(BytesOf(stream), "007FAB 42-x");
}

TEST(StreamText, PutContentIntoCopiesInBlocks)
{
    std::string bytes(10000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        bytes[i] = static_cast<char>(i * 7);
    }
    VConstPtrStream source(bytes.data(), bytes.size());
    VPtrStream destination;
    EXPECT_EQ(source.PutContentInto(&destination), VE_STREAM_NOT_OPENED_FOR_WRITING);
    ASSERT_EQ(destination.OpenWriting(), VE_OK);
    EXPECT_EQ(source.PutContentInto(&destination), VE_OK);
    EXPECT_EQ(BytesOf(destination), bytes);
    EXPECT_FALSE(source.IsReading());
}

TEST(BlobStream, ReadsAndWritesTheBlobInPlace)
{
    VBlobWithPtr blob;
    {
        VBlobStream stream(&blob);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.PutData("abc", 3), VE_OK);
        // Moving beyond the end grows the blob with zero bytes.
        EXPECT_EQ(stream.SetPos(5), VE_OK);
        EXPECT_EQ(stream.PutData("z", 1), VE_OK);
        EXPECT_EQ(stream.CloseWriting(), VE_OK);
    }
    ASSERT_EQ(blob.GetSize(), 6U);
    EXPECT_EQ(std::string(static_cast<const char*>(blob.GetDataPtr()), 6), std::string("abc\0\0z", 6));

    VBlobStream reader(&blob);
    ASSERT_EQ(reader.OpenReading(), VE_OK);
    char bytes[8] = {};
    size_t count = 0;
    EXPECT_EQ(reader.GetData(bytes, 8, &count), VE_STREAM_EOF);
    EXPECT_EQ(count, 6U);

    // A stream built without a blob owns a new one.
    VBlobStream owning;
    ASSERT_NE(owning.GetBlob(), nullptr);
    ASSERT_EQ(owning.OpenWriting(), VE_OK);
    EXPECT_EQ(owning.PutText(VString("hi")), VE_OK);
    EXPECT_EQ(owning.GetBlob()->GetSize(), 2U);
}

TEST(BlobStream, PositionsBeyondThe32BitOffsetsAreRefused)
{
    // Moving there would otherwise grow the blob to a wrapped (or enormous) offset.
    for (int64_t position : {int64_t{INT32_MAX} + 1, int64_t{1} << 32})
    {
        SCOPED_TRACE(position);
        VBlobWithPtr blob;
        VBlobStream stream(&blob);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(stream.SetPos(position), VE_INVALID_PARAMETER);
        EXPECT_EQ(blob.GetSize(), 0U);
        EXPECT_EQ(stream.GetPos(), 0);
    }
}
