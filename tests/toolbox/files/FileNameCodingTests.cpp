#include "toolbox/files/FileNameCoding.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace zorn;

namespace
{

VString Text(const char16_t* inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText));
}

std::u16string U16(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

TEST(FileNameCoding, EncodeAndDecode)
{
    struct Case
    {
        const char* fWhat;
        std::u16string fName;
        std::u16string fEncoded;
    };
    const Case cases[] = {
        {"colon between letters", u"a:b", u"a%3Ab"},
        {"percent itself", u"%", u"%25"},
        {"nothing reserved, accents and DEL kept", u"caf\u00e9 \u007f\u0080.txt",
         u"caf\u00e9 \u007f\u0080.txt"},
        {"controls", std::u16string(u"\u0001x\u001f\n", 4), u"%01x%1F%0A"},
        {"NUL", std::u16string(1, u'\0'), u"%00"},
        {"empty", u"", u""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        VString name(reinterpret_cast<const UniChar*>(c.fName.data()), static_cast<int32_t>(c.fName.size()));
        VString encoded = EncodeReservedFileCharacters(name);
        EXPECT_EQ(U16(encoded), c.fEncoded);
        EXPECT_EQ(U16(DecodeReservedFileCharacters(encoded)), c.fName);
    }
}

TEST(FileNameCoding, EveryReservedCharacterRoundTrips)
{
    std::u16string all;
    for (char16_t c = 0; c < 0x20; ++c)
    {
        all += c;
    }
    all += u"\"%*/:<>?\\|";
    VString name(reinterpret_cast<const UniChar*>(all.data()), static_cast<int32_t>(all.size()));
    VString encoded = EncodeReservedFileCharacters(name);
    EXPECT_EQ(encoded.GetLength(), static_cast<int32_t>(all.size() * 3)) << "every one coded";
    EXPECT_EQ(U16(DecodeReservedFileCharacters(encoded)), all);
}

TEST(FileNameCoding, PercentWithoutTwoHexDigitsStays)
{
    struct Case
    {
        std::u16string fText;
        std::u16string fDecoded;
    };
    const Case cases[] = {
        {u"a%4", u"a%4"},     // too near the end
        {u"a%", u"a%"},       // at the end
        {u"%zz", u"%zz"},     // not hexadecimal
        {u"%4g%41", u"%4gA"}, // one bad digit, then a good code
        {u"%3a%2F", u":/"},   // lower-case digits are read too
        {u"%%41", u"%A"},     // the second percent starts the code
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.fText.begin(), c.fText.end()));
        EXPECT_EQ(U16(DecodeReservedFileCharacters(Text(c.fText.c_str()))), c.fDecoded);
    }
}

std::u16string Parameter(const VFileError& inError, const char* inName)
{
    VString value;
    inError.GetParameters()->GetProperty(VString(inName)).GetString(value);
    return U16(value);
}

TEST(FileError, NameAndPathParameters)
{
    VFileError unknown(VFilePath(), VE_FILE_NOT_FOUND);
    EXPECT_EQ(unknown.GetError(), VE_FILE_NOT_FOUND);
    EXPECT_EQ(Parameter(unknown, "name"), u"n/a");
    EXPECT_EQ(Parameter(unknown, "path"), u"n/a");

    VFilePath path(VString("/tmp/zorn/notes.txt"), FPS_POSIX);
    VFileError known(path, VE_FILE_NOT_FOUND);
    VString native;
    path.GetPath(native);
    EXPECT_EQ(Parameter(known, "name"), u"notes.txt");
    EXPECT_EQ(Parameter(known, "path"), U16(native));
}

TEST(FileError, CodeConversionRule)
{
    VFilePath path(VString("/tmp/x"), FPS_POSIX);
    EXPECT_EQ(PushFileErrorForCode(path, VE_OK, VE_DISK_FULL), VE_OK);
    // A native family with 0 in the low bits is a success too.
    EXPECT_EQ(PushFileErrorForCode(path, MakeVErrorFromErrno(0), VE_DISK_FULL), VE_OK);
    // A toolbox code is handed back as it is.
    EXPECT_EQ(PushFileErrorForCode(path, VE_STREAM_EOF, VE_DISK_FULL), VE_STREAM_EOF);
    // A native code becomes the toolbox code, the operation's parameters added once.
    int calls = 0;
    VError code = PushFileErrorForCode(path, MakeVErrorFromErrno(ENOSPC), VE_UNKNOWN_ERROR,
                                       [&](VFileError& ioError)
                                       {
                                           ++calls;
                                           ioError.SetLong8(VString("size"), 7);
                                       });
    EXPECT_EQ(code, EncodedNativeErrorToVError(MakeVErrorFromErrno(ENOSPC), VE_UNKNOWN_ERROR));
    EXPECT_NE(code >> 32, static_cast<VError>(kNATIVE_POSIX));
    EXPECT_EQ(calls, 1);
}

} // namespace
