#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VBlob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace zorn;

namespace
{

std::string Content(const VBlob& inBlob)
{
    return std::string(static_cast<const char*>(inBlob.GetDataPtr()), inBlob.GetSize());
}

VBlobWithPtr Blob(const std::string& inBytes)
{
    return VBlobWithPtr(inBytes.data(), inBytes.size());
}

TEST(Blob, GetDataCopiesWhatExistsAndReportsAShortRead)
{
    const VBlobWithPtr blob = Blob("abcd");
    struct Row
    {
        const char* fWhat;
        size_t fLength;
        size_t fOffset;
        size_t fGot;
        VError fResult;
    };
    const Row rows[] = {
        {"all of it", 4, 0, 4, VE_OK},
        {"10 asked of 4", 10, 0, 4, VE_STREAM_EOF},
        {"tail from offset 3", 2, 3, 1, VE_STREAM_EOF},
        {"offset at the end", 1, 4, 0, VE_STREAM_EOF},
        {"offset past the end", 1, 9, 0, VE_STREAM_EOF},
        {"nothing asked", 0, 9, 0, VE_OK},
    };
    for (const Row& row : rows)
    {
        char buffer[16] = {};
        size_t got = 99;
        EXPECT_EQ(blob.GetData(buffer, row.fLength, row.fOffset, &got), row.fResult) << row.fWhat;
        EXPECT_EQ(got, row.fGot) << row.fWhat;
        EXPECT_EQ(std::string(buffer, got), std::string("abcd").substr(std::min<size_t>(row.fOffset, 4), got))
            << row.fWhat;
    }
}

TEST(Blob, PutDataGrowsButNeverShrinksAndZeroFillsAGap)
{
    VBlobWithPtr blob = Blob("0123456789");
    blob.SetNull(true);
    ASSERT_EQ(blob.FromData("0123456789", 10), VE_OK);
    EXPECT_FALSE(blob.IsNull());

    ASSERT_EQ(blob.PutData("WXYZ", 4, 8), VE_OK);
    EXPECT_EQ(Content(blob), "01234567WXYZ");

    ASSERT_EQ(blob.PutData("ab", 2, 1), VE_OK); // inside: the size stays
    EXPECT_EQ(Content(blob), "0ab34567WXYZ");

    ASSERT_EQ(blob.PutData("!", 1, 14), VE_OK);
    EXPECT_EQ(Content(blob), std::string("0ab34567WXYZ\0\0!", 15));
}

TEST(Blob, FromDataNullEmptiesWithoutMakingNull)
{
    VBlobWithPtr blob = Blob("abc");
    blob.SetNull(true);
    EXPECT_EQ(blob.GetSize(), 0u); // setting the null flag empties the blob

    ASSERT_EQ(blob.FromData(nullptr, 0), VE_OK);
    EXPECT_FALSE(blob.IsNull());
    EXPECT_EQ(blob.GetSize(), 0u);
    EXPECT_EQ(blob.GetDataPtr(), nullptr);

    ASSERT_EQ(blob.SetSize(5), VE_OK);
    blob.Clear();
    EXPECT_EQ(blob.GetSize(), 0u);
    EXPECT_FALSE(blob.IsNull());
}

TEST(Blob, EqualityComparesBytesAndANullBlobEqualsNothing)
{
    VBlobWithPtr a = Blob("abc");
    VBlobWithPtr b = Blob("abc");
    VConstBlobWithPtr view("abc", 3);
    EXPECT_TRUE(a.EqualToSameKind(&b));
    EXPECT_TRUE(a.EqualToSameKind(&view));
    EXPECT_TRUE(view.EqualToSameKind(&a));
    VConstBlobWithPtr other("abd", 3);
    EXPECT_FALSE(view.EqualToSameKind(&other)) << "two views of different bytes";
    EXPECT_FALSE(a.EqualToSameKind(nullptr));

    VBlobWithPtr empty1;
    VBlobWithPtr empty2;
    EXPECT_TRUE(empty1.EqualToSameKind(&empty2));
    empty1.SetNull(true);
    empty2.SetNull(true);
    EXPECT_FALSE(empty1.EqualToSameKind(&empty2));
    EXPECT_FALSE(empty1.EqualToSameKind(&empty1));
    EXPECT_FALSE(b.EqualToSameKind(&empty1));
    EXPECT_EQ(a.CompareTo(b), CR_UNRELEVANT);
}

TEST(Blob, ConstBlobRefusesEveryWriteAndKeepsItsBytes)
{
    const char bytes[] = "view";
    VConstBlobWithPtr view(bytes, 4);
    VConstPtrStream stream("\x01\x00\x00\x00z", 5);
    ASSERT_EQ(stream.OpenReading(), VE_OK);

    EXPECT_EQ(view.PutData("x", 1, 0), VE_STREAM_NOT_OPENED_FOR_WRITING);
    EXPECT_EQ(view.FromData("x", 1), VE_STREAM_NOT_OPENED_FOR_WRITING);
    EXPECT_EQ(view.SetSize(0), VE_STREAM_NOT_OPENED_FOR_WRITING);
    EXPECT_EQ(view.ReadFromStream(&stream), VE_STREAM_NOT_OPENED_FOR_WRITING);
    view.Clear();
    view.SetNull(true);
    EXPECT_EQ(view.GetDataPtr(), bytes);
    EXPECT_EQ(Content(view), "view");

    // Copies and clones share the same bytes.
    std::unique_ptr<VValue> clone(view.Clone());
    EXPECT_EQ(static_cast<VBlob*>(clone.get())->GetDataPtr(), bytes);
    VBlobWithPtr owned;
    view.GetValue(owned);
    EXPECT_EQ(Content(owned), "view");
    EXPECT_NE(owned.GetDataPtr(), bytes);
}

TEST(Blob, PackedFormIsAMachineOrderLengthThenTheBytes)
{
    VBlobWithPtr blob = Blob("xyz");
    ASSERT_EQ(blob.GetSpace(), 7u);
    unsigned char packed[7] = {};
    EXPECT_EQ(blob.WriteToPtr(packed), packed + 7);
    uint32_t length = 3;
    EXPECT_EQ(std::memcmp(packed, &length, 4), 0);
    EXPECT_EQ(std::memcmp(packed + 4, "xyz", 3), 0);

    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_BLOB);
    ASSERT_EQ(info, &VBlob::Info());
    EXPECT_EQ(info->GetSizeOfValueDataPtr(packed), 7u);
    std::unique_ptr<VValue> loaded(info->LoadFromPtr(packed, false));
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(loaded.get()), nullptr);
    EXPECT_EQ(Content(*static_cast<VBlob*>(loaded.get())), "xyz");

    EXPECT_EQ(info->ByteSwapPtr(packed, true), packed + 4);
    EXPECT_EQ(packed[0], 0);
    EXPECT_EQ(packed[3], 3);
    EXPECT_EQ(std::memcmp(packed + 4, "xyz", 3), 0) << "the bytes are not swapped";
}

TEST(Blob, LoadingAnEmptyPackedBlobEmptiesTheBlob)
{
    VBlobWithPtr blob = Blob("old bytes");
    const unsigned char packed[4] = {0, 0, 0, 0};
    EXPECT_EQ(blob.LoadFromPtr(packed), packed + 4);
    EXPECT_EQ(blob.GetSize(), 0u);
    EXPECT_FALSE(blob.IsNull());
}

TEST(Blob, StreamFormInBothByteOrders)
{
    for (bool swap : {false, true})
    {
        VBlobWithPtr blob = Blob("xyz");
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(blob.WriteToStream(&stream), VE_OK);
        ASSERT_EQ(stream.GetDataSize(), 7u);
        const unsigned char* bytes = static_cast<const unsigned char*>(stream.GetDataPtr());
        const unsigned char native[4] = {3, 0, 0, 0};
        const unsigned char swapped[4] = {0, 0, 0, 3};
        EXPECT_EQ(std::memcmp(bytes, swap ? swapped : native, 4), 0) << swap;
        EXPECT_EQ(std::memcmp(bytes + 4, "xyz", 3), 0) << swap;
        stream.CloseWriting();

        VConstPtrStream reader(stream.GetDataPtr(), stream.GetDataSize());
        reader.SetNeedSwap(swap);
        ASSERT_EQ(reader.OpenReading(), VE_OK);
        VBlobWithPtr read = Blob("previous content");
        EXPECT_EQ(read.ReadFromStream(&reader), VE_OK);
        EXPECT_EQ(Content(read), "xyz");
    }
}

TEST(Blob, StreamLengthBeyondTheDataIsRefusedWithoutAllocating)
{
    // A length of 4 GB - 16 followed by two bytes.
    const unsigned char data[] = {0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b'};
    VConstPtrStream stream(data, sizeof(data));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VBlobWithPtr blob = Blob("keep?");
    EXPECT_EQ(blob.ReadFromStream(&stream), VE_STREAM_EOF);
    EXPECT_EQ(blob.GetSize(), 0u);

    VConstPtrStream truncated(data, 2);
    ASSERT_EQ(truncated.OpenReading(), VE_OK);
    EXPECT_NE(blob.ReadFromStream(&truncated), VE_OK);
}

TEST(Blob, CopiesAndValueTransfers)
{
    VBlobWithPtr source = Blob("data");
    source.SetDirty(false);
    VBlobWithPtr copy(source);
    EXPECT_TRUE(copy.IsDirty());
    EXPECT_EQ(Content(copy), "data");
    EXPECT_NE(copy.GetDataPtr(), source.GetDataPtr());

    VBlobWithPtr target = Blob("something longer");
    EXPECT_TRUE(target.FromValueSameKind(&source));
    EXPECT_EQ(Content(target), "data");
    VBlobWithPtr nullBlob;
    nullBlob.SetNull(true);
    EXPECT_TRUE(target.FromValueSameKind(&nullBlob));
    EXPECT_TRUE(target.IsNull());
    EXPECT_EQ(target.GetSize(), 0u);

    VConstBlobWithPtr view("view", 4);
    EXPECT_FALSE(target.FromValueSameKind(&view)) << "only an owning blob is taken";
    target.FromValue(source);
    EXPECT_EQ(Content(target), "data");
    VBlobWithPtr fromView(static_cast<const VBlob&>(view));
    EXPECT_EQ(Content(fromView), "view");

    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_BLOB));
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(generated.get()), nullptr);
    EXPECT_EQ(static_cast<VBlob*>(generated.get())->GetSize(), 0u);
}

} // namespace
