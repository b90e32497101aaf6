#include "tests/StringTestSupport.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VPackedDictionary.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace zorn;
using zorn::test::Ascii;

namespace
{

std::string Name(int inIndex)
{
    return "key" + std::to_string(inIndex);
}

// A dictionary of inCount keys "key0".. whose values are VLong 0...
void Fill(VPackedDictionary_with_backstore& ioDictionary, int inCount)
{
    for (int i = 0; i < inCount; ++i)
    {
        std::string name = Name(i);
        ASSERT_TRUE(ioDictionary.Append(StPackedDictionaryKey(name.data(), name.size()), VLong(i)));
    }
}

int32_t LongOf(const VPackedDictionary_with_backstore& inDictionary, const std::string& inName)
{
    VLong value(-1);
    EXPECT_TRUE(inDictionary.GetValue(StPackedDictionaryKey(inName.data(), inName.size()), value)) << inName;
    return value.GetLong();
}

TEST(PackedDictionaryKey, HashAndByteComparison)
{
    EXPECT_EQ(StPackedDictionaryKey("abc").GetHash(), 57355817u);
    EXPECT_EQ(StPackedDictionaryKey("").GetHash(), 0u);
    EXPECT_EQ(StPackedDictionaryKey(VString("abc")).GetHash(), 57355817u);
    EXPECT_EQ(StPackedDictionaryKey(L"abc").GetHash(), 57355817u);

    // Only the first and last 8 bytes of a long key are hashed.
    const std::string a = "01234567abcd89012345";
    const std::string b = "01234567WXYZ89012345";
    StPackedDictionaryKey keyA(a.data(), a.size());
    StPackedDictionaryKey keyB(b.data(), b.size());
    ASSERT_EQ(keyA.GetHash(), keyB.GetHash());

    VPackedDictionary_with_backstore dictionary;
    ASSERT_TRUE(dictionary.Append(keyA, VLong(1)));
    ASSERT_TRUE(dictionary.Append(keyB, VLong(2)));
    Fill(dictionary, 6); // with an index too
    EXPECT_EQ(LongOf(dictionary, a), 1);
    EXPECT_EQ(LongOf(dictionary, b), 2);
}

TEST(PackedDictionaryKey, KeysOfMoreThan255BytesAreRefused)
{
    const std::string max(255, 'k');
    const std::string tooLong(256, 'k');
    const std::wstring wideTooLong(128, L'\u00e9'); // 256 bytes of UTF-8
    struct Row
    {
        const char* fWhat;
        StPackedDictionaryKey fKey;
        bool fRefused;
    };
    const Row rows[] = {
        {"255-byte C string", StPackedDictionaryKey(max.c_str()), false},
        {"256-byte C string", StPackedDictionaryKey(tooLong.c_str()), true},
        {"256-byte run", StPackedDictionaryKey(tooLong.data(), tooLong.size()), true},
        {"256-character string", StPackedDictionaryKey(VString(tooLong.c_str())), true},
        {"256 bytes of wide text", StPackedDictionaryKey(wideTooLong.c_str()), true},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fKey.IsRefused(), row.fRefused) << row.fWhat;
        VPackedDictionary_with_backstore dictionary;
        EXPECT_EQ(dictionary.Append(row.fKey, VLong(1)), !row.fRefused) << row.fWhat;
        EXPECT_EQ(dictionary.GetCount(), row.fRefused ? 0u : 1u) << row.fWhat;
        EXPECT_EQ(dictionary.GetKeyBlock().size(), row.fRefused ? 0u : 256u) << row.fWhat;
        EXPECT_FALSE(dictionary.Contains(StPackedDictionaryKey(""))) << row.fWhat;
    }

    // Copies keep what they borrow or own.
    StPackedDictionaryKey owned("xyz", 3);
    StPackedDictionaryKey borrowed(max.c_str());
    StPackedDictionaryKey ownedCopy(owned);
    StPackedDictionaryKey borrowedCopy(borrowed);
    EXPECT_NE(ownedCopy.GetKey(), owned.GetKey());
    EXPECT_EQ(borrowedCopy.GetKey(), max.c_str());
    EXPECT_TRUE(ownedCopy.Equals("xyz", 3));
}

TEST(PackedDictionary, IndexIsBuiltFromSixKeysAndGrowsWhenFull)
{
    VPackedDictionary_with_backstore dictionary;
    Fill(dictionary, 5);
    EXPECT_EQ(LongOf(dictionary, Name(4)), 4);
    EXPECT_TRUE(dictionary.GetHashIndex().IsEmpty()) << "5 keys: linear";

    Fill(dictionary, 0);
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("key5"), VLong(5)));
    EXPECT_TRUE(dictionary.GetHashIndex().IsEmpty()) << "built by the lookup, not the append";
    EXPECT_EQ(LongOf(dictionary, Name(5)), 5);
    EXPECT_EQ(dictionary.GetHashIndex().GetCellCount(), 11u);

    for (int i = 6; i < 11; ++i)
    {
        std::string name = Name(i);
        ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey(name.data(), name.size()), VLong(i)));
    }
    EXPECT_EQ(dictionary.GetHashIndex().GetCellCount(), 11u) << "11 keys fill 11 cells";
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("key11"), VLong(11)));
    EXPECT_EQ(dictionary.GetHashIndex().GetCellCount(), 23u);
    for (int i = 0; i < 12; ++i)
    {
        EXPECT_EQ(LongOf(dictionary, Name(i)), i);
    }
    VLong absent(7);
    EXPECT_FALSE(dictionary.GetValue(StPackedDictionaryKey("key12"), absent));
    EXPECT_EQ(absent.GetLong(), 7);
}

TEST(PackedDictionary, HashVectorSizes)
{
    const std::pair<size_t, size_t> rows[] = {
        {0, 5},         {4, 5},       {5, 11},       {8, 11},       {9, 23},       {17, 23},
        {18, 41},       {5778, 9349}, {5779, 15121}, {9349, 15121}, {9350, 24473}, {2537720636, 4106118251},
        {2537720637, 0}};
    for (const auto& [count, cells] : rows)
    {
        EXPECT_EQ(_VHashKeyMap::_ComputeHashVectorSize(count), cells) << count;
    }
}

TEST(PackedDictionary, SetExistingValueInPlaceOrThroughAClone)
{
    VPackedDictionary_with_backstore dictionary;
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("n"), VLong(1)));
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("s"), VString("abc")));
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("t"), VLong(3)));
    const std::vector<uint16_t> before = dictionary.GetBackstore();
    // 3 + 6 + 3 units: kind and 4 bytes; kind, length and 3 units; kind and 4 bytes.
    ASSERT_EQ(before.size(), 3u + 6u + 3u);

    EXPECT_TRUE(dictionary.SetExistingValue(StPackedDictionaryKey("n"), VLong(42)));
    EXPECT_FALSE(dictionary.NeedsRepack());
    EXPECT_EQ(dictionary.GetSlots()[0].fValue, nullptr);
    EXPECT_EQ(dictionary.GetBackstore().size(), before.size());
    EXPECT_EQ(LongOf(dictionary, "n"), 42);

    EXPECT_TRUE(dictionary.SetExistingValue(StPackedDictionaryKey("s"), VString("a longer text")));
    EXPECT_TRUE(dictionary.NeedsRepack());
    ASSERT_NE(dictionary.GetSlots()[1].fValue, nullptr);
    VString text;
    EXPECT_TRUE(dictionary.GetValue(StPackedDictionaryKey("s"), text));
    EXPECT_EQ(Ascii(text), "a longer text");

    // A value of another kind replaces the object; one of the same kind is copied into it.
    EXPECT_TRUE(dictionary.SetExistingValue(StPackedDictionaryKey("s"), VLong(7)));
    EXPECT_EQ(LongOf(dictionary, "s"), 7);
    EXPECT_TRUE(dictionary.SetExistingValue(StPackedDictionaryKey("s"), VString("xy")));
    EXPECT_FALSE(dictionary.SetExistingValue(StPackedDictionaryKey("absent"), VLong(1)));

    // A copy repacks the source first and holds no value objects.
    VPackedDictionary_with_backstore copy(dictionary);
    EXPECT_FALSE(dictionary.NeedsRepack());
    EXPECT_FALSE(copy.NeedsRepack());
    EXPECT_EQ(copy.GetSlots()[1].fValue, nullptr);
    EXPECT_EQ(copy.GetBackstore(), dictionary.GetBackstore());
    EXPECT_EQ(copy.GetBackstore().size(), 3u + 5u + 3u);
    EXPECT_TRUE(copy.GetValue(StPackedDictionaryKey("s"), text));
    EXPECT_EQ(Ascii(text), "xy");
    EXPECT_EQ(LongOf(copy, "n"), 42);
    EXPECT_EQ(LongOf(copy, "t"), 3);
}

TEST(PackedDictionary, ClearOfTheMiddleKeyKeepsTheOthers)
{
    VPackedDictionary_with_backstore dictionary;
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("first"), VString("one")));
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("middle"), VString("two")));
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("last"), VLong(3)));
    ASSERT_TRUE(dictionary.SetExistingValue(StPackedDictionaryKey("middle"), VString("a stale entry")));

    dictionary.Clear(StPackedDictionaryKey("middle"));
    EXPECT_EQ(dictionary.GetCount(), 2u);
    EXPECT_FALSE(dictionary.Contains(StPackedDictionaryKey("middle")));
    VString text;
    EXPECT_TRUE(dictionary.GetValue(StPackedDictionaryKey("first"), text));
    EXPECT_EQ(Ascii(text), "one");
    EXPECT_EQ(LongOf(dictionary, "last"), 3);
    EXPECT_EQ(dictionary.GetBackstore().size(), 6u + 3u);
    EXPECT_EQ(dictionary.GetKeyBlock().size(), 6u + 5u);

    // Clearing keys of an indexed dictionary.
    VPackedDictionary_with_backstore indexed;
    Fill(indexed, 8);
    EXPECT_EQ(LongOf(indexed, Name(7)), 7);
    indexed.Clear(StPackedDictionaryKey("key3"));
    indexed.Clear(StPackedDictionaryKey("absent"));
    EXPECT_EQ(indexed.GetCount(), 7u);
    for (int i : {0, 1, 2, 4, 5, 6, 7})
    {
        EXPECT_EQ(LongOf(indexed, Name(i)), i);
    }
}

TEST(PackedDictionary, GetValueConvertsThroughACachedObject)
{
    VPackedDictionary_with_backstore dictionary;
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("n"), VLong(1234)));
    VString text;
    EXPECT_TRUE(dictionary.GetValue(StPackedDictionaryKey("n"), text));
    EXPECT_EQ(Ascii(text), "1234");
    const VValueSingle* cached = dictionary.GetSlots()[0].fValue;
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached->GetValueKind(), VK_LONG);
    EXPECT_FALSE(dictionary.NeedsRepack());

    VLong8 wide;
    EXPECT_TRUE(dictionary.GetValue(StPackedDictionaryKey("n"), wide));
    EXPECT_EQ(wide.GetLong8(), 1234);
}

// A reference-counted stand-in for a bag list.
class Counted : public IRefCountable
{
};

TEST(PackedDictionary, ElementDictionaryHoldsOneReferencePerKey)
{
    Counted* first = new Counted;
    Counted* second = new Counted;
    {
        VPackedDictionary<Counted> dictionary;
        dictionary.SetValue(StPackedDictionaryKey("a"), first);
        dictionary.SetValue(StPackedDictionaryKey("a"), first);
        EXPECT_EQ(first->GetRefCount(), 2u);
        dictionary.SetValue(StPackedDictionaryKey("b"), second);
        dictionary.SetValue(StPackedDictionaryKey("a"), second);
        EXPECT_EQ(first->GetRefCount(), 1u);
        EXPECT_EQ(second->GetRefCount(), 3u);
        EXPECT_EQ(dictionary.GetValue(StPackedDictionaryKey("a")), second);

        VPackedDictionary<Counted> copy(dictionary);
        EXPECT_EQ(second->GetRefCount(), 5u);
        copy.RemoveElements(StPackedDictionaryKey("a"));
        EXPECT_EQ(copy.GetCount(), 1u);
        EXPECT_EQ(copy.GetValue(StPackedDictionaryKey("b")), second);
        EXPECT_EQ(second->GetRefCount(), 4u);
    }
    EXPECT_EQ(second->GetRefCount(), 1u);
    first->Release();
    second->Release();
}

// The key table of a dictionary in a stream of the given order.
std::string KeyTable(const VPackedDictionary_with_backstore& inDictionary, bool inSwap, bool inWithIndex)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(inDictionary._WriteKeysToStream(&stream, inWithIndex), VE_OK);
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

VError ReadKeyTable(VPackedDictionary<Counted>& ioDictionary, const std::string& inBytes, bool inSwap)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenReading(), VE_OK);
    return ioDictionary._ReadKeysFromStream(&stream);
}

TEST(PackedDictionary, KeyTableRoundTripsInBothOrders)
{
    VPackedDictionary_with_backstore dictionary;
    ASSERT_TRUE(dictionary.Append(StPackedDictionaryKey("a"), VLong(5)));
    EXPECT_EQ(KeyTable(dictionary, false, true), std::string("\1\0\0\0\2\0\0\0\1a\0", 11));
    EXPECT_EQ(KeyTable(dictionary, true, true), std::string("\0\0\0\1\0\0\0\2\1a\0", 11));

    Fill(dictionary, 6);
    ASSERT_TRUE(dictionary.Contains(StPackedDictionaryKey("a"))); // builds the index
    for (bool swap : {false, true})
    {
        for (bool withIndex : {false, true})
        {
            std::string table = KeyTable(dictionary, swap, withIndex);
            EXPECT_EQ(table.size(), 8 + dictionary.GetKeyBlock().size() + 1 + (withIndex ? 4 + 4 * 11 : 0));
            VPackedDictionary<Counted> read;
            ASSERT_EQ(ReadKeyTable(read, table, swap), VE_OK);
            EXPECT_EQ(read.GetKeyBlock(), dictionary.GetKeyBlock());
            EXPECT_EQ(read.GetHashIndex().GetCells(), dictionary.GetHashIndex().GetCells())
                << "read, or built by the reader for 6 or more keys";
            for (int i = 0; i < 6; ++i)
            {
                std::string name = Name(i);
                EXPECT_TRUE(read.Contains(StPackedDictionaryKey(name.data(), name.size()))) << name;
            }
            EXPECT_TRUE(read.Contains(StPackedDictionaryKey("a")));
        }
    }
}

TEST(PackedDictionary, MalformedKeyTablesAreRefused)
{
    VPackedDictionary_with_backstore dictionary;
    Fill(dictionary, 6);
    const std::string good = KeyTable(dictionary, false, true);
    const size_t block = dictionary.GetKeyBlock().size(); // 6 keys of 4 bytes: 30
    const size_t flagAt = 8 + block;
    auto patched = [&good](size_t inAt, std::string inBytes)
    {
        std::string bytes = good;
        bytes.replace(inAt, inBytes.size(), inBytes);
        return bytes;
    };
    auto cell = [](uint32_t inValue) { return std::string(reinterpret_cast<const char*>(&inValue), 4); };
    // The cell of key0's home and the cell after it, found in the good index.
    const std::vector<uint32_t>& cells = dictionary.GetHashIndex().GetCells();
    size_t home = StPackedDictionaryKey("key0").GetHash() % cells.size();
    size_t emptyCell = 0;
    while (cells[emptyCell] != _VHashKeyMap::tag_empty)
    {
        ++emptyCell;
    }
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
        VError fResult;
    };
    const Row rows[] = {
        {"good", good, VE_OK},
        {"more keys than block bytes", patched(0, cell(31)), VE_PACKED_DATA_INVALID},
        {"fewer keys than the block holds", patched(0, cell(5)), VE_PACKED_DATA_INVALID},
        {"block longer than the stream", patched(4, cell(0xFFFFFFF0)), VE_PACKED_DATA_INVALID},
        {"key length past the block", patched(8 + 25, "\x09"), VE_PACKED_DATA_INVALID},
        {"index flag 2", patched(flagAt, "\x02"), VE_PACKED_DATA_INVALID},
        {"no cells", patched(flagAt + 1, cell(0)), VE_PACKED_DATA_INVALID},
        {"more cells than the stream holds", patched(flagAt + 1, cell(12)), VE_PACKED_DATA_INVALID},
        {"cell naming slot 6", patched(flagAt + 5 + 4 * emptyCell, cell(6)), VE_PACKED_DATA_INVALID},
        {"key not on its home path", patched(flagAt + 5 + 4 * home, cell(_VHashKeyMap::tag_empty)),
         VE_PACKED_DATA_INVALID},
        {"truncated block", good.substr(0, 20), VE_PACKED_DATA_INVALID},
        {"truncated counts", good.substr(0, 6), VE_STREAM_EOF},
        {"truncated index", good.substr(0, good.size() - 1), VE_PACKED_DATA_INVALID},
    };
    for (const Row& row : rows)
    {
        VPackedDictionary<Counted> read;
        EXPECT_EQ(ReadKeyTable(read, row.fBytes, false), row.fResult) << row.fWhat;
        EXPECT_EQ(read.GetCount(), row.fResult == VE_OK ? 6u : 0u) << row.fWhat;
        EXPECT_EQ(read.GetKeyBlock().size(), row.fResult == VE_OK ? block : 0u) << row.fWhat;
    }
}

} // namespace
