#include "tests/StreamTestSupport.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

using namespace zorn;

namespace
{

using test::Bytes;
using test::Int32;
using test::operator+;

template <class TArray, class T>
TArray Make(std::initializer_list<T> inValues)
{
    TArray array;
    for (T value : inValues)
    {
        array.AppendReal(static_cast<double>(value));
    }
    return array;
}

Bytes Written(const VArrayValue& inArray, bool inSwap, int32_t inParam = 0)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(inArray.WriteToStream(&stream, inParam), VE_OK);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
    const uint8_t* bytes = static_cast<const uint8_t*>(stream.GetDataPtr());
    return Bytes(bytes, bytes + stream.GetDataSize());
}

VError Read(VArrayValue& ioArray, const Bytes& inBytes, bool inSwap)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(stream.OpenReading(), VE_OK);
    return ioArray.ReadFromStream(&stream);
}

// Equal elements; a blob read back for a missing one is empty, which counts as the same.
bool SameElements(const VArrayValue& inA, const VArrayValue& inB)
{
    if (inA.GetCount() != inB.GetCount() || inA.GetValueKind() != inB.GetValueKind())
    {
        return false;
    }
    if (const VArrayString* a = dynamic_cast<const VArrayString*>(&inA))
    {
        const VArrayString& b = static_cast<const VArrayString&>(inB);
        for (int32_t i = 1; i <= a->GetCount(); ++i)
        {
            const VString* x = a->GetObject(i);
            const VString* y = b.GetObject(i);
            if ((x == nullptr) != (y == nullptr) || (x != nullptr && !x->EqualToStringRaw(*y)))
            {
                return false;
            }
        }
        return true;
    }
    if (const VArrayBlob* a = dynamic_cast<const VArrayBlob*>(&inA))
    {
        const VArrayBlob& b = static_cast<const VArrayBlob&>(inB);
        for (int32_t i = 1; i <= a->GetCount(); ++i)
        {
            const VBlob* x = a->GetObject(i);
            const VBlob* y = b.GetObject(i);
            const size_t xSize = x != nullptr ? x->GetSize() : 0;
            const size_t ySize = y != nullptr ? y->GetSize() : 0;
            if (xSize != ySize || (xSize > 0 && std::memcmp(x->GetDataPtr(), y->GetDataPtr(), xSize) != 0))
            {
                return false;
            }
        }
        return true;
    }
    return inA.GetDataSize() == inB.GetDataSize() &&
           (inA.GetDataSize() == 0 ||
            std::memcmp(inA.GetDataPtr(), inB.GetDataPtr(), inA.GetDataSize()) == 0);
}

// One array of each kind, with a few elements each (a missing string and an empty blob included).
std::vector<std::unique_ptr<VArrayValue>> OneOfEachKind()
{
    std::vector<std::unique_ptr<VArrayValue>> arrays;
    auto booleans = std::make_unique<VArrayBoolean>();
    for (bool bit : {true, false, true, true, false, false, false, true, true})
    {
        booleans->AppendBoolean(bit);
    }
    arrays.push_back(std::move(booleans));
    arrays.push_back(std::make_unique<VArrayByte>(Make<VArrayByte>({-128, 5, 127})));
    arrays.push_back(std::make_unique<VArrayWord>(Make<VArrayWord>({-32768, 300, 32767})));
    arrays.push_back(std::make_unique<VArrayLong>(Make<VArrayLong>({-2147483647 - 1, 70000, 1})));
    auto longs = std::make_unique<VArrayLong8>();
    longs->AppendLong8(std::numeric_limits<int64_t>::min());
    longs->AppendLong8(0x0102030405060708);
    arrays.push_back(std::move(longs));
    arrays.push_back(std::make_unique<VArrayReal>(Make<VArrayReal>({-1.5, 1e300, 0.25})));
    auto times = std::make_unique<VArrayTime>();
    times->AppendTime(VTime(uint64_t{0x0123456789ABCDEF}));
    times->AppendTime(VTime(uint64_t{42}));
    arrays.push_back(std::move(times));
    auto durations = std::make_unique<VArrayDuration>();
    durations->AppendDuration(VDuration(-90061001));
    durations->AppendDuration(VDuration(5));
    arrays.push_back(std::move(durations));
    auto strings = std::make_unique<VArrayString>(3);
    strings->FromString(CVSTR("été"), 1);
    strings->FromString(CVSTR(""), 3);
    arrays.push_back(std::move(strings));
    auto blobs = std::make_unique<VArrayBlob>();
    blobs->SetCount(2);
    blobs->FromValue(VBlobWithPtr("\x00\x01\xFF", 3), 1);
    arrays.push_back(std::move(blobs));
    return arrays;
}

TEST(ArrayValue, FindAndQuickFind)
{
    struct Row
    {
        const char* fWhat;
        std::initializer_list<int> fElements;
        int32_t fValue;
        int32_t fStart;
        bool fForward;
        CompareMethod fMethod;
        int32_t fFound;
    };
    const Row rows[] = {
        {"first equal, forward", {3, 5, 5}, 5, 1, true, CM_EQUAL, 2},
        {"first bigger, backward from the end", {1, 6, 2}, 5, 3, false, CM_BIGGER, 2},
        {"empty array", {}, 5, 1, true, CM_EQUAL, -1},
        {"start above the count", {1, 2}, 1, 3, true, CM_EQUAL, -1},
        {"start below 1", {1, 2}, 1, 0, true, CM_EQUAL, -1},
        {"no match leaves the array", {1, 2}, 9, 1, true, CM_EQUAL, -1},
        {"bigger or equal", {1, 4, 5}, 4, 1, true, CM_BIGGER_OR_EQUAL, 2},
        {"smaller, backward", {1, 4, 5}, 5, 3, false, CM_SMALLER, 2},
        {"smaller or equal from the start", {7, 4, 5}, 5, 1, true, CM_SMALLER_OR_EQUAL, 2},
    };
    for (const Row& row : rows)
    {
        VArrayLong array = Make<VArrayLong>(row.fElements);
        EXPECT_EQ(array.FindElement(row.fValue, row.fStart, row.fForward, row.fMethod), row.fFound)
            << row.fWhat;
        EXPECT_EQ(array.Find(VLong(row.fValue), row.fStart, row.fForward, row.fMethod), row.fFound)
            << row.fWhat;
    }
    EXPECT_EQ(Make<VArrayLong>({1, 3, 7, 9}).QuickFind(7), 3);
    EXPECT_EQ(Make<VArrayLong>({1, 3, 7, 9}).QuickFind(8), -1);
    EXPECT_EQ(VArrayLong().QuickFind(8), -1);

    // Strings: missing ones are skipped, comparison ignores accents for the search.
    VArrayString strings(3);
    strings.FromString(CVSTR("b"), 2);
    strings.FromString(CVSTR("c"), 3);
    EXPECT_EQ(strings.Find(CVSTR("c")), 3);
    EXPECT_EQ(strings.Find(CVSTR("a"), 1, true, CM_BIGGER), 2);
    EXPECT_EQ(strings.Find(CVSTR("z"), 3, false, CM_SMALLER), 3);
    EXPECT_EQ(strings.Find(CVSTR("x")), -1);
}

template <class TArray>
void ExpectStatistics(const char* inWhat)
{
    using Type = typename TArray::Type;
    TArray array = Make<TArray>({1, 2, 3});
    EXPECT_EQ(array.GetMin(), Type{1}) << inWhat;
    EXPECT_EQ(array.GetMax(), Type{3}) << inWhat;
    EXPECT_DOUBLE_EQ(array.GetSum(), 6) << inWhat;
    EXPECT_DOUBLE_EQ(array.GetAverage(), 2) << inWhat;
    EXPECT_DOUBLE_EQ(array.GetSquareSum(), 2) << inWhat;
    EXPECT_DOUBLE_EQ(array.GetStdDev(), std::sqrt(2.0 / 3.0)) << inWhat;
    TArray empty;
    EXPECT_EQ(empty.GetMin(), std::numeric_limits<Type>::max()) << inWhat;
    EXPECT_EQ(empty.GetMax(), std::numeric_limits<Type>::lowest()) << inWhat;
    EXPECT_EQ(empty.GetSum(), 0) << inWhat;
    EXPECT_EQ(empty.GetAverage(), 0) << inWhat;
    EXPECT_EQ(empty.GetStdDev(), 0) << inWhat;
}

TEST(ArrayValue, StatisticsOfEveryNumericKind)
{
    ExpectStatistics<VArrayByte>("byte");
    ExpectStatistics<VArrayWord>("word");
    ExpectStatistics<VArrayLong>("long");
    ExpectStatistics<VArrayLong8>("long8");
    ExpectStatistics<VArrayReal>("real");
    // Negative numbers and a sum beyond 64 bits.
    VArrayLong8 big;
    big.AppendLong8(std::numeric_limits<int64_t>::max());
    big.AppendLong8(std::numeric_limits<int64_t>::max());
    big.AppendLong8(-5);
    EXPECT_EQ(big.GetMin(), -5);
    EXPECT_GT(big.GetSum(), 1.8e19);
}

TEST(ArrayValue, ElementsAndIndices)
{
    VArrayLong array = Make<VArrayLong>({10, 20, 30});
    EXPECT_EQ(array.GetLong(0), 0);
    EXPECT_EQ(array.GetLong(4), 0);
    array.FromLong(99, 4);
    array.FromLong(99, 0);
    EXPECT_EQ(array.GetCount(), 3);

    ASSERT_TRUE(array.Insert(2, 2));
    EXPECT_EQ(array.GetCount(), 5);
    EXPECT_EQ(array.GetLong(1), 10);
    EXPECT_EQ(array.GetLong(2), 0);
    EXPECT_EQ(array.GetLong(4), 20);
    EXPECT_FALSE(array.Insert(7, 1));
    array.Delete(2, 100);
    EXPECT_EQ(array.GetCount(), 1);
    EXPECT_TRUE(array.SetCount(-3));
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.GetDataPtr(), nullptr);

    VArrayLong moved = Make<VArrayLong>({1, 2, 3, 4});
    moved.MoveElements(0, 2, 2);
    EXPECT_EQ(moved.GetLong(3), 1);
    EXPECT_EQ(moved.GetLong(4), 2);
    moved.MoveElements(3, 0, 2); // passes the count: nothing
    EXPECT_EQ(moved.GetLong(1), 1);

    // Conversions through single values; durations read numbers as seconds.
    VArrayDuration durations(1);
    durations.FromLong(2, 1);
    VDuration duration;
    durations.GetDuration(duration, 1);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 2000);
    VArrayString strings;
    strings.AppendLong(12);
    VString text;
    strings.GetString(text, 1);
    EXPECT_TRUE(text.EqualToStringRaw(CVSTR("12")));
    std::unique_ptr<VValueSingle> clone(strings.CloneValue(1));
    EXPECT_EQ(clone->GetValueKind(), VK_STRING);
    EXPECT_EQ(clone->GetLong(), 12);
    EXPECT_EQ(strings.CloneValue(2), nullptr);

    // Bits survive inserts and deletes across byte borders, and dropped bits come back false.
    VArrayBoolean bits(10);
    bits.FromBoolean(true, 1);
    bits.FromBoolean(true, 10);
    ASSERT_TRUE(bits.Insert(1, 7));
    EXPECT_TRUE(bits.GetBoolean(8));
    EXPECT_TRUE(bits.GetBoolean(17));
    EXPECT_FALSE(bits.GetBoolean(1));
    bits.Delete(2, 7);
    EXPECT_TRUE(bits.GetBoolean(10));
    EXPECT_EQ(bits.GetCount(), 10);
    bits.SetCount(9);
    bits.SetCount(12);
    EXPECT_FALSE(bits.GetBoolean(10));
}

TEST(ArrayValue, CopiesOwnTheirStringsAndBlobs)
{
    for (const auto& array : OneOfEachKind())
    {
        std::unique_ptr<VArrayValue> copy(static_cast<VArrayValue*>(array->Clone()));
        EXPECT_TRUE(SameElements(*array, *copy)) << array->GetValueKind();
        // The copy outlives the original: no element is shared.
    }
    VArrayString strings(1);
    strings.FromString(CVSTR("a"), 1);
    VArrayString copy(strings);
    strings.FromString(CVSTR("b"), 1);
    VString text;
    copy.GetString(text, 1);
    EXPECT_TRUE(text.EqualToStringRaw(CVSTR("a")));
    VArrayLong longs;
    EXPECT_FALSE(longs.Copy(strings));
}

TEST(ArrayValue, SubStringsIntoAStringArray)
{
    VArrayString pieces(5);
    EXPECT_TRUE(VString("a,,b").GetSubStrings(u',', pieces, true));
    ASSERT_EQ(pieces.GetCount(), 3);
    VString text;
    pieces.GetString(text, 3);
    EXPECT_TRUE(text.EqualToStringRaw(CVSTR("b")));
    EXPECT_NE(pieces.GetObject(2), nullptr);
    EXPECT_TRUE(VString("x--y").GetSubStrings(CVSTR("--"), pieces));
    EXPECT_EQ(pieces.GetCount(), 2);
}

TEST(ArrayValue, RegisteredKinds)
{
    for (ValueKind kind = VK_ARRAY_FIRST; kind <= VK_ARRAY_LAST; ++kind)
    {
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
        const bool exists = kind != 106;
        ASSERT_EQ(value != nullptr, exists) << kind;
        if (exists)
        {
            EXPECT_EQ(value->GetValueKind(), kind);
            EXPECT_EQ(static_cast<VArrayValue*>(value.get())->GetCount(), 0);
        }
    }
}

TEST(ArrayValueStream, ExactBytes)
{
    VArrayBoolean sixteen(16);
    VArrayBoolean five(5);
    five.FromBoolean(true, 1);
    five.FromBoolean(true, 3);
    EXPECT_EQ(Written(sixteen, false), Int32(16) + Bytes({0, 0, 0}));
    EXPECT_EQ(Written(five, false), Int32(5) + Bytes({0x05}));
    EXPECT_EQ(Written(VArrayBoolean(), false), Int32(0) + Bytes({0}));

    VArrayString strings(3);
    strings.FromString(CVSTR("ab"), 1);
    strings.FromString(CVSTR("c"), 3);
    const Bytes expected = Int32(3) + Int32(2) + Int32(-2) + Bytes{'a', 0, 'b', 0} + Int32(0x4E554C4C) +
                           Int32(2) + Int32(-1) + Bytes{'c', 0};
    EXPECT_EQ(Written(strings, false), expected);

    EXPECT_EQ(Written(Make<VArrayWord>({1}), false, kStreamParamWithKind),
              Int32(102) + Int32(1) + Bytes({1, 0}));
    EXPECT_EQ(Written(Make<VArrayWord>({1}), true), Bytes({0, 0, 0, 1, 0, 1}));
}

TEST(ArrayValueStream, EveryKindRoundTripsInBothByteOrders)
{
    for (bool swap : {false, true})
    {
        for (const auto& array : OneOfEachKind())
        {
            const Bytes bytes = Written(*array, swap);
            std::unique_ptr<VArrayValue> read(static_cast<VArrayValue*>(array->GetValueInfo()->Generate()));
            ASSERT_EQ(Read(*read, bytes, swap), VE_OK) << array->GetValueKind();
            EXPECT_TRUE(SameElements(*array, *read)) << array->GetValueKind() << " swap " << swap;
        }
    }
}

TEST(ArrayValueStream, BadDataFailsAndLeavesTheArrayEmpty)
{
    for (const auto& array : OneOfEachKind())
    {
        const Bytes bytes = Written(*array, false);
        for (size_t cut = 0; cut < bytes.size(); ++cut)
        {
            std::unique_ptr<VArrayValue> read(static_cast<VArrayValue*>(array->Clone()));
            EXPECT_NE(
                Read(*read, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), false),
                VE_OK)
                << array->GetValueKind() << " cut " << cut;
            EXPECT_EQ(read->GetCount(), 0);
        }
    }
    struct Row
    {
        const char* fWhat;
        std::unique_ptr<VArrayValue> fArray;
        Bytes fBytes;
        VError fError;
    };
    Row rows[] = {
        {"negative count", std::make_unique<VArrayLong>(2), Int32(-1), VE_VALUE_ARRAY_STREAM_INVALID},
        {"count beyond the bytes", std::make_unique<VArrayLong8>(), Int32(0x7FFFFFFF) + Int32(0),
         VE_STREAM_EOF},
        {"huge bit count", std::make_unique<VArrayBoolean>(), Int32(0x7FFFFFFF) + Bytes{1}, VE_STREAM_EOF},
        {"huge string count", std::make_unique<VArrayString>(), Int32(0x7FFFFFFF) + Int32(2), VE_STREAM_EOF},
        {"unknown string marker", std::make_unique<VArrayString>(1), Int32(1) + Int32(3),
         VE_VALUE_ARRAY_STREAM_INVALID},
        {"blob longer than the data", std::make_unique<VArrayBlob>(), Int32(1) + Int32(1000) + Bytes{1},
         VE_STREAM_EOF},
    };
    for (Row& row : rows)
    {
        EXPECT_EQ(Read(*row.fArray, row.fBytes, false), row.fError) << row.fWhat;
        EXPECT_EQ(row.fArray->GetCount(), 0) << row.fWhat;
    }
}

} // namespace
