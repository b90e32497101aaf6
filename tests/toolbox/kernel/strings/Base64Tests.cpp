#include "tests/StringTestSupport.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/Base64Coder.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn;
using zorn::test::Text;

namespace
{

std::string Content(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

std::string Encode(const std::string& inBytes, bool inURL, size_t inLineLength = 0)
{
    VMemoryBuffer<> buffer;
    EXPECT_TRUE(Base64Coder::_Encode(inBytes.data(), inBytes.size(), buffer, inLineLength, inURL));
    return Content(buffer);
}

// The decoded bytes, or "<fail>" when decoding fails (the buffer must then be empty).
std::string Decode(const std::string& inText, bool inURL)
{
    VMemoryBuffer<> buffer;
    if (!Base64Coder::Decode(inText.data(), inText.size(), buffer, inURL))
    {
        EXPECT_EQ(buffer.GetDataSize(), 0u) << inText;
        return "<fail>";
    }
    return Content(buffer);
}

TEST(Base64, RFC4648VectorsInBothAlphabets)
{
    struct Row
    {
        std::string fBytes;
        std::string fStandard;
        std::string fURL;
    };
    const Row rows[] = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        // The two alphabets differ in the last two characters only.
        {"\xFB\xFF\xBF", "+/+/", "-_-_"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Encode(row.fBytes, false), row.fStandard) << row.fBytes;
        EXPECT_EQ(Encode(row.fBytes, true), row.fURL) << row.fBytes;
        EXPECT_EQ(Decode(row.fStandard, false), row.fBytes) << row.fStandard;
        EXPECT_EQ(Decode(row.fURL, true), row.fBytes) << row.fURL;
    }
}

TEST(Base64, LineLengthCountsGroupsAndNeverEndsTheText)
{
    const std::string bytes57(57, 'x');
    const std::string bytes60(60, 'x');
    std::string text57 = Encode(bytes57, false, 19);
    EXPECT_EQ(text57.size(), 76u);
    EXPECT_EQ(text57.find('\r'), std::string::npos);

    std::string text60 = Encode(bytes60, false, 19);
    ASSERT_EQ(text60.size(), 82u);
    EXPECT_EQ(text60.substr(76, 2), "\r\n");
    EXPECT_EQ(text60.find('\r'), 76u);
    EXPECT_EQ(Decode(text60, false), bytes60);

    // The URL form has no line breaks whatever the length.
    EXPECT_EQ(Encode(bytes60, true, 19).size(), 80u);
    EXPECT_EQ(Base64Coder::GetEncodedSize(60, 19, false), 82u);
}

TEST(Base64, DecodingRejectsWhatNoEncodingWrites)
{
    struct Row
    {
        const char* fWhat;
        std::string fText;
        bool fURL;
        std::string fBytes; // "<fail>" when refused
    };
    const Row rows[] = {
        {"canonical two-byte tail", "YWI=", false, "ab"},
        {"non-zero unused bits after the second byte", "YWJ=", false, "<fail>"},
        {"non-zero unused bits after the first byte", "YR==", false, "<fail>"},
        {"the same tails in the URL form", "YWJ", true, "<fail>"},
        {"a lone leftover character", "YWJjZ", false, "<fail>"},
        {"a lone leftover character (URL)", "YWJjZ", true, "<fail>"},
        {"three characters without padding in the standard form", "YWI", false, "<fail>"},
        {"CR LF and spaces skipped", "YW\r\nJj Zm9v\t", false, "abcfoo"},
        {"white space inside the padding", "YQ= =\n", false, "a"},
        {"padding in the middle", "YQ==YWJj", false, "<fail>"},
        {"one padding character too many", "YWI==", false, "<fail>"},
        {"padding after one character", "Y===", false, "<fail>"},
        {"padding in the URL form", "YWI=", true, "<fail>"},
        {"a byte outside the alphabet", "YW*j", false, "<fail>"},
        {"the URL alphabet in the standard form", "-_-_", false, "<fail>"},
        {"only white space", " \r\n", false, ""},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Decode(row.fText, row.fURL), row.fBytes) << row.fWhat;
    }
}

TEST(Base64, KeepOnFailureKeepsTheGroupsBeforeTheFault)
{
    VMemoryBuffer<> buffer;
    const std::string text = "YWJjZGVm*A==";
    EXPECT_FALSE(Base64Coder::Decode(text.data(), text.size(), buffer, false, true));
    EXPECT_EQ(Content(buffer), "abcdef");
}

TEST(Base64, ChecksumForms)
{
    const unsigned char digest[16] = {0xD4, 0x1D, 0x8C, 0xD9, 0x8F, 0x00, 0xB2, 0x04,
                                      0xE9, 0x80, 0x09, 0x98, 0xEC, 0xF8, 0x42, 0x7E};
    VString text(CVSTR("previous content"));
    Base64Coder::DO_EncodeChecksumHexa(digest, sizeof(digest), text);
    EXPECT_EQ(Text(text), u"d41d8cd98f00b204e9800998ecf8427e");
    Base64Coder::DO_EncodeChecksumBase64(digest, sizeof(digest), text);
    EXPECT_EQ(Text(text), u"1B2M2Y8AsgTpgAmY7PhCfg==");
}

TEST(Base64, EveryByteValueRoundTripsAtEveryTailLength)
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
    {
        bytes.push_back(static_cast<char>(i));
    }
    for (size_t cut : {256u, 255u, 254u})
    {
        const std::string part = bytes.substr(0, cut);
        for (bool url : {false, true})
        {
            EXPECT_EQ(Decode(Encode(part, url, 3), url), part) << cut << " url " << url;
        }
    }
}

} // namespace
