#include "tests/toolbox/kernel/IntlTestProcess.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zorn;
using zorn::test::StIntlTestProcess;
using zorn::test::U;

namespace
{

// The stored form of a string (an int32 length, then the units), at an odd address when asked,
// as it may lie inside a packed record.
class StoredString
{
public:
    StoredString(const VString& inString, bool inMisaligned) : fBytes(inString.GetSpace() + 1)
    {
        fData = fBytes.data() + (inMisaligned ? 1 : 0);
        inString.WriteToPtr(fData);
    }
    const void* Data() const { return fData; }

private:
    std::vector<unsigned char> fBytes;
    unsigned char* fData;
};

} // namespace

TEST(StringCompare, RawComparisons)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fA;
        std::u16string fB;
        CompareResult fRaw;
        CompareResult fRawCase;
    };
    const Row rows[] = {
        {"equal", u"abc", u"abc", CR_EQUAL, CR_EQUAL},
        {"units as unsigned numbers", u"\uFFFF", u"a", CR_BIGGER, CR_BIGGER},
        {"a prefix is smaller", u"ab", u"abc", CR_SMALLER, CR_SMALLER},
        {"differences after an embedded 0 are not read", std::u16string(u"ab\0x", 4),
         std::u16string(u"ab\0y", 4), CR_EQUAL, CR_EQUAL},
        {"ASCII case folded", u"ABC", u"abc", CR_SMALLER, CR_EQUAL},
        {"nothing else folded", u"\u00c0", u"\u00e0", CR_SMALLER, CR_SMALLER},
    };
    for (const Row& row : rows)
    {
        VString a(reinterpret_cast<const UniChar*>(row.fA.data()), static_cast<int32_t>(row.fA.size()));
        VString b(reinterpret_cast<const UniChar*>(row.fB.data()), static_cast<int32_t>(row.fB.size()));
        EXPECT_EQ(a.CompareToStringRaw(b), row.fRaw) << row.fWhat;
        EXPECT_EQ(a.CompareToStringRawCase(b), row.fRawCase) << row.fWhat;
        EXPECT_EQ(b.CompareToStringRaw(a), -row.fRaw) << row.fWhat;
    }
    // Equality is exact on the whole length, embedded 0 included.
    EXPECT_FALSE(VString(reinterpret_cast<const UniChar*>(u"ab\0x"), 4)
                     .EqualToStringRaw(VString(reinterpret_cast<const UniChar*>(u"ab\0y"), 4)));

    EXPECT_TRUE(VString().EqualToUSASCIICString(""));
    EXPECT_FALSE(VString("a").EqualToUSASCIICString(""));
    EXPECT_TRUE(VString("name").EqualToUSASCIICString("name"));
    EXPECT_FALSE(VString("name").EqualToUSASCIICString("names"));
    EXPECT_TRUE(U(u"\uFFE9").EqualToUSASCIICString("\xE9")); // a byte above 127 widens as a signed char

    EXPECT_DOUBLE_EQ(VString("abc").SimilarToString(VString("abc")), 1.0);
    EXPECT_DOUBLE_EQ(VString("abc").SimilarToString(VString()), 0.0);
    EXPECT_DOUBLE_EQ(VString("abc").SimilarToString(VString("axbxc")), 1.0);
    EXPECT_DOUBLE_EQ(VString("axbxc").SimilarToString(VString("abc")), 0.6);
}

TEST(StringCompare, CollatedThroughTheCurrentManager)
{
    VString plain("resume");
    VString accented(U(u"R\u00e9sum\u00e9"));
    // Without a manager: units.
    EXPECT_FALSE(plain.EqualToString(accented));
    EXPECT_EQ(plain.CompareToString(VString("resume")), CR_EQUAL);

    StIntlTestProcess process(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fA;
        const char16_t* fB;
        bool fDiacritical;
        bool fEqual;
    };
    const Row rows[] = {
        {"accents and case ignored", u"resume", u"R\u00e9sum\u00e9", false, true},
        {"accents and case count", u"resume", u"R\u00e9sum\u00e9", true, false},
        {"decomposed accents", u"Re\u0301sume\u0301", u"R\u00e9sum\u00e9", true, true},
        {"different words", u"resume", u"result", false, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(U(row.fA).EqualToString(U(row.fB), row.fDiacritical), row.fEqual) << row.fWhat;
        EXPECT_EQ(U(row.fA).CompareToString(U(row.fB), row.fDiacritical) == CR_EQUAL, row.fEqual)
            << row.fWhat;
    }
    EXPECT_EQ(VString("apple").CompareToString(U(u"\u00c9clair")), CR_SMALLER);

    struct LikeRow
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        bool fMatches;
    };
    const LikeRow likeRows[] = {
        {"leading wild character", u"my r\u00e9sum\u00e9", u"@RESUME", true},
        {"trailing wild character", u"R\u00e9sum\u00e9 2026", u"resume@", true},
        {"inner wild character", u"R\u00e9sum\u00e9", u"r@e", true},
        {"inner wild character, wrong end", u"R\u00e9sum\u00e9s", u"r@e", false},
    };
    for (const LikeRow& row : likeRows)
    {
        EXPECT_EQ(U(row.fText).EqualToString_Like(U(row.fPattern)), row.fMatches) << row.fWhat;
        EXPECT_EQ(U(row.fText).CompareToString_Like(U(row.fPattern)) == CR_EQUAL, row.fMatches) << row.fWhat;
    }
}

TEST(StringCompare, ValueModelLengths)
{
    StIntlTestProcess process(1033);
    VString shortText("abc");
    VString longText("ABCDEFGHIJ");

    EXPECT_EQ(shortText.CompareToSameKind(&longText), CR_SMALLER);
    EXPECT_EQ(longText.CompareBeginingToSameKind(&shortText), CR_EQUAL);
    EXPECT_TRUE(shortText.EqualToSameKind(&longText) == false);
    EXPECT_TRUE(VString("ABC").EqualToSameKind(&shortText));
    EXPECT_FALSE(VString("ABC").EqualToSameKind(&shortText, true));

    VCompareOptions options;
    options.SetBeginsWith(true);
    // Against another string: 3 units against 10, so the short one is smaller ...
    EXPECT_EQ(shortText.CompareToSameKindWithOptions(&longText, options), CR_SMALLER);
    for (bool misaligned : {false, true})
    {
        StoredString stored(longText, misaligned);
        // ... against a stored form: 3 against 3.
        EXPECT_EQ(shortText.CompareToSameKindPtrWithOptions(stored.Data(), options), CR_EQUAL) << misaligned;
        EXPECT_EQ(shortText.Swap_CompareToSameKindPtrWithOptions(stored.Data(), options), CR_EQUAL)
            << misaligned;
        EXPECT_EQ(shortText.CompareToSameKindPtr(stored.Data()), CR_SMALLER) << misaligned;
        EXPECT_EQ(shortText.Swap_CompareToSameKindPtr(stored.Data()), CR_BIGGER) << misaligned;
        EXPECT_EQ(shortText.IsTheBeginingToSameKindPtr(stored.Data()), CR_EQUAL) << misaligned;
        EXPECT_EQ(longText.CompareBeginingToSameKindPtr(StoredString(shortText, misaligned).Data()),
                  CR_EQUAL);
        EXPECT_FALSE(shortText.EqualToSameKindPtr(stored.Data())) << misaligned;
        EXPECT_TRUE(longText.EqualToSameKindPtr(StoredString(VString("abcdefghij"), misaligned).Data()));
    }

    // Patterns: the other string (or stored form) is the pattern, except in the Swap_ forms.
    VString pattern("ab@");
    StoredString storedPattern(pattern, true);
    StoredString storedText(longText, true);
    EXPECT_TRUE(longText.EqualToSameKind_Like(&pattern));
    EXPECT_EQ(longText.CompareToSameKindPtr_Like(storedPattern.Data()), CR_EQUAL);
    EXPECT_TRUE(longText.EqualToSameKindPtr_Like(storedPattern.Data()));
    EXPECT_TRUE(pattern.Swap_EqualToSameKindPtr_Like(storedText.Data()));
    EXPECT_EQ(pattern.Swap_CompareToSameKindPtr_Like(storedText.Data()), CR_EQUAL);

    options.SetBeginsWith(false);
    options.SetLike(true);
    EXPECT_EQ(longText.CompareToSameKindWithOptions(&pattern, options), CR_EQUAL);
    EXPECT_TRUE(longText.EqualToSameKindWithOptions(&pattern, options));
    options.SetDiacritical(true);
    EXPECT_FALSE(longText.EqualToSameKindWithOptions(&pattern, options)); // case counts now

    // Two stored forms, through the kind's descriptor.
    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_STRING);
    ASSERT_NE(info, nullptr);
    StoredString storedShort(shortText, false);
    EXPECT_EQ(info->CompareTwoPtrToData(storedShort.Data(), storedText.Data()), CR_SMALLER);
    EXPECT_EQ(info->CompareTwoPtrToDataBegining(storedText.Data(), storedShort.Data()), CR_EQUAL);
    EXPECT_EQ(info->CompareTwoPtrToData_Like(storedText.Data(), storedPattern.Data()), CR_EQUAL);
    options.SetLike(false);
    options.SetDiacritical(false);
    options.SetBeginsWith(true);
    EXPECT_EQ(info->CompareTwoPtrToDataWithOptions(storedShort.Data(), storedText.Data(), options), CR_EQUAL);
}

TEST(StringCompare, OptionsCarryTheirOwnManager)
{
    StIntlTestProcess english(1033);
    VRefPtr<VIntlMgr> danish(VIntlMgr::Create(1030, 1030), true);
    ASSERT_TRUE(danish);
    // Danish sorts "aa" after "z"; English before it.
    VString aa("aaby");
    VString z("zebra");
    EXPECT_EQ(aa.CompareToSameKind(&z), CR_SMALLER);
    VCompareOptions options;
    options.SetIntlManager(danish.Get());
    EXPECT_EQ(aa.CompareToSameKindWithOptions(&z, options), CR_BIGGER);
}

TEST(StringCompare, OtherKindsCompareByTheirText)
{
    StIntlTestProcess process(1033);
    EXPECT_EQ(VString("42").CompareTo(VLong(42)), CR_EQUAL);
    EXPECT_EQ(VString("41").CompareTo(VLong(42)), CR_SMALLER);
    EXPECT_EQ(VString("9").CompareTo(VLong(10)), CR_BIGGER); // as texts, not as numbers
}
