#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zorn;

namespace
{

// A minimal single value that records its hook calls.
class Probe : public VValueSingle
{
public:
    int fNullChanges = 0;
    int fDirtyChanges = 0;

    void Clear() override {}
    VValue* Clone() const override { return new Probe(*this); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }

protected:
    void DoNullChanged() override { ++fNullChanges; }
    void DoDirtyChanged() override { ++fDirtyChanges; }
};

constexpr ValueKind kProbeKind = 4242;
using ProbeInfo = VValueInfo_default<Probe, kProbeKind>;

TEST(ValueModel, SetNullOnCleanValueSetsBothBitsAndCallsEachHookOnce)
{
    Probe probe;
    probe.SetDirty(false);
    probe.fDirtyChanges = 0;

    probe.SetNull(true);
    EXPECT_TRUE(probe.IsNull());
    EXPECT_TRUE(probe.IsDirty());
    EXPECT_EQ(probe.fNullChanges, 1);
    EXPECT_EQ(probe.fDirtyChanges, 1);

    probe.SetNull(true); // no change: no hook
    EXPECT_EQ(probe.fNullChanges, 1);
    EXPECT_EQ(probe.fDirtyChanges, 1);
}

TEST(ValueModel, InvertCompResult)
{
    struct Row
    {
        const char* fWhat;
        CompareResult fIn;
        CompareResult fOut;
    };
    const Row rows[] = {
        {"smaller", CR_SMALLER, CR_BIGGER}, {"bigger", CR_BIGGER, CR_SMALLER}, {"equal", CR_EQUAL, CR_EQUAL}};
    for (const Row& row : rows)
    {
        EXPECT_EQ(VValue::InvertCompResult(row.fIn), row.fOut) << row.fWhat;
    }
}

TEST(ValueModel, RegistryFindsRegisteredKindsOnly)
{
    EXPECT_EQ(VValue::ValueInfoFromValueKind(7), nullptr);
    EXPECT_EQ(VValue::NewValueFromValueKind(7), nullptr);

    const VValueInfo* stringInfo = VValue::ValueInfoFromValueKind(VK_STRING);
    ASSERT_NE(stringInfo, nullptr);
    EXPECT_EQ(stringInfo, &VString::Info());
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_STRING));
    ASSERT_NE(generated, nullptr);
    EXPECT_EQ(generated->GetValueKind(), VK_STRING);

    {
        ProbeInfo info; // registers itself while it exists
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kProbeKind), &info);
        std::unique_ptr<VValue> probe(VValue::NewValueFromValueKind(kProbeKind));
        EXPECT_NE(dynamic_cast<Probe*>(probe.get()), nullptr);
    }
    EXPECT_EQ(VValue::ValueInfoFromValueKind(kProbeKind), nullptr);
}

TEST(ValueModel, ValueWithoutOwnKindReportsUndefinedKind)
{
    Probe probe;
    EXPECT_EQ(probe.GetValueKind(), VK_UNDEFINED);
}

TEST(ValueModel, ConvertToKeepsNullStateAndRefusesUnknownKinds)
{
    VString text("abc");
    std::unique_ptr<VValueSingle> copy(text.ConvertTo(VK_STRING));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->CompareTo(text), CR_EQUAL);
    EXPECT_FALSE(copy->IsNull());

    VString nullText(true);
    std::unique_ptr<VValueSingle> nullCopy(nullText.ConvertTo(VK_STRING));
    ASSERT_NE(nullCopy, nullptr);
    EXPECT_TRUE(nullCopy->IsNull());

    EXPECT_EQ(text.ConvertTo(7), nullptr);
}

TEST(ValueModel, ValueKindToJsonType)
{
    const std::pair<ValueKind, int32_t> rows[] = {{VK_BOOLEAN, 2}, {VK_REAL, 4}, {VK_TIME, 8},
                                                  {VK_STRING, 3},  {VK_LONG, 0}, {VK_BAG, 0}};
    for (auto [kind, type] : rows)
    {
        EXPECT_EQ(VValueSingle::ValueKindToJsonType(kind), type) << "kind " << kind;
    }
}

TEST(CompareOptions, Defaults)
{
    VCompareOptions options;
    EXPECT_EQ(options.GetIntlManager(), nullptr);
    EXPECT_FALSE(options.IsLike());
    EXPECT_FALSE(options.IsDiacritical());
    EXPECT_FALSE(options.IsBeginsWith());
    EXPECT_DOUBLE_EQ(options.GetEpsilon(), 1e-6);
}

} // namespace
