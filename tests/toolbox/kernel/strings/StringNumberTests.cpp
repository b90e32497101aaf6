#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zorn;

namespace
{

TEST(StringNumbers, IntegerReaders)
{
    struct Row
    {
        const char* fWhat;
        const char* fText;
        int64_t fLong8;
        int32_t fLong;
    };
    const Row rows[] = {
        {"empty", "", 0, 0},
        {"plain", "42", 42, 42},
        {"other units are skipped", "12-3", 123, 123},
        {"leading minus", "-12", -12, -12},
        {"minus after a digit is skipped", "1-2", 12, 12},
        {"decimal separator ends the scan", "1.5", 1, 1},
        {"no digit", "abc", 0, 0},
        {"beyond 32 bits", "3000000000", 3000000000LL, 0},
        {"least 32-bit value", "-2147483648", -2147483648LL, INT32_MIN},
        {"64-bit arithmetic wraps", "18446744073709551617", 1, 1},
    };
    for (const Row& row : rows)
    {
        VString text(row.fText);
        EXPECT_EQ(text.GetLong8(), row.fLong8) << row.fWhat;
        EXPECT_EQ(text.GetLong(), row.fLong) << row.fWhat;
    }
}

TEST(StringNumbers, HexReader)
{
    struct Row
    {
        const char* fText;
        int64_t fExpected;
    };
    const Row rows[] = {
        {"", 0},    {"0x1F", 31}, {"0X10", 16}, {"ff", 255}, {"a-b", 0xAB}, {"0xFFFFFFFFFFFFFFFF", -1},
        {"xyz", 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VString(row.fText).GetHexLong(), row.fExpected) << row.fText;
    }
}

TEST(StringNumbers, RealReader)
{
    struct Row
    {
        const char* fText;
        double fExpected;
        bool fOverflow;
    };
    const Row rows[] = {
        {"1.5", 1.5, false}, {"1e3", 1000, false}, {"  -2.25x", -2.25, false},
        {"abc", 0, false},   {"", 0, false},       {"1e999", HUGE_VAL, true},
        {"1e-999", 0, true}, {"0", 0, false},      {"1,5", 1, false}, // only '.' separates decimals
    };
    for (const Row& row : rows)
    {
        VString text(row.fText);
        bool overflow = !row.fOverflow;
        EXPECT_EQ(text.GetRealCheckOverflow(&overflow), row.fExpected) << row.fText;
        EXPECT_EQ(overflow, row.fOverflow) << row.fText;
        EXPECT_EQ(text.GetReal(), row.fExpected) << row.fText;
    }
    // Units outside ASCII end the number.
    const UniChar units[] = {u'2', u'.', u'5', 0x0660, u'1'};
    EXPECT_EQ(VString(units, 5).GetReal(), 2.5);
}

} // namespace
