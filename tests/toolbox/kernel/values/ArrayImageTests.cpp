// The image array (kind 111): elements, copies and the stream form, without any value of kind 12
// (as in this program) and with a test image kind registered.
#include "tests/StreamTestSupport.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace zorn;
using test::Bytes;
using test::Int32;
using test::operator+;

namespace
{

// A stand-in image: bytes, written as a 64-bit count and the bytes (8 zero bytes read as an empty
// image, which is what a missing image is written as).
class TestImage : public VValueSingle
{
public:
    using Info = VValueInfo_default<TestImage, VK_IMAGE>;
    static const Info* sInfo;

    TestImage() = default;
    explicit TestImage(std::string inBytes) : fBytes(std::move(inBytes)) {}

    const VValueInfo* GetValueInfo() const override { return sInfo; }
    void Clear() override { fBytes.clear(); }
    VValue* Clone() const override { return new TestImage(fBytes); }
    void FromValue(const VValueSingle& inValue) override
    {
        fBytes = static_cast<const TestImage&>(inValue).fBytes;
    }
    CompareResult CompareTo(const VValueSingle& inValue, bool) const override
    {
        return CompareToSameKind(&inValue);
    }
    CompareResult CompareToSameKind(const VValue* inValue, bool = false) const override
    {
        const int order = fBytes.compare(static_cast<const TestImage*>(inValue)->fBytes);
        return order < 0 ? CR_SMALLER : (order > 0 ? CR_BIGGER : CR_EQUAL);
    }
    VError WriteToStream(VStream* ioStream, int32_t = 0) const override
    {
        const int64_t size = static_cast<int64_t>(fBytes.size());
        ioStream->PutLong8s(&size, 1);
        return ioStream->PutData(fBytes.data(), fBytes.size());
    }
    VError ReadFromStream(VStream* ioStream, int32_t = 0) override
    {
        int64_t size = 0;
        int32_t count = 1;
        if (ioStream->GetLong8s(&size, &count) != VE_OK || size < 0 ||
            static_cast<uint64_t>(size) > ioStream->GetBytesLeft())
        {
            return VE_STREAM_EOF;
        }
        fBytes.resize(static_cast<size_t>(size));
        return ioStream->GetData(fBytes.data(), fBytes.size());
    }

    std::string fBytes;
};

const TestImage::Info* TestImage::sInfo = nullptr;

// Kind 12 registered for the scope.
class StImageKind
{
public:
    StImageKind() { TestImage::sInfo = &fInfo; }
    ~StImageKind() { TestImage::sInfo = nullptr; }
    StImageKind(const StImageKind&) = delete;
    StImageKind& operator=(const StImageKind&) = delete;

private:
    TestImage::Info fInfo;
};

Bytes Written(const VArrayValue& inArray, int32_t inParam)
{
    VPtrStream stream;
    EXPECT_EQ(VE_OK, stream.OpenWriting());
    EXPECT_EQ(VE_OK, inArray.WriteToStream(&stream, inParam));
    EXPECT_EQ(VE_OK, stream.CloseWriting());
    const uint8_t* bytes = static_cast<const uint8_t*>(stream.GetDataPtr());
    return Bytes(bytes, bytes + stream.GetDataSize());
}

VError Read(VArrayValue& ioArray, const Bytes& inBytes, size_t* outLeft = nullptr)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    EXPECT_EQ(VE_OK, stream.OpenReading());
    VError error = ioArray.ReadFromStream(&stream);
    if (outLeft != nullptr)
    {
        *outLeft = static_cast<size_t>(stream.GetBytesLeft());
    }
    return error;
}

Bytes Long8(int64_t inValue)
{
    Bytes bytes(8);
    std::memcpy(bytes.data(), &inValue, 8);
    return bytes;
}

std::string ImageAt(const VArrayImage& inArray, int32_t inIndex)
{
    const VValueSingle* image = inArray.GetObject(inIndex);
    return image == nullptr ? "(missing)" : static_cast<const TestImage*>(image)->fBytes;
}

TEST(ArrayImage, WithoutAnImageKind)
{
    ASSERT_EQ(nullptr, VValue::ValueInfoFromValueKind(VK_IMAGE));
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_ARRAY_IMAGE));
    ASSERT_NE(nullptr, generated);
    EXPECT_EQ(VK_ARRAY_IMAGE, generated->GetValueKind());

    VArrayImage images(2);
    EXPECT_EQ(2, images.GetCount());
    EXPECT_EQ(VK_IMAGE, images.GetElemValueKind());
    EXPECT_EQ(nullptr, images.CloneValue(1));
    // Missing images are written as 8 zero bytes each, with no kind even for 'VVAL'.
    const Bytes written = Int32(2) + Bytes(16, 0);
    EXPECT_EQ(written, Written(images, kStreamParamWithKind));

    struct Row
    {
        const char* fWhat;
        Bytes fBytes;
        VError fError;
    };
    const Row rows[] = {
        {"no image reads as empty", Int32(0), VE_OK},
        // The images cannot be read nor passed over: refused, rather than leaving the stream inside
        // them.
        {"images of an unknown kind", written, VE_UNIMPLEMENTED},
        {"a negative count", Int32(-1), VE_VALUE_ARRAY_STREAM_INVALID},
        {"a count beyond the bytes", Int32(0x7FFFFFFF) + Bytes(4, 0), VE_STREAM_EOF},
    };
    for (const Row& row : rows)
    {
        VArrayImage read(3);
        EXPECT_EQ(row.fError, Read(read, row.fBytes)) << row.fWhat;
        EXPECT_EQ(0, read.GetCount()) << row.fWhat;
    }
}

TEST(ArrayImage, WithAnImageKind)
{
    StImageKind kind;
    VArrayImage images(3);
    images.FromValue(TestImage("ab"), 1);
    images.FromValue(TestImage("c"), 3);
    images.FromValue(VLong(5), 2);       // no image: ignored
    images.FromValue(TestImage("x"), 4); // no such element
    EXPECT_EQ("ab", ImageAt(images, 1));
    EXPECT_EQ("(missing)", ImageAt(images, 2));
    EXPECT_EQ("c", ImageAt(images, 3));

    TestImage out("old");
    images.GetValue(out, 3);
    EXPECT_EQ("c", out.fBytes);
    images.GetValue(out, 2);
    EXPECT_EQ("", out.fBytes) << "a missing image clears the output";
    std::unique_ptr<VValueSingle> clone(images.CloneValue(1));
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ("ab", static_cast<TestImage*>(clone.get())->fBytes);
    EXPECT_EQ(CR_UNRELEVANT, images.CompareTo(TestImage("ab"), false, 1));

    // Copies own their images.
    VArrayImage copy(images);
    images.FromValue(TestImage("changed"), 1);
    EXPECT_EQ("ab", ImageAt(copy, 1));

    // Sorting: a missing image first, then by the images' order.
    copy.Sort(0, 2, false);
    EXPECT_EQ("(missing)", ImageAt(copy, 1));
    EXPECT_EQ("ab", ImageAt(copy, 2));
    EXPECT_EQ("c", ImageAt(copy, 3));

    images.FromValue(TestImage("ab"), 1);
    const Bytes written = Int32(3) + Long8(2) + Bytes{'a', 'b'} + Bytes(8, 0) + Long8(1) + Bytes{'c'};
    EXPECT_EQ(written, Written(images, kStreamParamWithKind));

    VArrayImage read;
    size_t left = 1;
    EXPECT_EQ(VE_OK, Read(read, written + Bytes{0x7F}, &left));
    EXPECT_EQ(1u, left) << "the images' bytes are read, no more";
    ASSERT_EQ(3, read.GetCount());
    EXPECT_EQ("ab", ImageAt(read, 1));
    EXPECT_EQ("", ImageAt(read, 2)) << "a missing image reads back as what its 8 zero bytes are";
    EXPECT_EQ("c", ImageAt(read, 3));

    // A cut anywhere fails and leaves the array empty.
    for (size_t cut = 0; cut < written.size(); ++cut)
    {
        VArrayImage shortened(1);
        EXPECT_NE(VE_OK,
                  Read(shortened, Bytes(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(cut))))
            << "cut " << cut;
        EXPECT_EQ(0, shortened.GetCount()) << "cut " << cut;
    }
}

} // namespace
