#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kMiB = 1024 * 1024;

// A memory manager that refuses blocks above a limit and records what it was asked for.
class LimitedMemMgr
{
public:
    explicit LimitedMemMgr(size_t inLimit) : fLimit(inLimit) {}

    void* Malloc(size_t inSize, bool, OsType inTag)
    {
        fRequests.push_back(inSize);
        fLastTag = inTag;
        return inSize > fLimit ? nullptr : std::malloc(inSize);
    }
    void* Realloc(void* inBlock, size_t inSize)
    {
        fRequests.push_back(inSize);
        return inSize > fLimit ? nullptr : std::realloc(inBlock, inSize);
    }
    void Free(void* inBlock) { std::free(inBlock); }

    size_t fLimit;
    std::vector<size_t> fRequests;
    OsType fLastTag = 0;
};

using LimitedBuffer = VMemoryBuffer<1024, 2, 1048576, LimitedMemMgr>;

// A value kind without a stream form of its own.
class NoStreamForm : public VValueSingle
{
public:
    void Clear() override {}
    VValue* Clone() const override { return new NoStreamForm(*this); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
};

std::vector<uint8_t> BytesOf(const VPtrStream& inStream)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(inStream.GetDataPtr());
    return std::vector<uint8_t>(bytes, bytes + inStream.GetDataSize());
}

TEST(MemoryBuffer, AmortizedGrowthSizes)
{
    struct Row
    {
        const char* fWhat;
        size_t fNeeded;
        size_t fAllocated;
    };
    const Row rows[] = {
        {"one byte rounds up to one granule", 1, 1024},
        {"100 bytes", 100, 1024},
        {"half again, rounded up", 3000, 5120},
        {"an exact granule still grows by half", 1024, 2048},
        {"the increment is capped at 1 MiB", 4 * kMiB, 5 * kMiB},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VMemoryBuffer<>::ComputeAmortizedSize(row.fNeeded), row.fAllocated) << row.fWhat;
        LimitedMemMgr manager(SIZE_MAX);
        LimitedBuffer buffer(&manager);
        ASSERT_TRUE(buffer._EnlargeAmortized(row.fNeeded)) << row.fWhat;
        EXPECT_EQ(buffer.GetAllocatedSize(), row.fAllocated) << row.fWhat;
        EXPECT_EQ(buffer.GetDataSize(), 0u) << row.fWhat;
        EXPECT_EQ(manager.fLastTag, kTagMemoryBuffer) << row.fWhat;
    }
}

TEST(MemoryBuffer, FallsBackToTheExactSizeThenGivesUpWithNothingChanged)
{
    LimitedMemMgr manager(4 * kMiB);
    LimitedBuffer buffer(&manager);
    ASSERT_TRUE(buffer.AddData("abc", 3));
    const void* block = buffer.GetDataPtr();

    ASSERT_TRUE(buffer._EnlargeAmortized(4 * kMiB));
    EXPECT_EQ(buffer.GetAllocatedSize(), 4 * kMiB);
    EXPECT_EQ(buffer.GetDataSize(), 3u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "abc", 3), 0);

    block = buffer.GetDataPtr();
    EXPECT_FALSE(buffer._EnlargeAmortized(4 * kMiB + 1));
    EXPECT_EQ(buffer.GetDataPtr(), block);
    EXPECT_EQ(buffer.GetAllocatedSize(), 4 * kMiB);
    EXPECT_EQ(buffer.GetDataSize(), 3u);
}

TEST(MemoryBuffer, SizesThatWouldWrapAroundAreNeverRequested)
{
    LimitedMemMgr manager(SIZE_MAX);
    LimitedBuffer buffer(&manager);
    ASSERT_TRUE(buffer.AddData("x", 1));
    manager.fLimit = 0; // every further request fails
    EXPECT_EQ(LimitedBuffer::ComputeAmortizedSize(SIZE_MAX - 10), 0u);
    EXPECT_FALSE(buffer._EnlargeAmortized(SIZE_MAX - 10));
    EXPECT_FALSE(buffer.AddData("y", SIZE_MAX));
    for (size_t request : manager.fRequests)
    {
        EXPECT_TRUE(request == 1024 || request >= SIZE_MAX - 10) << request;
    }
    EXPECT_EQ(buffer.GetDataSize(), 1u);
}

TEST(PtrStream, GrowsByTheBufferRuleAndExtendsWithZeros)
{
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.Put(7), VE_OK);
    EXPECT_EQ(stream.GetAllocatedSize(), 1024u);
    EXPECT_EQ(stream.GetSize(), 1);

    ASSERT_EQ(stream.SetPos(11), VE_OK);
    EXPECT_EQ(stream.GetSize(), 11);
    ASSERT_EQ(stream.Put(9), VE_OK);
    EXPECT_EQ(BytesOf(stream), (std::vector<uint8_t>{7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}));

    ASSERT_EQ(stream.SetSize(4), VE_OK);
    EXPECT_EQ(stream.GetPos(), 4);
    EXPECT_EQ(stream.GetAllocatedSize(), 4u);
    ASSERT_EQ(stream.SetSize(0), VE_OK);
    EXPECT_EQ(stream.GetDataPtr(), nullptr);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
}

TEST(Stream, MemoryStreamsShowTheirBlockOthersAnEmptyOne)
{
    const char bytes[] = "abc";
    VConstPtrStream fixed(bytes, 3);
    VStreamUnderlyingData data = fixed.GetUnderlyingData();
    EXPECT_TRUE(data.fValid);
    EXPECT_EQ(data.fData, bytes);
    EXPECT_EQ(data.fSize, 3u);

    VPtrStream grown;
    data = grown.GetUnderlyingData();
    EXPECT_TRUE(data.fValid) << "valid even while it holds nothing";
    EXPECT_EQ(data.fData, nullptr);
    ASSERT_EQ(grown.OpenWriting(), VE_OK);
    ASSERT_EQ(grown.PutData("hello", 5), VE_OK);
    data = grown.GetUnderlyingData();
    EXPECT_EQ(data.fData, grown.GetDataPtr());
    EXPECT_EQ(data.fSize, 5u);
    grown.CloseWriting();

    // The base answer: an empty descriptor.
    struct Bare : VConstPtrStream
    {
        Bare() : VConstPtrStream(nullptr, 0) {}
        VStreamUnderlyingData GetUnderlyingData() const override { return VStream::GetUnderlyingData(); }
    };
    data = Bare().GetUnderlyingData();
    EXPECT_FALSE(data.fValid);
    EXPECT_EQ(data.fData, nullptr);
    EXPECT_EQ(data.fSize, 0u);
}

TEST(Stream, OpeningRules)
{
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.OpenReading(), VE_STREAM_ALREADY_OPENED);
    EXPECT_EQ(stream.CloseWriting(), VE_STREAM_ALREADY_OPENED); // the kept error, but closed
    EXPECT_FALSE(stream.IsWriting());

    stream.SetReadOnly(true);
    EXPECT_EQ(stream.OpenWriting(), VE_STREAM_NOT_OPENED_FOR_WRITING);
    stream.SetReadOnly(false);
    stream.SetWriteOnly(true);
    EXPECT_EQ(stream.OpenReading(), VE_STREAM_NOT_OPENED_FOR_READING);
    stream.SetWriteOnly(false);

    EXPECT_EQ(stream.SetPos(0), VE_STREAM_NOT_OPENED_FOR_READING); // still the kept error
    ASSERT_EQ(stream.OpenReading(), VE_OK);                        // opening starts afresh
    EXPECT_EQ(stream.CloseReading(), VE_OK);
    EXPECT_EQ(stream.SetPos(0), VE_STREAM_NOT_OPENED);

    VPtrStream legacy;
    legacy.SetCharSet(static_cast<CharSet>(1280));
    EXPECT_EQ(legacy.OpenWriting(), VE_STREAM_NO_TEXT_CONVERTER);
    EXPECT_FALSE(legacy.IsWriting());

    const uint8_t bytes[] = {1, 2};
    VConstPtrStream constant(bytes, sizeof(bytes));
    EXPECT_EQ(constant.OpenWriting(), VE_STREAM_NOT_OPENED_FOR_WRITING);
    EXPECT_FALSE(constant.IsWriting());
}

TEST(Stream, SignatureSetsTheByteOrder)
{
    const uint32_t signature = MakeOsType('V', 'B', 'A', 'G');
    const uint8_t bigEndian[] = {'V', 'B', 'A', 'G', 0, 5};
    VConstPtrStream swapped(bigEndian, sizeof(bigEndian));
    ASSERT_EQ(swapped.OpenReading(signature), VE_OK);
    EXPECT_TRUE(swapped.NeedSwap());
    uint16_t word = 0;
    ASSERT_EQ(swapped.GetWord(word), VE_OK);
    EXPECT_EQ(word, 5);

    const uint8_t wrong[] = {'X', 'B', 'A', 'G', 0, 5};
    VConstPtrStream other(wrong, sizeof(wrong));
    EXPECT_EQ(other.OpenReading(signature), VE_STREAM_BAD_SIGNATURE);
    EXPECT_EQ(other.GetPos(), 0);
}

TEST(Stream, FirstErrorIsKeptAndLaterCallsDoNothing)
{
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    VConstPtrStream stream(bytes, sizeof(bytes));
    ASSERT_EQ(stream.OpenReading(), VE_OK);

    uint8_t buffer[8] = {};
    size_t count = 0;
    EXPECT_EQ(stream.GetData(buffer, 8, &count), VE_STREAM_EOF);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(stream.GetPos(), 5);

    int32_t value = 42;
    EXPECT_EQ(stream.GetLong(value), VE_STREAM_EOF);
    EXPECT_EQ(value, 42);
    int16_t words[2] = {};
    int32_t wordCount = 2;
    EXPECT_EQ(stream.GetWords(words, &wordCount), VE_STREAM_EOF);
    EXPECT_EQ(wordCount, 0);
    EXPECT_EQ(stream.SetPos(0), VE_STREAM_EOF);
    EXPECT_EQ(stream.GetPos(), 5);
    EXPECT_EQ(stream.SetPosByOffset(-5), VE_STREAM_EOF);
    EXPECT_EQ(stream.GetValue(), nullptr);
    EXPECT_EQ(stream.CloseReading(), VE_STREAM_EOF);

    // A short read of a number leaves the caller's variable alone.
    VConstPtrStream shortStream(bytes, 3);
    ASSERT_EQ(shortStream.OpenReading(), VE_OK);
    shortStream.SetNeedSwap(true);
    EXPECT_EQ(shortStream.GetLong(value), VE_STREAM_EOF);
    EXPECT_EQ(value, 42);
}

TEST(Stream, PositionsNeverGoBeforeTheStart)
{
    VPtrStream stream;
    EXPECT_EQ(stream.SetPosByOffset(1), VE_STREAM_NOT_OPENED);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abcd", 4), VE_OK);
    ASSERT_EQ(stream.SetPosByOffset(-3), VE_OK);
    EXPECT_EQ(stream.GetPos(), 1);
    EXPECT_EQ(stream.SetPosByOffset(-2), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream.GetPos(), 1);

    VPtrStream negative;
    ASSERT_EQ(negative.OpenWriting(), VE_OK);
    EXPECT_EQ(negative.SetPos(-1), VE_INVALID_PARAMETER);
    VPtrStream negativeSize;
    ASSERT_EQ(negativeSize.OpenWriting(), VE_OK);
    EXPECT_EQ(negativeSize.SetSize(-1), VE_INVALID_PARAMETER);

    const uint8_t bytes[] = {1, 2};
    VConstPtrStream constant(bytes, sizeof(bytes));
    ASSERT_EQ(constant.OpenReading(), VE_OK);
    EXPECT_EQ(constant.SetPos(3), VE_STREAM_EOF);
}

TEST(Stream, ArraysAreSwappedWithoutTouchingTheCallersArray)
{
    const int16_t words[3] = {0x0102, 0x0304, -2};
    const int32_t longs[2] = {0x01020304, -1};
    const int64_t long8s[1] = {0x0102030405060708};
    const double reals[1] = {1.5};

    VPtrStream stream;
    stream.SetBigEndian();
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutWords(words, 3), VE_OK);
    ASSERT_EQ(stream.PutLongs(longs, 2), VE_OK);
    ASSERT_EQ(stream.PutLong8s(long8s, 1), VE_OK);
    ASSERT_EQ(stream.PutReals(reals, 1), VE_OK);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);

    EXPECT_EQ(words[0], 0x0102);
    EXPECT_EQ(longs[0], 0x01020304);
    EXPECT_EQ(long8s[0], 0x0102030405060708);
    EXPECT_EQ(reals[0], 1.5);
    const std::vector<uint8_t> expected = {1,    2,    3,    4,    0xFF, 0xFE, 1, 2, 3, 4,
                                           0xFF, 0xFF, 0xFF, 0xFF, 1,    2,    3, 4, 5, 6,
                                           7,    8,    0x3F, 0xF8, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(BytesOf(stream), expected);

    VConstPtrStream reader(stream.GetDataPtr(), stream.GetDataSize());
    reader.SetBigEndian();
    ASSERT_EQ(reader.OpenReading(), VE_OK);
    int16_t readWords[4] = {};
    int32_t count = 3;
    ASSERT_EQ(reader.GetWords(readWords, &count), VE_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(readWords[2], -2);
    int32_t readLongs[2] = {};
    count = 2;
    ASSERT_EQ(reader.GetLongs(readLongs, &count), VE_OK);
    EXPECT_EQ(readLongs[0], 0x01020304);
    int64_t readLong8 = 0;
    count = 1;
    ASSERT_EQ(reader.GetLong8s(&readLong8, &count), VE_OK);
    EXPECT_EQ(readLong8, 0x0102030405060708);
    double readReals[2] = {};
    count = 2; // one more than there is: one whole item delivered
    EXPECT_EQ(reader.GetReals(readReals, &count), VE_STREAM_EOF);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(readReals[0], 1.5);
}

// Every scalar kind written with its kind and read back, in both byte orders.
TEST(Stream, ScalarRoundTripsInBothByteOrders)
{
    auto makeValues = []
    {
        std::vector<std::unique_ptr<VValueSingle>> values;
        values.emplace_back(new VEmpty());
        values.emplace_back(new VBoolean(true));
        values.emplace_back(new VBoolean(false));
        values.emplace_back(new VByte(int8_t{-1}));
        values.emplace_back(new VByte(int8_t{-128}));
        values.emplace_back(new VWord(int16_t{-12345}));
        values.emplace_back(new VLong(int32_t{-123456789}));
        values.emplace_back(new VLong8(int64_t{0x7102030405060708}));
        values.emplace_back(new VReal(-1.0 / 3.0));
        values.emplace_back(new VReal(std::numeric_limits<double>::infinity()));
        return values;
    };
    for (bool swap : {false, true})
    {
        auto values = makeValues();
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        for (const auto& value : values)
        {
            ASSERT_EQ(stream.PutValue(*value), VE_OK);
        }
        ASSERT_EQ(stream.CloseWriting(), VE_OK);

        VConstPtrStream reader(stream.GetDataPtr(), stream.GetDataSize());
        reader.SetNeedSwap(swap);
        ASSERT_EQ(reader.OpenReading(), VE_OK);
        for (const auto& value : values)
        {
            std::unique_ptr<VValue> read(reader.GetValue());
            ASSERT_NE(read, nullptr) << "swap " << swap << ", kind " << value->GetValueKind();
            ASSERT_EQ(read->GetValueKind(), value->GetValueKind());
            EXPECT_EQ(static_cast<VValueSingle*>(read.get())->GetReal(), value->GetReal())
                << "swap " << swap << ", kind " << value->GetValueKind();
            EXPECT_EQ(read->IsNull(), value->IsNull());
        }
        EXPECT_EQ(reader.GetPos(), reader.GetSize());
    }
}

TEST(Stream, StreamFormsOfTheOneByteKinds)
{
    struct Row
    {
        const char* fWhat;
        std::unique_ptr<VValueSingle> fValue;
        std::vector<uint8_t> fSwapped;
    };
    Row rows[] = {
        {"byte -1 is sign-extended", std::make_unique<VByte>(int8_t{-1}), {0xFF, 0xFF}},
        {"byte 5", std::make_unique<VByte>(int8_t{5}), {0x00, 0x05}},
        {"boolean true", std::make_unique<VBoolean>(true), {0x00, 0x01}},
        {"long", std::make_unique<VLong>(0x01020304), {1, 2, 3, 4}},
    };
    for (Row& row : rows)
    {
        VPtrStream stream;
        stream.SetNeedSwap(true);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(row.fValue->WriteToStream(&stream), VE_OK) << row.fWhat;
        EXPECT_EQ(BytesOf(stream), row.fSwapped) << row.fWhat;
    }

    // Reading keeps the low byte of the field; any non-zero field is true.
    const uint8_t field[] = {0x12, 0x85, 0x02, 0x00};
    VConstPtrStream reader(field, sizeof(field));
    reader.SetNeedSwap(true);
    ASSERT_EQ(reader.OpenReading(), VE_OK);
    VByte byte;
    ASSERT_EQ(byte.ReadFromStream(&reader), VE_OK);
    EXPECT_EQ(byte.GetByte(), int8_t(0x85));
    VBoolean boolean;
    ASSERT_EQ(boolean.ReadFromStream(&reader), VE_OK);
    EXPECT_TRUE(boolean.GetBoolean());
}

TEST(Stream, ReadingAValueKeepsTheFlagsAndReturnsTheStreamError)
{
    const uint8_t bytes[] = {1, 0};
    VConstPtrStream reader(bytes, sizeof(bytes));
    ASSERT_EQ(reader.OpenReading(), VE_OK);
    VLong value(7);
    value.SetNull(true);
    value.SetDirty(false);
    EXPECT_EQ(value.ReadFromStream(&reader), VE_STREAM_EOF);
    EXPECT_EQ(value.GetLong(), 7);
    EXPECT_TRUE(value.IsNull());
    EXPECT_FALSE(value.IsDirty());
    // The value model's default forms read and write nothing and report the stream's error.
    NoStreamForm plain;
    EXPECT_EQ(plain.ReadFromStream(&reader), VE_STREAM_EOF);
    EXPECT_EQ(plain.WriteToStream(&reader), VE_STREAM_EOF);
}

TEST(Stream, TextIsEncodedWithTheLineEndingsOfTheMode)
{
    struct Row
    {
        const char* fWhat;
        CharSet fCharSet;
        ECarriageReturnMode fMode;
        std::vector<uint8_t> fBytes;
    };
    // "é" CR LF "a" CR, then U+1F600.
    const UniChar text[] = {0xE9, '\r', '\n', 'a', '\r', 0xD83D, 0xDE00};
    const Row rows[] = {
        {"UTF-8, LF", CharSet::VTC_UTF_8, eCRM_LF, {0xC3, 0xA9, '\n', 'a', '\n', 0xF0, 0x9F, 0x98, 0x80}},
        {"UTF-8, CR LF",
         CharSet::VTC_UTF_8,
         eCRM_CRLF,
         {0xC3, 0xA9, '\r', '\n', 'a', '\r', '\n', 0xF0, 0x9F, 0x98, 0x80}},
        {"UTF-8 kept",
         CharSet::VTC_UTF_8,
         eCRM_NONE,
         {0xC3, 0xA9, '\r', '\n', 'a', '\r', 0xF0, 0x9F, 0x98, 0x80}},
        {"UTF-16 big-endian, CR",
         CharSet::VTC_UTF_16_BIGENDIAN,
         eCRM_CR,
         {0, 0xE9, 0, '\r', 0, 'a', 0, '\r', 0xD8, 0x3D, 0xDE, 0x00}},
        {"UTF-32 native", CharSet::VTC_UTF_32, eCRM_LF, {0xE9, 0, 0,    0, '\n', 0, 0,    0,    'a',  0,
                                                         0,    0, '\n', 0, 0,    0, 0x00, 0xF6, 0x01, 0}},
        {"ASCII", CharSet::VTC_US_ASCII, eCRM_LF, {'?', '\n', 'a', '\n', '?'}},
        // The tests run in the C locale, whose plain ASCII is read as UTF-8.
        {"C library set",
         CharSet::VTC_StdLib_char,
         eCRM_LF,
         {0xC3, 0xA9, '\n', 'a', '\n', 0xF0, 0x9F, 0x98, 0x80}},
    };
    for (const Row& row : rows)
    {
        VPtrStream stream;
        stream.SetCharSet(row.fCharSet);
        stream.SetCarriageReturnMode(row.fMode);
        ASSERT_EQ(stream.OpenWriting(), VE_OK) << row.fWhat;
        ASSERT_EQ(stream.PutText(VString(text, 7)), VE_OK) << row.fWhat;
        EXPECT_EQ(BytesOf(stream), row.fBytes) << row.fWhat;
    }
}

} // namespace
