// The stream form of value bags: exact bytes in both orders, the hash index, repacking before
// writing, and a reader that refuses malformed or truncated input without reading past it.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Key = VValueBag::StKey;
using Bytes = std::vector<uint8_t>;

Bytes Written(const VValueBag& inBag, bool inSwap, bool inFramed = true, bool inWithIndex = true)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(inFramed ? inBag.WriteToStream(&stream) : inBag.WriteToStreamMinimal(&stream, inWithIndex),
              VE_OK);
    stream.CloseWriting();
    const auto* data = static_cast<const uint8_t*>(stream.GetDataPtr());
    return Bytes(data, data + stream.GetDataSize());
}

VError Read(VValueBag& ioBag, const Bytes& inBytes, bool inSwap, bool inFramed = true)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenReading(), VE_OK);
    return inFramed ? ioBag.ReadFromStream(&stream) : ioBag.ReadFromStreamMinimal(&stream);
}

bool IsEmptyBag(const VValueBag& inBag)
{
    return inBag.GetAttributesCount() == 0 && inBag.GetElementNamesCount() == 0;
}

TEST(BagStream, ExactBytes)
{
    Bag empty;
    EXPECT_EQ(Written(*empty, false), (Bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Written(*empty, true), (Bytes{0x56, 0x42, 0x41, 0x47, 0x00, 0x01, 0x00, 0x00, 0x00}));

    Bag one;
    one->SetLong(Key("a"), 5);
    const Bytes expected = {0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, // header
                            0x01,                                           // flags: attributes
                            0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, // 1 key, block of 2
                            0x01, 0x61,                                     // "a"
                            0x00,                                           // no index
                            0x03, 0x00, 0x00, 0x00,                         // 3 units
                            0x04, 0x00, 0x05, 0x00, 0x00, 0x00};            // VLong 5
    EXPECT_EQ(Written(*one, false), expected);
    Bag back;
    ASSERT_EQ(Read(*back, expected, false), VE_OK);
    int32_t value = 0;
    EXPECT_TRUE(back->GetLong(Key("a"), value));
    EXPECT_EQ(value, 5);
}

TEST(BagStream, SixAttributesCarryTheIndexUnlessTheMinimalWriterLeavesItOut)
{
    Bag bag;
    for (const char* name : {"k1", "k2", "k3", "k4", "k5", "k6"})
    {
        bag->SetString(Key(name), VString(name));
    }
    const Bytes framed = Written(*bag, false);
    // Header 8, flags 1, counts 8, block 6 * 3: the index flag, then the cell count.
    const size_t flagAt = 8 + 1 + 8 + 18;
    ASSERT_GT(framed.size(), flagAt + 5);
    EXPECT_EQ(framed[flagAt], 1);
    uint32_t cells;
    std::memcpy(&cells, &framed[flagAt + 1], 4);
    EXPECT_EQ(cells, 11u);

    const Bytes minimal = Written(*bag, false, false, false);
    EXPECT_EQ(minimal[flagAt - 8], 0);
    Bag back;
    ASSERT_EQ(Read(*back, minimal, false, false), VE_OK);
    EXPECT_EQ(back->GetAttributesDictionary().GetHashIndex().GetCellCount(), 11u) << "the reader built it";
    EXPECT_EQ(Written(*back, false), framed);
}

TEST(BagStream, HeaderErrorsLeaveAnEmptyBag)
{
    Bag source;
    source->SetLong(Key("a"), 5);
    Bytes version2 = Written(*source, false);
    version2[4] = 2;
    Bytes badTag = Written(*source, false);
    badTag[0] = 'X';

    Bag bag;
    bag->SetString(Key("before"), VString("x"));
    EXPECT_EQ(Read(*bag, version2, false), MakeVError(kCOMPONENT_ZORN, 212));
    EXPECT_TRUE(IsEmptyBag(*bag));
    bag->SetString(Key("before"), VString("x"));
    EXPECT_EQ(Read(*bag, badTag, false), MakeVError(kCOMPONENT_ZORN, 207));
    EXPECT_TRUE(IsEmptyBag(*bag));
}

TEST(BagStream, StaleBackstoreIsRepackedBeforeWriting)
{
    Bag bag;
    bag->SetLong(Key("n"), 1);
    bag->SetString(Key("s"), VString("x"));
    bag->SetString(Key("n"), VString("now a string")); // another kind and size
    ASSERT_TRUE(bag->GetAttributesDictionary().NeedsRepack());
    const Bytes written = Written(*bag, false);
    EXPECT_FALSE(bag->GetAttributesDictionary().NeedsRepack());
    Bag back;
    ASSERT_EQ(Read(*back, written, false), VE_OK);
    VString text;
    EXPECT_TRUE(back->GetString(Key("n"), text));
    EXPECT_EQ(Ascii(text), "now a string");
    EXPECT_TRUE(back->GetString(Key("s"), text));
    EXPECT_EQ(Ascii(text), "x");
}

TEST(BagStream, SwappingStreamsKeepValuesAndLeaveMemoryAlone)
{
    Bag bag;
    bag->SetString(Key("s"), VString(reinterpret_cast<const UniChar*>(u"h\u00e9llo")));
    bag->SetLong8(Key("n"), 0x0102030405060708);
    bag->SetReal(Key("r"), 2.5);
    Bag child;
    child->SetLong(Key("c"), -3);
    bag->AddElement(Key("kid"), child);
    const std::vector<uint16_t> before = bag->GetAttributesDictionary().GetBackstore();

    const Bytes swapped = Written(*bag, true);
    EXPECT_EQ(bag->GetAttributesDictionary().GetBackstore(), before);
    EXPECT_NE(swapped, Written(*bag, false));
    Bag back;
    ASSERT_EQ(Read(*back, swapped, true), VE_OK);
    VString text;
    int64_t number = 0;
    double real = 0;
    int32_t childValue = 0;
    EXPECT_TRUE(back->GetString(Key("s"), text));
    EXPECT_EQ(Text(text), u"h\u00e9llo");
    EXPECT_TRUE(back->GetLong8(Key("n"), number));
    EXPECT_EQ(number, 0x0102030405060708);
    EXPECT_TRUE(back->GetReal(Key("r"), real));
    EXPECT_EQ(real, 2.5);
    ASSERT_NE(back->GetUniqueElementByPath(VString("kid")), nullptr);
    EXPECT_TRUE(back->GetUniqueElementByPath(VString("kid"))->GetLong(Key("c"), childValue));
    EXPECT_EQ(childValue, -3);
    EXPECT_EQ(Written(*back, false), Written(*bag, false));
}

// A bag with attributes of several kinds and two levels of elements.
void FillSample(VValueBag& ioBag)
{
    ioBag.SetString(Key("name"), VString("sample"));
    ioBag.SetLong(Key("count"), 3);
    ioBag.SetBool(Key("on"), true);
    for (int i = 0; i < 2; ++i)
    {
        Bag child;
        child->SetString(Key("id"), VString(i == 0 ? "first" : "second"));
        Bag grandchild;
        grandchild->SetReal(Key("x"), 1.5);
        child->AddElement(Key("leaf"), grandchild);
        ioBag.AddElement(Key("item"), child);
    }
    Bag other;
    ioBag.AddElement(Key("other"), other);
}

TEST(BagStream, EveryTruncationIsRefusedAndLeavesAnEmptyBag)
{
    Bag sample;
    FillSample(*sample);
    for (bool swap : {false, true})
    {
        const Bytes whole = Written(*sample, swap);
        for (size_t length = 0; length < whole.size(); ++length)
        {
            Bag bag;
            bag->SetString(Key("before"), VString("x"));
            Bytes cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
            EXPECT_NE(Read(*bag, cut, swap), VE_OK) << "cut at " << length;
            EXPECT_TRUE(IsEmptyBag(*bag)) << "cut at " << length;
        }
        Bag bag;
        ASSERT_EQ(Read(*bag, whole, swap), VE_OK);
        EXPECT_EQ(Written(*bag, swap), whole);
    }
}

// Bytes of a minimal body: flags, then what follows.
Bytes Body(std::initializer_list<uint8_t> inBytes)
{
    return Bytes(inBytes);
}

TEST(BagStream, MalformedBodiesAreRefused)
{
    const VError invalid = VE_PACKED_DATA_INVALID;
    struct Row
    {
        const char* fWhat;
        Bytes fBody;
    };
    const Row rows[] = {
        {"key count beyond the block", Body({1, 9, 0, 0, 0, 2, 0, 0, 0, 1, 'a', 0, 0, 0, 0, 0})},
        {"key length byte past the block", Body({1, 1, 0, 0, 0, 2, 0, 0, 0, 5, 'a', 0, 0, 0, 0, 0})},
        {"backstore longer than the stream", Body({1, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'a', 0, 0xFF, 0xFF, 0, 0})},
        {"entry of an unknown kind", Body({1, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'a', 0, 1, 0, 0, 0, 0x99, 0x99})},
        {"string length past the backstore",
         Body({1, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'a', 0, 3, 0, 0, 0, 10, 0, 0x40, 0, 0, 0})},
        {"backstore not used up",
         Body({1, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'a', 0, 4, 0, 0, 0, 4, 0, 5, 0, 0, 0, 0, 0})},
        {"two entries, backstore for one",
         Body({1, 2, 0, 0, 0, 4, 0, 0, 0, 1, 'a', 1, 'b', 0, 3, 0, 0, 0, 4, 0, 5, 0, 0, 0})},
        {"the same key twice", Body({1, 2, 0, 0, 0, 4, 0, 0, 0, 1, 'a', 1, 'a', 0, 6,
                                     0, 0, 0, 4, 0, 5, 0, 0, 0, 4, 0,   6, 0,   0, 0})},
        {"list count beyond the stream",
         Body({2, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'e', 0, 0xFF, 0xFF, 0xFF, 0x7F})},
        {"the same element name twice",
         Body({2, 2, 0, 0, 0, 4, 0, 0, 0, 1, 'e', 1, 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0})},
    };
    for (const Row& row : rows)
    {
        Bag bag;
        EXPECT_EQ(Read(*bag, row.fBody, false, false), invalid) << row.fWhat;
        EXPECT_TRUE(IsEmptyBag(*bag)) << row.fWhat;
    }
}

// A chain of inDepth bags, each the only "e" child of its parent, as a minimal body.
Bytes Chain(int inDepth)
{
    Bytes bytes;
    for (int i = 1; i < inDepth; ++i)
    {
        bytes.insert(bytes.end(), {2, 1, 0, 0, 0, 2, 0, 0, 0, 1, 'e', 0, 1, 0, 0, 0});
    }
    bytes.push_back(0);
    return bytes;
}

TEST(BagStream, NestingIsCapped)
{
    Bag bag;
    EXPECT_EQ(Read(*bag, Chain(VValueBag::kMaxStreamDepth), false, false), VE_OK);
    EXPECT_EQ(bag->GetElementNamesCount(), 1);
    EXPECT_EQ(Read(*bag, Chain(VValueBag::kMaxStreamDepth + 1), false, false), VE_PACKED_DATA_INVALID);
    EXPECT_TRUE(IsEmptyBag(*bag));
    EXPECT_EQ(Read(*bag, Chain(100000), false, false), VE_PACKED_DATA_INVALID)
        << "a deep stream is refused, not a stack overflow";
}

} // namespace

namespace
{

// The older layout, written piece by piece: names as a string array, a count, then per entry
// whatever inEntries writes.
template <typename TWriteEntries>
void WriteOlderSection(VPtrStream& ioStream, std::initializer_list<const char*> inNames, int32_t inCount,
                       TWriteEntries inEntries)
{
    VArrayString names;
    for (const char* name : inNames)
    {
        names.AppendString(VString(name));
    }
    EXPECT_EQ(names.WriteToStream(&ioStream), VE_OK);
    ioStream.PutLongs(&inCount, 1);
    inEntries(ioStream);
}

struct OlderLayout
{
    const char* fWhat;
    std::initializer_list<const char*> fNames;
    int32_t fCount;
    int32_t fKind;
    VError fExpected;
};

VError ReadOlder(VValueBag& ioBag, const OlderLayout& inRow, size_t inCut = SIZE_MAX,
                 size_t* outSize = nullptr)
{
    VPtrStream stream;
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    WriteOlderSection(stream, inRow.fNames, inRow.fCount,
                      [&](VPtrStream& ioStream)
                      {
                          for (int32_t i = 0; i < static_cast<int32_t>(inRow.fNames.size()); ++i)
                          {
                              ioStream.PutLongs(&inRow.fKind, 1);
                              VLong(40 + i).WriteToStream(&ioStream);
                          }
                      });
    WriteOlderSection(stream, {"kids"}, 1,
                      [](VPtrStream& ioStream)
                      {
                          Bag child;
                          child->SetString(Key("name"), VString("c"));
                          VBagArray list;
                          list.AddTail(child);
                          EXPECT_EQ(list.WriteToStreamMinimal(&ioStream), VE_OK);
                      });
    stream.CloseWriting();
    const auto* data = static_cast<const uint8_t*>(stream.GetDataPtr());
    const size_t size = static_cast<size_t>(stream.GetDataSize());
    if (outSize != nullptr)
    {
        *outSize = size;
    }
    Bytes bytes(data, data + std::min(inCut, size));
    VConstPtrStream reader(bytes.data(), bytes.size());
    EXPECT_EQ(reader.OpenReading(), VE_OK);
    return ioBag._ReadFromStream_v1(&reader);
}

TEST(BagStream, OlderLayoutIsReadAndMalformedOnesAreRefused)
{
    const OlderLayout good = {"two longs and one list", {"a", "b"}, 2, VK_LONG, VE_OK};
    Bag bag;
    size_t size = 0;
    ASSERT_EQ(ReadOlder(*bag, good, SIZE_MAX, &size), VE_OK);
    int32_t value = 0;
    EXPECT_TRUE(bag->GetLong(Key("a"), value));
    EXPECT_EQ(value, 40);
    EXPECT_TRUE(bag->GetLong(Key("b"), value));
    EXPECT_EQ(value, 41);
    ASSERT_NE(bag->GetElements(Key("kids")), nullptr);
    ASSERT_EQ(bag->GetElements(Key("kids"))->GetCount(), 1);
    VString name;
    EXPECT_TRUE(bag->GetElements(Key("kids"))->GetNth(1)->GetString(Key("name"), name));
    EXPECT_EQ(Text(name), u"c");

    const OlderLayout bad[] = {
        {"more values than names", {"a"}, 2, VK_LONG, VE_PACKED_DATA_INVALID},
        {"fewer values than names", {"a", "b"}, 1, VK_LONG, VE_PACKED_DATA_INVALID},
        {"a name stored twice", {"a", "a"}, 2, VK_LONG, VE_PACKED_DATA_INVALID},
        {"an unregistered kind", {"a"}, 1, 0x7FFF, VE_PACKED_DATA_INVALID},
        {"a bag is no single value", {"a"}, 1, VK_BAG, VE_PACKED_DATA_INVALID},
        {"a negative count", {"a"}, -1, VK_LONG, VE_PACKED_DATA_INVALID},
    };
    for (const OlderLayout& row : bad)
    {
        Bag refused;
        EXPECT_EQ(ReadOlder(*refused, row), row.fExpected) << row.fWhat;
        EXPECT_TRUE(IsEmptyBag(*refused)) << row.fWhat;
    }

    // Cut anywhere before the end, the read fails and leaves nothing half read.
    for (size_t cut = 0; cut < size; ++cut)
    {
        Bag truncated;
        EXPECT_NE(ReadOlder(*truncated, good, cut), VE_OK) << "cut at " << cut;
        EXPECT_TRUE(IsEmptyBag(*truncated)) << "cut at " << cut;
    }
}

} // namespace
