#include "tests/StreamTestSupport.h"
#include "tests/StringTestSupport.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace zorn;
using zorn::test::Text;

namespace
{

using test::Bytes;
using test::Int32;
using test::operator+;

// A read-only stream over bytes that cannot tell its size, like a pipe.
class SizelessStream : public VStream
{
public:
    explicit SizelessStream(Bytes inBytes) : fBytes(std::move(inBytes)) {}

protected:
    VError DoPutData(const void*, size_t) override { return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING); }
    VError DoGetData(void* outData, size_t* ioCount) override
    {
        size_t position = static_cast<size_t>(GetPos());
        size_t count = std::min(*ioCount, fBytes.size() - std::min(position, fBytes.size()));
        std::memcpy(outData, fBytes.data() + position, count);
        bool short_ = count < *ioCount;
        *ioCount = count;
        return short_ ? _ThrowError(VE_STREAM_EOF) : VE_OK;
    }
    int64_t DoGetSize() override { return -1; }
    VError DoSetSize(int64_t) override { return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING); }

private:
    Bytes fBytes;
};

// A value kind that has no stream form.
class Unstreamable : public VValueSingle
{
public:
    void Clear() override {}
    VValue* Clone() const override { return new Unstreamable(*this); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
    bool CanBeStreamed() const override { return false; }
};

Bytes Written(const VString& inText, bool inSwap)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(inText.WriteToStream(&stream), VE_OK);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
    const uint8_t* bytes = static_cast<const uint8_t*>(stream.GetDataPtr());
    return Bytes(bytes, bytes + stream.GetDataSize());
}

// Reads a string from the bytes into a string that held "old"; the error and the string.
VError Read(const Bytes& inBytes, VString& outText, bool inSwap = false)
{
    outText.FromString(CVSTR("old"));
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenReading(), VE_OK);
    return outText.ReadFromStream(&stream);
}

TEST(StringStream, WrittenForms)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        bool fSwap;
        Bytes fBytes;
        size_t fSizeInStream;
    };
    const Row rows[] = {
        {"empty", u"", false, {0, 0, 0, 0}, 4},
        {"three units", u"ab\xE9", false, {0xFD, 0xFF, 0xFF, 0xFF, 'a', 0, 'b', 0, 0xE9, 0}, 16},
        {"three units swapped", u"ab\xE9", true, {0xFF, 0xFF, 0xFF, 0xFD, 0, 'a', 0, 'b', 0, 0xE9}, 16},
    };
    for (const Row& row : rows)
    {
        VString text(reinterpret_cast<const UniChar*>(row.fText.data()),
                     static_cast<int32_t>(row.fText.size()));
        EXPECT_EQ(Written(text, row.fSwap), row.fBytes) << row.fWhat;
        EXPECT_EQ(text.GetSizeInStream(), row.fSizeInStream) << row.fWhat;
        VString back;
        EXPECT_EQ(Read(row.fBytes, back, row.fSwap), VE_OK) << row.fWhat;
        EXPECT_EQ(Text(back), row.fText) << row.fWhat;
        EXPECT_FALSE(back.IsNull()) << row.fWhat;
    }
}

TEST(StringStream, OlderForm)
{
    const Bytes units = {'a', 0, 'b', 0, 'c', 0, 0, 0};
    VString text;
    for (int32_t code : {1, 2})
    {
        EXPECT_EQ(Read(Int32(3) + Int32(code) + units, text), VE_OK);
        EXPECT_EQ(Text(text), u"abc") << code;
    }

    // Any other code: length + 1 bytes skipped, the string left; the next record follows.
    const Bytes record = Int32(3) + Int32(7) + Bytes{'x', 'y', 'z', 0} + Int32(-1) + Bytes{'q', 0};
    VConstPtrStream stream(record.data(), record.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    text.FromString(CVSTR("kept"));
    EXPECT_EQ(text.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Text(text), u"kept");
    EXPECT_EQ(stream.GetPos(), 12);
    EXPECT_EQ(text.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Text(text), u"q");
}

TEST(StringStream, TruncationAtEveryByteGivesWhatCouldBeRead)
{
    const Bytes negated = Int32(-4) + Bytes{'a', 0, 'b', 0, 'c', 0, 'd', 0};
    const Bytes older = Int32(3) + Int32(1) + Bytes{'a', 0, 'b', 0, 'c', 0, 0, 0};
    for (const Bytes* full : {&negated, &older})
    {
        const size_t header = full == &negated ? 4 : 8;
        for (size_t cut = 0; cut < full->size(); ++cut)
        {
            VString text;
            EXPECT_EQ(Read(Bytes(full->begin(), full->begin() + static_cast<std::ptrdiff_t>(cut)), text),
                      VE_STREAM_EOF)
                << cut;
            if (cut < header)
            {
                EXPECT_EQ(Text(text), u"old") << cut;
            }
            else
            {
                EXPECT_EQ(Text(text), std::u16string(u"abcd").substr(0, (cut - header) / 2)) << cut;
            }
        }
    }
}

TEST(StringStream, HostileLengthsAllocateNoMoreThanTheStreamHolds)
{
    const Bytes tenBytes = {'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0};
    struct Row
    {
        const char* fWhat;
        Bytes fBytes;
        std::u16string fText;
    };
    const Row rows[] = {
        {"2^30 units over 10 bytes", Int32(-(1 << 30)) + tenBytes, u"abcde"},
        {"INT32_MIN", Int32(INT32_MIN) + tenBytes, u"abcde"},
        {"older form, INT32_MAX units", Int32(INT32_MAX) + Int32(1) + tenBytes, u"abcde"},
        {"older form, INT32_MAX bytes skipped", Int32(INT32_MAX) + Int32(7) + tenBytes, u"old"},
    };
    for (const Row& row : rows)
    {
        VString known;
        EXPECT_EQ(Read(row.fBytes, known), VE_STREAM_EOF) << row.fWhat;
        EXPECT_EQ(Text(known), row.fText) << row.fWhat;
        EXPECT_LT(known.GetCapacity(), 64) << row.fWhat;

        // A stream that cannot tell its size is read in bounded chunks.
        SizelessStream stream(row.fBytes);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VString sizeless(CVSTR("old"));
        EXPECT_EQ(sizeless.ReadFromStream(&stream), VE_STREAM_EOF) << row.fWhat;
        EXPECT_EQ(Text(sizeless), row.fText) << row.fWhat;
        EXPECT_LT(sizeless.GetCapacity(), 1 << 20) << row.fWhat;
    }

    // Skipping never grows a stream that extends itself when positioned past its end.
    VPtrStream growing;
    ASSERT_EQ(growing.OpenWriting(), VE_OK);
    const Bytes skipped = Int32(INT32_MAX) + Int32(7) + tenBytes;
    growing.PutData(skipped.data(), skipped.size());
    growing.CloseWriting();
    ASSERT_EQ(growing.OpenReading(), VE_OK);
    VString text;
    EXPECT_EQ(text.ReadFromStream(&growing), VE_STREAM_EOF);
    EXPECT_EQ(growing.GetDataSize(), skipped.size());
}

TEST(StringStream, LongTextFromAStreamThatCannotTellItsSize)
{
    std::u16string units(300000, u'x');
    units[123456] = u'\xE9';
    VString text(reinterpret_cast<const UniChar*>(units.data()), static_cast<int32_t>(units.size()));
    SizelessStream stream(Written(text, false));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString back;
    EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Text(back), units);
}

TEST(StringStream, ValuesThroughPutValueAndGetValue)
{
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutValue(VString(CVSTR("h\xE9llo"))), VE_OK);
    ASSERT_EQ(stream.PutValue(VLong(-42)), VE_OK);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    std::unique_ptr<VValue> first(stream.GetValue());
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->GetValueKind(), VK_STRING);
    EXPECT_EQ(Text(*static_cast<VString*>(first.get())), u"h\xE9llo");
    std::unique_ptr<VValue> second(stream.GetValue());
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->GetValueKind(), VK_LONG);
    EXPECT_EQ(static_cast<VLong*>(second.get())->GetLong(), -42);
    EXPECT_EQ(stream.GetPos(), stream.GetSize());
}

TEST(StringStream, ValuesWithoutAStreamFormAreRefusedBothWays)
{
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutValue(Unstreamable()), VE_UNIMPLEMENTED);
    EXPECT_EQ(stream.GetLastError(), VE_UNIMPLEMENTED);
    EXPECT_EQ(stream.GetDataSize(), 0u); // not even the kind
    stream.CloseWriting();

    // A registered kind whose values have no stream form: reading one fails the stream.
    constexpr ValueKind kUnstreamable = 250;
    VValueInfo_default<Unstreamable, kUnstreamable> info;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.PutWord(static_cast<int16_t>(kUnstreamable));
    stream.CloseWriting();
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetValue(), nullptr);
    EXPECT_EQ(stream.GetLastError(), VE_UNIMPLEMENTED);
}

} // namespace
