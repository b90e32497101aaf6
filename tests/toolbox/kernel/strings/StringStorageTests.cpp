#include "tests/StringTestSupport.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using zorn::test::Text;

namespace
{

// Fills a record with the string's buffer and one reference, as a JSON value holds it.
VInlineString RetainInto(const VString& inString)
{
    int32_t length = 0;
    int32_t capacity = 0;
    VInlineString record;
    record.fString = inString.RetainBuffer(length, capacity);
    record.fLength = length;
    record.fMaxLength = capacity;
    return record;
}

// Grows a string unit by unit to inLength, as an append loop would.
void GrowTo(VString& ioString, int32_t inLength)
{
    for (int32_t length = ioString.GetLength() + 1; length <= inLength; ++length)
    {
        UniChar* units = ioString.GetCPointerForWrite(length);
        ASSERT_NE(units, nullptr);
        units[length - 1] = static_cast<UniChar>('a' + length % 26);
        ASSERT_TRUE(ioString.Validate(length));
    }
}

TEST(StringStorage, ProgressiveGrowthCapacities)
{
    struct Row
    {
        const char* fWhat;
        int32_t fFrom;
        int32_t fTo;
        int32_t fCapacity;
    };
    const Row rows[] = {
        {"empty to 5 units", 0, 5, 5},
        {"empty to 6 units", 0, 6, 13},
        {"13 to 14 units", 13, 14, 21},
    };
    for (const Row& row : rows)
    {
        VString text;
        if (row.fFrom > 0)
        {
            ASSERT_NE(text.GetCPointerForWrite(row.fFrom), nullptr);
            ASSERT_TRUE(text.Validate(row.fFrom));
        }
        ASSERT_NE(text.GetCPointerForWrite(row.fTo), nullptr) << row.fWhat;
        EXPECT_EQ(text.GetCapacity(), row.fCapacity) << row.fWhat;
    }
}

TEST(StringStorage, GrowthRuleLimits)
{
    struct Row
    {
        const char* fWhat;
        int32_t fOld;
        int32_t fNew;
        int64_t fSize;
    };
    const Row rows[] = {
        {"below 6 units", 3, 5, 8},
        {"fresh string: exact fit rounded to 8", 0, 100, 104},
        {"grow by a fifth", 100, 101, 128},
        {"999,999 to 1,000,000 units: capacity 1,200,005", 999999, 1000000, 1200008},
        {"spare room capped at 10,485,760", 100000000, 100000001, 110485768},
        {"near the limit: least size that holds it", 0x70000000, 0x7FFFFFF0, 0x7FFFFFF4},
        {"too large", 0, 0x7FFFFFFF, 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VString::ComputeProgressiveResize(row.fOld, row.fNew), row.fSize) << row.fWhat;
    }
}

TEST(StringStorage, UnitByUnitGrowthKeepsContent)
{
    VString text;
    GrowTo(text, 5000);
    ASSERT_EQ(text.GetLength(), 5000);
    for (int32_t pos = 1; pos <= 5000; ++pos)
    {
        ASSERT_EQ(text.GetUniChar(pos), 'a' + pos % 26) << pos;
    }
}

TEST(StringStorage, CopyOnWriteSharesThenUnshares)
{
    VString first;
    GrowTo(first, 40);
    const std::u16string original = Text(first);
    EXPECT_EQ(first.GetBufferRefCount(), 1u);

    VString copy(first);
    EXPECT_EQ(copy.GetCPointer(), first.GetCPointer());
    EXPECT_EQ(first.GetBufferRefCount(), 2u);

    ASSERT_TRUE(copy.SetUniChar(1, 'Z'));
    EXPECT_NE(copy.GetCPointer(), first.GetCPointer());
    EXPECT_EQ(Text(first), original);
    EXPECT_EQ(copy.GetUniChar(1), 'Z');
    EXPECT_EQ(first.GetBufferRefCount(), 1u);
}

TEST(StringStorage, CopiesOfInlineAndBorrowedTextOwnTheirUnits)
{
    VStr15 small("inline text");
    VString fromSmall(small);
    EXPECT_NE(fromSmall.GetCPointer(), small.GetCPointer());
    EXPECT_EQ(Text(fromSmall), u"inline text");

    CVSTR_struct literal = CVSTR("a constant literal");
    VString fromLiteral(literal);
    EXPECT_NE(fromLiteral.GetCPointer(), literal.GetCPointer());
    EXPECT_EQ(Text(fromLiteral), u"a constant literal");
}

TEST(StringStorage, WritesToBorrowedLiteralCopyFirst)
{
    // The literal lives in read-only storage: any write must go to a buffer of the string's own.
    static const char16_t kLiteral[] = u"read-only literal";
    CVSTR_struct literal(kLiteral);
    ASSERT_EQ(literal.GetCPointer(), reinterpret_cast<const UniChar*>(kLiteral));

    ASSERT_TRUE(literal.SetUniChar(1, 'R'));
    EXPECT_NE(literal.GetCPointer(), reinterpret_cast<const UniChar*>(kLiteral));
    EXPECT_EQ(Text(literal), u"Read-only literal");
    EXPECT_EQ(std::u16string(kLiteral), u"read-only literal");

    CVSTR_struct shortened(kLiteral);
    ASSERT_TRUE(shortened.Validate(4));
    EXPECT_EQ(Text(shortened), u"read");
    EXPECT_EQ(std::u16string(kLiteral), u"read-only literal");
}

TEST(StringStorage, CallerBufferIsWrittenInPlace)
{
    UniChar storage[16] = {'a', 'b', 'c', 0};
    VString text(storage, 3, sizeof(storage));
    EXPECT_EQ(text.GetCapacity(), 15); // 32 bytes: 16 units, one kept for the terminator
    ASSERT_TRUE(text.SetUniChar(2, 'X'));
    EXPECT_EQ(text.GetCPointer(), storage);
    EXPECT_EQ(storage[1], 'X');

    VString nullBuffer(static_cast<UniChar*>(nullptr), 0, 10);
    EXPECT_TRUE(nullBuffer.IsNull());
}

TEST(StringStorage, InlineStringRecordsShareOrBorrow)
{
    VString source;
    GrowTo(source, 30);
    VInlineString record = RetainInto(source);
    ASSERT_EQ(record.fString, source.GetCPointer());
    EXPECT_EQ(source.GetBufferRefCount(), 2u);

    VString sharing(record);
    EXPECT_EQ(sharing.GetCPointer(), record.fString);
    EXPECT_EQ(source.GetBufferRefCount(), 3u);
    VString copyOfSharing(sharing); // a string that shares a record's buffer is shared on copy
    EXPECT_EQ(copyOfSharing.GetCPointer(), record.fString);

    VString borrowing(record, true);
    EXPECT_EQ(source.GetBufferRefCount(), 4u); // borrowing takes no reference
    ASSERT_TRUE(borrowing.SetUniChar(1, '!'));
    EXPECT_NE(borrowing.GetCPointer(), record.fString);
    EXPECT_NE(source.GetUniChar(1), '!');

    record.Release();
    EXPECT_EQ(source.GetBufferRefCount(), 3u);

    VStr15 small("tiny");
    VInlineString copied = RetainInto(small);
    ASSERT_NE(copied.fString, nullptr);
    EXPECT_NE(copied.fString, small.GetCPointer());
    EXPECT_EQ(copied.fMaxLength, 4);
    EXPECT_EQ(VString(copied).GetUniChar(4), 'y');
    copied.Release();

    VString empty;
    int32_t length = -1;
    int32_t capacity = -1;
    EXPECT_EQ(empty.RetainBuffer(length, capacity), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(capacity, 0);
}

TEST(StringStorage, AssignmentMoveAndSwap)
{
    VString heap;
    GrowTo(heap, 50);
    const std::u16string heapText = Text(heap);

    VString target("old");
    target = heap;
    EXPECT_EQ(target.GetCPointer(), heap.GetCPointer());

    VString nullSource(true);
    target = nullSource;
    EXPECT_TRUE(target.IsNull());
    EXPECT_TRUE(target.IsEmpty());

    const UniChar* buffer = heap.GetCPointer();
    VString moved(std::move(heap));
    EXPECT_EQ(moved.GetCPointer(), buffer);
    EXPECT_TRUE(heap.IsEmpty());
    EXPECT_TRUE(heap.IsInline());

    VStr31 small("small");
    small.Swap(moved);
    EXPECT_EQ(Text(small), heapText);
    EXPECT_EQ(small.GetCPointer(), buffer); // the heap buffer changed hands without a copy
    EXPECT_EQ(Text(moved), u"small");

    VStr15 a("abc");
    VStr15 b("defgh");
    a.Swap(b);
    EXPECT_EQ(Text(a), u"defgh");
    EXPECT_EQ(Text(b), u"abc");
    EXPECT_TRUE(a.IsInline());
}

TEST(StringStorage, ClearReturnsToInlineBuffer)
{
    VStr255 text;
    GrowTo(text, 300);
    EXPECT_FALSE(text.IsInline());
    text.Clear();
    EXPECT_TRUE(text.IsInline());
    EXPECT_EQ(text.GetCapacity(), 255);
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_FALSE(text.IsNull());
}

TEST(StringStorage, BoundsAndInvalidRequests)
{
    VString text("abc");
    struct Row
    {
        const char* fWhat;
        int32_t fPos;
        UniChar fExpected;
    };
    const Row rows[] = {{"position 0", 0, 0}, {"first", 1, 'a'}, {"last", 3, 'c'}, {"length + 1", 4, 0}};
    for (const Row& row : rows)
    {
        EXPECT_EQ(text.GetUniChar(row.fPos), row.fExpected) << row.fWhat;
    }
    EXPECT_FALSE(text.SetUniChar(0, 'x'));
    EXPECT_FALSE(text.SetUniChar(4, 'x'));

    EXPECT_FALSE(text.Validate(-1));
    EXPECT_FALSE(text.Validate(text.GetCapacity() + 1));
    EXPECT_EQ(Text(text), u"abc");

    EXPECT_FALSE(text.EnsureSize(-1)); // negative length: 'zorn' 107, string unchanged
    EXPECT_EQ(Text(text), u"abc");
    EXPECT_TRUE(text.IsStringValid());
}

TEST(StringStorage, ConstructorsFromOtherForms)
{
    EXPECT_EQ(Text(VString("plain ascii")), u"plain ascii");
    EXPECT_EQ(Text(VString(L"wide \U0001F600")), u"wide \U0001F600");
    EXPECT_EQ(Text(VString(static_cast<UniChar>('Q'))), u"Q");
    EXPECT_TRUE(VString(static_cast<const UniChar*>(nullptr)).IsEmpty());
    EXPECT_TRUE(VString(true).IsNull());
    const char16_t units[] = u"units";
    EXPECT_EQ(Text(VString(reinterpret_cast<const UniChar*>(units), 3)), u"uni");

    std::unique_ptr<VString> dynamic(VString::NewString(40));
    GrowTo(*dynamic, 40);
    EXPECT_TRUE(dynamic->IsInline());
    EXPECT_EQ(dynamic->GetCapacity(), 40);

    std::unique_ptr<VString> clone(VString("cloned").Clone());
    EXPECT_EQ(Text(*clone), u"cloned");
    EXPECT_TRUE(VString::GetEmptyString().IsEmpty());
}

TEST(StringStorage, SharedBufferAcrossThreadsIsFreedOnce)
{
    VString source;
    GrowTo(source, 200);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
    {
        threads.emplace_back(
            [&source]
            {
                for (int i = 0; i < 2000; ++i)
                {
                    VString copy(source);
                    // A write unshares: the copy gets its own buffer and leaves the shared one alone.
                    if (i % 7 == 0)
                    {
                        copy.SetUniChar(1, 'x');
                    }
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(source.GetBufferRefCount(), 1u);
    EXPECT_EQ(source.GetUniChar(1), 'a' + 1 % 26);
}

TEST(StringStorage, PointerForm)
{
    VString text("hello");
    unsigned char record[64];
    EXPECT_EQ(text.GetSpace(), 14u);
    EXPECT_EQ(static_cast<unsigned char*>(text.WriteToPtr(record)), record + 14);

    VString back;
    EXPECT_EQ(back.LoadFromPtr(record), record + 14);
    EXPECT_EQ(Text(back), u"hello");

    unsigned char cut[16];
    text.WriteToPtr(cut, false, 10); // only (10 - 4) / 2 units fit
    EXPECT_EQ(VString::Info().GetSizeOfValueDataPtr(cut), 10u);

    VString::Info().ByteSwapPtr(record, true);
    VString::Info().ByteSwapPtr(record, false);
    back.LoadFromPtr(record);
    EXPECT_EQ(Text(back), u"hello");
}

} // namespace
