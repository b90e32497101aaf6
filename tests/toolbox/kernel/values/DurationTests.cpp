#include "tests/StringTestSupport.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

using namespace zorn;
using zorn::test::Text;

namespace
{

std::u16string XML(const VDuration& inDuration, JSONStringOptions inOptions)
{
    VString text;
    inDuration.GetXMLString(text, inOptions);
    return Text(text);
}

TEST(Durations, PartsAndXMLText)
{
    struct Row
    {
        int64_t fCount;
        int32_t fParts[5]; // d, h, m, s, ms
        const char16_t* fXML;
        const char16_t* fISO;
        const char16_t* fFormatted;
    };
    const Row rows[] = {
        {90061001, {1, 1, 1, 1, 1}, u"90061", u"P1DT1H1M1.00100000000000S", u"1:1:1:1:1"},
        {3723000, {0, 1, 2, 3, 0}, u"3723", u"PT1H2M3S", u"0:1:2:3:0"},
        {86400000, {1, 0, 0, 0, 0}, u"86400", u"P1DT0H0M0S", u"1:0:0:0:0"},
        {1500, {0, 0, 0, 1, 500}, u"1", u"PT0H0M1.50000000000000S", u"0:0:0:1:500"},
        {-1500, {0, 0, 0, -1, -500}, u"-1", u"PT0H0M-1.50000000000000S", u"0:0:0:-1:-500"},
    };
    for (const Row& row : rows)
    {
        VDuration duration(row.fCount);
        int32_t parts[5];
        duration.GetDuration(parts[0], parts[1], parts[2], parts[3], parts[4]);
        for (int i = 0; i < 5; ++i)
        {
            EXPECT_EQ(parts[i], row.fParts[i]) << row.fCount << " part " << i;
        }
        EXPECT_EQ(duration.GetDay(), row.fParts[0]);
        EXPECT_EQ(duration.GetMillisecond(), row.fParts[4]);
        EXPECT_EQ(XML(duration, 0), row.fXML) << row.fCount;
        EXPECT_EQ(XML(duration, 1), row.fISO) << row.fCount;
        VString formatted;
        duration.GetFormattedString(formatted);
        EXPECT_EQ(Text(formatted), row.fFormatted) << row.fCount;
    }
    EXPECT_EQ(VDuration(-1500).GetLong(), -1);

    VDuration null;
    null.SetNull(true);
    EXPECT_EQ(XML(null, 1), u"P-1DT-1H-1M-1.00100000000000S");
    VString formatted("x ");
    null.GetFormattedString(formatted);
    EXPECT_EQ(Text(formatted), u"x -1:-1:-1:-1:-1") << "appended, not replaced";
    VString text("old");
    null.GetString(text);
    EXPECT_EQ(Text(text), u"");
}

TEST(Durations, ReadingText)
{
    struct Row
    {
        const char* fWhat;
        const char* fText;
        bool fXML; // FromXMLString, else FromString
        int64_t fExpected;
    };
    const int64_t day = VDuration::kDay;
    const Row rows[] = {
        {"ISO with years and months", "P1Y2M3DT4H5M6.5S", true, (360 + 60 + 3) * day + 14706500},
        {"ISO hours only", "PT36H", true, 129600000},
        {"ISO minutes are not months after T", "PT5M", true, 300000},
        {"ISO months before T", "P5M", true, 150 * day},
        {"ISO seconds with a fraction", "PT0.25S", true, 250},
        {"ISO negative seconds", "PT-1.5S", true, -1500},
        {"XML whole seconds", "90", true, 90000},
        {"XML colon form", "1:30", true, 90000},
        {"XML empty", "", true, 0},
        {"seconds", "90", false, 90000},
        {"m:s", "1:30", false, 90000},
        {"h:m:s", "1:02:03", false, 3723000},
        {"h:m:s:ms", "1:02:03:004", false, 3723004},
        {"spaces around pieces", " 1 : 02 ", false, 62000},
        {"a fifth piece is ignored", "0:0:1:2:9", false, 1002},
        {"garbage", "abc", false, 0},
        {"seconds beyond the range saturate", "99999999999999999", false,
         std::numeric_limits<int64_t>::max()},
    };
    for (const Row& row : rows)
    {
        VDuration duration;
        duration.SetNull(true);
        if (row.fXML)
        {
            EXPECT_TRUE(duration.FromXMLString(VString(row.fText))) << row.fWhat;
        }
        else
        {
            duration.FromString(VString(row.fText));
        }
        EXPECT_EQ(duration.ConvertToMilliseconds(), row.fExpected) << row.fWhat;
        EXPECT_FALSE(duration.IsNull()) << row.fWhat;
    }
}

TEST(Durations, SettersAndArithmetic)
{
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    struct Row
    {
        const char* fWhat;
        int64_t fStart;
        std::function<void(VDuration&)> fChange;
        int64_t fExpected;
    };
    const Row rows[] = {
        {"FromLong is seconds", 0, [](VDuration& d) { d.FromLong(-3); }, -3000},
        {"FromReal is seconds, truncated", 0, [](VDuration& d) { d.FromReal(1.2345); }, 1234},
        {"FromReal NaN", 5, [](VDuration& d) { d.FromReal(NAN); }, 0},
        {"FromReal beyond the range", 5, [](VDuration& d) { d.FromReal(1e300); }, kMax},
        {"FromBoolean", 0, [](VDuration& d) { d.FromBoolean(true); }, 1000},
        {"SetDuration", 0, [](VDuration& d) { d.SetDuration(1, 2, 3, 4, 5); }, 93784005},
        {"SetDuration past 32 bits", 0, [](VDuration& d) { d.SetDuration(0, 1000, 0, 0, 0); }, 3600000000},
        {"AddDuration", 10, [](VDuration& d) { d.AddDuration(0, 0, 1, 0, 0); }, 60010},
        {"AddDays past 32 bits", 0, [](VDuration& d) { d.AddDays(100); }, 8640000000},
        {"AddHours", 1, [](VDuration& d) { d.AddHours(-1); }, 1 - 3600000},
        {"AdjustDay keeps the rest", 90061001, [](VDuration& d) { d.AdjustDay(30); },
         30 * 86400000LL + 3661001},
        {"AdjustHour", 90061001, [](VDuration& d) { d.AdjustHour(5); }, 90061001 + 4 * 3600000LL},
        {"AdjustMinute", 90061001, [](VDuration& d) { d.AdjustMinute(0); }, 90061001 - 60000},
        {"AdjustSecond", 90061001, [](VDuration& d) { d.AdjustSecond(59); }, 90061001 + 58000},
        {"AdjustMillisecond", 90061001, [](VDuration& d) { d.AdjustMillisecond(999); }, 90061999},
        {"FromDecimalHour", 0, [](VDuration& d) { d.FromDecimalHour(1.5); }, 5400000},
        {"AddDecimalHour NaN adds nothing", 7, [](VDuration& d) { d.AddDecimalHour(NAN); }, 7},
        {"Add", 1, [](VDuration& d) { d.Add(VDuration(2)); }, 3},
        {"Add saturates", kMax, [](VDuration& d) { d.Add(VDuration(1)); }, kMax},
        {"Substract", 1, [](VDuration& d) { d.Substract(VDuration(2)); }, -1},
        {"Multiply", 1000, [](VDuration& d) { d.Multiply(2.5); }, 2500},
        {"Multiply(1e300) saturates", 1000, [](VDuration& d) { d.Multiply(1e300); }, kMax},
        {"Multiply by NaN", 1000, [](VDuration& d) { d.Multiply(NAN); }, 0},
        {"Divide", 1000, [](VDuration& d) { d.Divide(3.0); }, 333},
        {"Divide by 0", -1000, [](VDuration& d) { d.Divide(0.0); }, kMin},
        {"Remainder", 7500, [](VDuration& d) { EXPECT_EQ(d.Remainder(VDuration(2000)), 3); }, 1500},
        {"Remainder by 0 is refused", 7500, [](VDuration& d) { EXPECT_EQ(d.Remainder(VDuration(0)), 0); },
         7500},
        {"INT64_MIN % -1", kMin, [&](VDuration& d) { EXPECT_EQ(d.Remainder(VDuration(-1)), kMax); }, 0},
    };
    for (const Row& row : rows)
    {
        VDuration duration(row.fStart);
        row.fChange(duration);
        EXPECT_EQ(duration.ConvertToMilliseconds(), row.fExpected) << row.fWhat;
    }
    EXPECT_DOUBLE_EQ(VDuration(3000).Divide(VDuration(2000)), 1.5);
}

TEST(Durations, CopiesAndComparisons)
{
    VDuration null(5);
    null.SetNull(true);
    VDuration copy(null);
    EXPECT_FALSE(copy.IsNull());
    VDuration assigned;
    assigned = null;
    EXPECT_FALSE(assigned.IsNull());
    std::unique_ptr<VValue> clone(null.Clone());
    EXPECT_FALSE(clone->IsNull());
    EXPECT_EQ(static_cast<VDuration*>(clone.get())->ConvertToMilliseconds(), 5);

    VDuration nullZero;
    nullZero.SetNull(true);
    EXPECT_EQ(nullZero.CompareTo(VDuration(0)), CR_EQUAL) << "null flags are not compared";
    EXPECT_EQ(VDuration(-1).CompareTo(VDuration(1)), CR_SMALLER);
    EXPECT_TRUE(VDuration(2) > VDuration(1));
    // Another kind is read as a duration first: a VLong is seconds.
    EXPECT_EQ(VDuration(2000).CompareTo(static_cast<const VValueSingle&>(VLong(2))), CR_EQUAL);
    const int64_t raw = 7;
    EXPECT_EQ(VDuration(8).CompareToSameKindPtr(&raw), CR_BIGGER);
    EXPECT_EQ(VDuration::Info().CompareTwoPtrToData(&raw, &raw), CR_EQUAL);
}

TEST(Durations, ConversionsWithOtherKinds)
{
    // Numbers are seconds both ways.
    VDuration duration;
    duration.FromValue(VLong(90));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 90000);
    VLong number;
    number.FromDuration(VDuration(90500));
    EXPECT_EQ(number.GetLong(), 90);
    VReal real;
    VDuration(1500).GetValue(real);
    EXPECT_EQ(real.GetReal(), 1.5);

    // Strings: the count of milliseconds one way, the duration's own reading the other.
    VString text;
    text.FromDuration(VDuration(1500));
    EXPECT_EQ(Text(text), u"1500");
    VString("1:30").GetDuration(duration);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 90000);

    // The null flag follows the source.
    VLong nullNumber(3);
    nullNumber.SetNull(true);
    duration.FromValue(nullNumber);
    EXPECT_TRUE(duration.IsNull());

    // A kind without durations clears the target.
    VDuration target(5);
    VEmpty().GetDuration(target);
    EXPECT_EQ(target.ConvertToMilliseconds(), 0);

    // REST values: a non-zero number is milliseconds, else the value's own duration.
    duration.FromRESTValue(VLong(1500));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500);
    duration.FromRESTValue(VString("1:30"));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 130) << "GetLong8 skips the colon";
    duration.FromRESTValue(VDuration(500)); // 0 whole seconds
    EXPECT_EQ(duration.ConvertToMilliseconds(), 500);

    // Kind 9 is registered and made by the registry.
    std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(VK_DURATION));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetValueKind(), VK_DURATION);
    EXPECT_FALSE(made->IsNull());

    // JSON scalars take the milliseconds.
    std::unique_ptr<VValueSingle> scalar(VValueSingle::ConvertVValueToJSONScalar(VDuration(1500), false));
    EXPECT_EQ(scalar->GetReal(), 1.5);
    scalar.reset(VValueSingle::ConvertVValueToJSONScalar(VDuration(1500), true));
    EXPECT_EQ(scalar->GetReal(), 1500);
}

TEST(Durations, StreamAndPointerForms)
{
    for (bool swap : {false, true})
    {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(VDuration(0x0102030405060708).WriteToStream(&stream), VE_OK);
        EXPECT_EQ(stream.PutValue(VDuration(-90061001)), VE_OK);
        stream.CloseWriting();
        ASSERT_EQ(stream.GetSize(), 8 + 2 + 8);
        const unsigned char* bytes = static_cast<const unsigned char*>(stream.GetDataPtr());
        int64_t raw;
        std::memcpy(&raw, bytes, 8);
        EXPECT_EQ(raw, swap ? 0x0807060504030201 : 0x0102030405060708) << "swap " << swap;

        ASSERT_EQ(stream.OpenReading(), VE_OK);
        stream.SetNeedSwap(swap);
        VDuration read;
        read.SetNull(true);
        EXPECT_EQ(read.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(read.ConvertToMilliseconds(), 0x0102030405060708);
        EXPECT_TRUE(read.IsNull()) << "reading leaves the flags";
        std::unique_ptr<VValue> value(stream.GetValue());
        ASSERT_NE(value, nullptr);
        ASSERT_EQ(value->GetValueKind(), VK_DURATION);
        EXPECT_EQ(static_cast<VDuration*>(value.get())->ConvertToMilliseconds(), -90061001);
        stream.CloseReading();
    }

    unsigned char data[8];
    VDuration(42).WriteToPtr(data);
    std::unique_ptr<VValue> loaded(VDuration::Info().LoadFromPtr(data, false));
    EXPECT_EQ(static_cast<VDuration*>(loaded.get())->ConvertToMilliseconds(), 42);
    VDuration::Info().ByteSwapPtr(data, true);
    EXPECT_EQ(VDuration(reinterpret_cast<const int64_t*>(data), false).ConvertToMilliseconds(),
              0x2A00000000000000);
}

} // namespace
