#include "tests/StringTestSupport.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VUUID.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>

using namespace zorn;
using zorn::test::Ascii;

namespace
{

VString Utf16(const std::u16string& inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

std::string Bytes(const VUUID& inUUID)
{
    return std::string(reinterpret_cast<const char*>(inUUID.GetBuffer().fBytes), 16);
}

std::string TextOf(const VUUID& inUUID)
{
    VString text;
    inUUID.GetString(text);
    return Ascii(text);
}

constexpr const char* kDigits = "0123456789ABCDEF0123456789ABCDEF";
const std::string kBytes("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16);

TEST(UUID, TextReaderAcceptsBracesDashesAndEitherCase)
{
    const char* forms[] = {
        "{01234567-89AB-CDEF-0123-456789ABCDEF}",
        "0123456789abcdef0123456789abcdef",
        "0123456789ABCDEF0123456789ABCDEF",
        "01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD EF trailing text: 99",
    };
    for (const char* form : forms)
    {
        VUUID uuid(VString{form});
        EXPECT_EQ(Bytes(uuid), kBytes) << form;
        EXPECT_FALSE(uuid.IsNull()) << form;
        EXPECT_EQ(TextOf(uuid), kDigits) << form;
    }
}

TEST(UUID, ZeroBytesAreNullExceptThroughTheTextAndStreamReaders)
{
    const std::string zeros(32, '0');
    struct Row
    {
        const char* fWhat;
        bool fNull;
        void (*fSet)(VUUID& ioUUID);
    };
    const Row rows[] = {
        {"FromString of 32 zeros", false,
         [](VUUID& u) { u.FromString(VString(std::string(32, '0').c_str())); }},
        {"FromBuffer of a zero buffer", true, [](VUUID& u) { u.FromBuffer(VUUIDBuffer{}); }},
        {"FromBuffer of 32 '0' characters", true,
         [](VUUID& u) { u.FromBuffer(std::string(32, '0').c_str()); }},
        {"FromBuffer of an empty C string", true, [](VUUID& u) { u.FromBuffer(""); }},
        {"LoadFromPtr of 16 zero bytes", true, [](VUUID& u) { u.LoadFromPtr(VUUIDBuffer{}.fBytes); }},
        {"ReadFromStream of 16 zero bytes", false,
         [](VUUID& u)
         {
             static const VUUIDBuffer zeroBytes;
             VConstPtrStream stream(zeroBytes.fBytes, 16);
             stream.OpenReading();
             EXPECT_EQ(u.ReadFromStream(&stream), VE_OK);
         }},
    };
    for (const Row& row : rows)
    {
        VUUID uuid(true);
        row.fSet(uuid);
        EXPECT_EQ(Bytes(uuid), std::string(16, '\0')) << row.fWhat;
        EXPECT_EQ(uuid.IsNull(), row.fNull) << row.fWhat;
        EXPECT_EQ(TextOf(uuid), zeros) << row.fWhat;
    }
}

TEST(UUID, ShortOrNonHexTextBecomesTheBytesOfTheText)
{
    struct Row
    {
        const char* fWhat;
        VString fText;
        std::string fBytes;
    };
    const Row rows[] = {
        {"three letters", VString("abc"), "abc" + std::string(13, ' ')},
        {"20 characters, few hex digits", VString("zyxwvutsrqponmlkjihg"), "zyxwvutsrqponmlk"},
        {"empty", VString(), std::string(16, ' ')},
        {"31 hex digits", VString(std::string(31, 'F').c_str()), std::string(16, 'F')},
        {"non-ASCII is cut as UTF-8 bytes", Utf16(u"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9z"),
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
    };
    for (const Row& row : rows)
    {
        VUUID uuid;
        uuid.FromString(row.fText);
        EXPECT_EQ(Bytes(uuid), row.fBytes) << row.fWhat;
        EXPECT_FALSE(uuid.IsNull()) << row.fWhat;
    }
}

TEST(UUID, CStringReaderByLength)
{
    struct Row
    {
        const char* fWhat;
        std::string fText;
        std::string fBytes; // empty: unchanged
    };
    const Row rows[] = {
        {"short", "abc", std::string("abc") + std::string(13, '\0')},
        {"16 bytes", "0123456789abcdef", "0123456789abcdef"},
        {"32 hex digits", "0123456789abcdef0123456789ABCDEF", kBytes},
        {"32 characters, non-hex count as 0", "zz23456789ABCDEF0123456789ABCDEF",
         std::string("\x00\x23\x45\x67\x89\xAB\xCD\xEF\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16)},
        {"20 characters", "01234567890123456789", ""},
        {"33 characters", std::string(33, 'A'), ""},
    };
    for (const Row& row : rows)
    {
        VUUID uuid(true);
        const std::string before = Bytes(uuid);
        uuid.FromBuffer(row.fText.c_str());
        EXPECT_EQ(Bytes(uuid), row.fBytes.empty() ? before : row.fBytes) << row.fWhat;
        EXPECT_FALSE(uuid.IsNull()) << row.fWhat;
    }
}

TEST(UUID, RandomAndTimeOrderedLayouts)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100000; ++i)
    {
        VUUID uuid(true, i % 2 == 0 ? VUUID::kRandom : VUUID::kSystem);
        const VUUIDBuffer& b = uuid.GetBuffer();
        ASSERT_EQ(b.fBytes[6] >> 4, 4);
        ASSERT_EQ(b.fBytes[8] >> 6, 2);
        ASSERT_TRUE(seen.insert(Bytes(uuid)).second) << "duplicate after " << i;
    }

    // Two made in one millisecond share bytes 0-5; retry when a millisecond boundary fell between.
    bool sameMillisecond = false;
    for (int attempt = 0; attempt < 100 && !sameMillisecond; ++attempt)
    {
        int64_t before = VSystem::GetRealTimeNanoseconds() / 1000000;
        VUUID first(true, VUUID::kTimeOrdered);
        VUUID second(true, VUUID::kTimeOrdered);
        int64_t after = VSystem::GetRealTimeNanoseconds() / 1000000;
        for (const VUUID* uuid : {&first, &second})
        {
            const VUUIDBuffer& b = uuid->GetBuffer();
            EXPECT_EQ(b.fBytes[6] >> 4, 7);
            EXPECT_EQ(b.fBytes[8] >> 6, 2);
            int64_t ms = 0;
            for (int i = 0; i < 6; ++i)
            {
                ms = (ms << 8) | b.fBytes[i];
            }
            EXPECT_GE(ms, before);
            EXPECT_LE(ms, after);
        }
        if (before == after)
        {
            sameMillisecond = true;
            EXPECT_EQ(Bytes(first).substr(0, 6), Bytes(second).substr(0, 6));
            EXPECT_FALSE(first < second && second < first);
        }
    }
    EXPECT_TRUE(sameMillisecond);
}

TEST(UUID, IsUUIDStringIsStrict)
{
    struct Row
    {
        std::string fText;
        bool fAcceptNull;
        bool fResult;
    };
    const Row rows[] = {
        {kDigits, false, true},
        {"0123456789abcdef0123456789abcdef", false, false},
        {std::string(32, '0'), false, false},
        {std::string(32, '0'), true, true},
        {std::string(kDigits).substr(0, 31), true, false},
        {std::string(kDigits) + "0", true, false},
        {"{0123456789ABCDEF0123456789ABCD}", true, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VUUID::IsUUIDString(VString(row.fText.c_str()), row.fAcceptNull), row.fResult)
            << row.fText << " acceptNull " << row.fAcceptNull;
    }
}

TEST(UUID, ComparisonsAndNullFlags)
{
    VUUIDBuffer low;
    low.fBytes[0] = 0x7F;
    low.fBytes[15] = 0xFF;
    VUUIDBuffer high;
    high.fBytes[0] = 0x80; // byte 0 first, unsigned
    VUUID a(low);
    VUUID b(high);
    EXPECT_TRUE(a < b);
    EXPECT_EQ(a.CompareToSameKind(&b), CR_SMALLER);
    EXPECT_EQ(b.CompareTo(a), CR_BIGGER);
    EXPECT_EQ(VUUID::Info().CompareTwoPtrToData(high.fBytes, low.fBytes), CR_BIGGER);
    EXPECT_EQ(a.CompareToSameKindPtr(low.fBytes), CR_EQUAL);
    EXPECT_EQ(a.CompareTo(VLong(3)), CR_UNRELEVANT);

    VUUID zeroNull;
    VUUID zeroNotNull(VString(std::string(32, '0').c_str()));
    EXPECT_TRUE(zeroNull.IsNull());
    EXPECT_FALSE(zeroNotNull.IsNull());
    EXPECT_TRUE(zeroNull == zeroNotNull);

    b.SetNull(true);
    EXPECT_EQ(Bytes(b), std::string(16, '\0')) << "setting the null flag zeroes the bytes";
    EXPECT_TRUE(VUUID::sNullUUID.IsNull());
    EXPECT_TRUE(VUUID::sNullUUID == b);
}

TEST(UUID, CachedTextFollowsEveryChange)
{
    VUUID uuid(kBytes.c_str());
    const VString* cached = uuid.GetCachedConvertedString();
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(Ascii(*cached), kDigits);
    uuid.Regenerate();
    EXPECT_EQ(Ascii(*cached), TextOf(uuid));
    uuid.SetNull(true);
    EXPECT_TRUE(cached->IsNull());
    uuid.FromString(VString(kDigits));
    EXPECT_FALSE(cached->IsNull());
    EXPECT_EQ(Ascii(*cached), kDigits);

    VUUID copy(uuid);
    EXPECT_EQ(copy.GetCachedConvertedString(false), nullptr) << "copies do not share the cached text";
}

TEST(UUID, ConvertsThroughStringsAndOtherValues)
{
    VUUID uuid{VString(kDigits)};
    VString text;
    uuid.GetValue(text);
    EXPECT_EQ(Ascii(text), kDigits);
    text.FromVUUID(uuid);
    EXPECT_EQ(Ascii(text), kDigits);

    VUUID fromText;
    VString("{01234567-89ab-cdef-0123-456789abcdef}").GetVUUID(fromText);
    EXPECT_EQ(Bytes(fromText), kBytes);
    VUUID viaValue;
    viaValue.FromValue(VString(kDigits));
    EXPECT_EQ(Bytes(viaValue), kBytes);

    // Kinds without a UUID form clear the target.
    VUUID cleared(true);
    VLong(5).GetVUUID(cleared);
    EXPECT_TRUE(cleared.IsNull());
    EXPECT_EQ(Bytes(cleared), std::string(16, '\0'));

    std::unique_ptr<VValue> clone(uuid.Clone());
    EXPECT_TRUE(*static_cast<VUUID*>(clone.get()) == uuid);
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_UUID));
    ASSERT_NE(generated, nullptr);
    EXPECT_TRUE(generated->IsNull());
}

TEST(UUID, PackedAndStreamFormsAreTheSixteenBytes)
{
    VUUID uuid{VString(kDigits)};
    unsigned char packed[16];
    EXPECT_EQ(uuid.WriteToPtr(packed), packed + 16);
    EXPECT_EQ(std::memcmp(packed, kBytes.data(), 16), 0);
    std::unique_ptr<VValue> loaded(VUUID::Info().LoadFromPtr(packed, false));
    EXPECT_TRUE(*static_cast<VUUID*>(loaded.get()) == uuid);
    EXPECT_EQ(VUUID::Info().ByteSwapPtr(packed, true), packed);
    EXPECT_EQ(VUUID::Info().GetSizeOfValueDataPtr(packed), 16u);

    for (bool swap : {false, true})
    {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(uuid.WriteToStream(&stream), VE_OK);
        ASSERT_EQ(stream.GetDataSize(), 16u);
        EXPECT_EQ(std::memcmp(stream.GetDataPtr(), kBytes.data(), 16), 0) << "never swapped";
        stream.CloseWriting();

        VConstPtrStream reader(stream.GetDataPtr(), 16);
        reader.SetNeedSwap(swap);
        ASSERT_EQ(reader.OpenReading(), VE_OK);
        VUUID read;
        EXPECT_EQ(read.ReadFromStream(&reader), VE_OK);
        EXPECT_EQ(Bytes(read), kBytes);
    }

    // A short stream leaves the UUID as it was.
    VConstPtrStream shortStream(kBytes.data(), 10);
    ASSERT_EQ(shortStream.OpenReading(), VE_OK);
    VUUID untouched;
    EXPECT_NE(untouched.ReadFromStream(&shortStream), VE_OK);
    EXPECT_TRUE(untouched.IsNull());
    EXPECT_EQ(Bytes(untouched), std::string(16, '\0'));
}

TEST(UUID, JSONForms)
{
    VUUID uuid{VString(kDigits)};
    VJSONValue json;
    ASSERT_EQ(uuid.GetJSONValue(json), VE_OK);
    ASSERT_TRUE(json.IsString());
    VString text;
    json.GetString(text);
    EXPECT_EQ(Ascii(text), kDigits);

    VString quoted;
    uuid.GetJSONString(quoted, 1);
    EXPECT_EQ(Ascii(quoted), std::string("\"") + kDigits + "\"");

    VUUID read;
    ASSERT_EQ(read.FromJSONValue(VJSONValue(VString("{01234567-89ab-cdef-0123-456789abcdef}"))), VE_OK);
    EXPECT_EQ(Bytes(read), kBytes);
    VJSONValue null;
    null.SetNull();
    ASSERT_EQ(read.FromJSONValue(null), VE_OK);
    EXPECT_TRUE(read.IsNull());
    ASSERT_EQ(read.GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNull());
}

} // namespace
