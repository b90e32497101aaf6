#include "tests/StringTestSupport.h"
#include "toolbox/kernel/errors/ILocalizer.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

using namespace zorn;
using zorn::test::Text;

namespace
{

// A stand-in for the JSON layer's objects: string and number properties in a map. It lets these
// tests see what errors store in their parameters without linking the JSON layer.
struct FakeObject
{
    int fRefs = 1;
    std::map<std::u16string, std::u16string> fStrings;
    std::map<std::u16string, double> fNumbers;
};

FakeObject* Fake(const VJSONObject* inObject)
{
    return reinterpret_cast<FakeObject*>(const_cast<VJSONObject*>(inObject));
}

const detail::VJSONObjectAccess kFakeAccess = {
    [] { return reinterpret_cast<VJSONObject*>(new FakeObject()); },
    [](const VJSONObject* inObject)
    {
        auto* copy = new FakeObject(*Fake(inObject));
        copy->fRefs = 1;
        return reinterpret_cast<VJSONObject*>(copy);
    },
    [](const VJSONObject* inObject) { ++Fake(inObject)->fRefs; },
    [](const VJSONObject* inObject)
    {
        if (--Fake(inObject)->fRefs == 0)
        {
            delete Fake(inObject);
        }
    },
    [](VJSONObject* ioObject, const VString& inName, const VString& inValue)
    { Fake(ioObject)->fStrings[Text(inName)] = Text(inValue); },
    [](VJSONObject* ioObject, const VString& inName, double inValue)
    { Fake(ioObject)->fNumbers[Text(inName)] = inValue; },
    [](const VJSONObject* inObject, const VString& inName, VString& outValue)
    {
        auto found = Fake(inObject)->fStrings.find(Text(inName));
        if (found == Fake(inObject)->fStrings.end())
        {
            return false;
        }
        outValue.FromUniCString(reinterpret_cast<const UniChar*>(found->second.data()),
                                static_cast<int32_t>(found->second.size()));
        return true;
    },
    [](const VJSONObject* inObject, const VString& inName, double& outValue)
    {
        auto found = Fake(inObject)->fNumbers.find(Text(inName));
        if (found == Fake(inObject)->fNumbers.end())
        {
            return false;
        }
        outValue = found->second;
        return true;
    },
    [](const VJSONObject* inObject, const VString& inName, VString& outText)
    {
        auto found = Fake(inObject)->fStrings.find(Text(inName));
        if (found != Fake(inObject)->fStrings.end())
        {
            outText.FromUniCString(reinterpret_cast<const UniChar*>(found->second.data()),
                                   static_cast<int32_t>(found->second.size()));
            return true;
        }
        auto number = Fake(inObject)->fNumbers.find(Text(inName));
        if (number == Fake(inObject)->fNumbers.end())
        {
            return false;
        }
        outText = VString(std::to_string(static_cast<long long>(number->second)).c_str());
        return true;
    },
    [](const VJSONObject*, VJSONObject*, const VString&) { return false; },
    [](const VJSONObject* inObject)
    { return Fake(inObject)->fStrings.empty() && Fake(inObject)->fNumbers.empty(); },
    [](const VJSONObject*, const VString&, VString&) { return false; },
    // Error parameters use no booleans, objects or arrays.
    [](VJSONObject*, const VString&, bool) {},
    [](const VJSONObject*, const VString&, bool&) { return false; },
    [](VJSONObject*, const VString&, VJSONObject*) {},
    [](VJSONObject*, const VString&, VJSONObject* const*, size_t) {},
};

class FakeLocalizer : public ILocalizer
{
public:
    bool LocalizeErrorMessage(VError inError, VString& outText) override
    {
        if (inError != MakeVError(kCOMPONENT_ZORN, 600))
        {
            return false;
        }
        outText = VString("File {p1} not found in {folder}{missing}.");
        return true;
    }
};

class Errors : public ::testing::Test
{
protected:
    void SetUp() override { detail::KernelHooks().fJSONObjectAccess.store(&kFakeAccess); }
    void TearDown() override
    {
        VErrorBase::UnregisterLocalizer(kCOMPONENT_ZORN);
        detail::KernelHooks().fJSONObjectAccess.store(nullptr);
    }
};

TEST_F(Errors, ErrorStringAndParametersOfANewError)
{
    VErrorBase error(MakeVError(kCOMPONENT_ZORN, 600));
    VString text;
    error.GetErrorString(text);
    EXPECT_EQ(Text(text), u"Error code: 600 (zorn)");
    FakeObject* parameters = Fake(error.GetParameters());
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(parameters->fStrings[u"componentSignature"], u"zorn");
    EXPECT_EQ(parameters->fNumbers[u"errCode"], 600);
}

TEST_F(Errors, DescriptionSources)
{
    FakeLocalizer localizer;
    VErrorBase::RegisterLocalizer(kCOMPONENT_ZORN, &localizer);

    VErrorBase notFound(MakeVError(kCOMPONENT_ZORN, 600));
    notFound.SetString(CVSTR("p1"), CVSTR("a.txt"));
    notFound.SetLong(CVSTR("folder"), 42);
    VString text;
    notFound.GetErrorDescription(text);
    EXPECT_EQ(Text(text), u"File a.txt not found in 42.") << "placeholders filled, absent one removed";

    notFound.SetDescription(CVSTR("fixed text"));
    notFound.GetErrorDescription(text);
    EXPECT_EQ(Text(text), u"fixed text") << "a message parameter wins over the localizer";

    VErrorBase unknown(MakeVError(kCOMPONENT_ZORN, 601));
    unknown.GetErrorDescription(text);
    EXPECT_EQ(Text(text), u"Error code: 601 (zorn)") << "no localized text: the error string";

    VErrorBase posix(MakeVErrorFromErrno(ENOENT));
    posix.GetErrorDescription(text);
    EXPECT_EQ(Text(text), u"No such file or directory") << "native text of an errno";
}

TEST_F(Errors, WithoutJSONLayerErrorsHaveNoParameters)
{
    detail::KernelHooks().fJSONObjectAccess.store(nullptr);
    VErrorBase error(MakeVError(kCOMPONENT_ZORN, 600));
    EXPECT_EQ(error.GetParameters(), nullptr);
    error.SetString(CVSTR("p1"), CVSTR("ignored"));
    VString text;
    error.GetErrorDescription(text);
    EXPECT_EQ(Text(text), u"Error code: 600 (zorn)");
}

TEST_F(Errors, CreateFromParameters)
{
    auto* parameters = reinterpret_cast<VJSONObject*>(new FakeObject());
    VErrorBase* error = VErrorBase::Create(parameters, kCOMPONENT_ZORN);
    EXPECT_EQ(error->GetError(), MakeVError(kCOMPONENT_ZORN, -1));
    EXPECT_EQ(Fake(parameters)->fStrings[u"componentSignature"], u"zorn");
    EXPECT_EQ(Fake(parameters)->fNumbers[u"errCode"], -1);
    error->Release();
    kFakeAccess.fRelease(parameters);
}

TEST_F(Errors, DumpAndDebugDump)
{
    VErrorBase error(MakeVError(MakeOsType('U', 'P', 'Z', 'q'), 3));
    VString dump;
    error.DumpToString(dump);
    EXPECT_EQ(Text(dump), u"Error code: 3 (UPZq)\nError code: 3 (UPZq)\ncomponent: 'UPZq'\ntask 0\n");

    // Without a process the debug dump is plain text; the signature reads in its own order.
    char buffer[128];
    int size = sizeof(buffer);
    EXPECT_EQ(error.DebugDump(buffer, size), CharSet::VTC_UTF_8);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(size)), "Error code: 3, component: 'UPZq', task ID: 0");
}

TEST(NativeErrors, MappingTable)
{
    const VError fallback = MakeVError(kCOMPONENT_ZORN, 999);
    struct Row
    {
        const char* fWhat;
        VError fNative;
        VError fExpected;
    };
    const Row rows[] = {
        {"ENOENT", MakeVErrorFromErrno(2), MakeVError(kCOMPONENT_ZORN, 600)},
        {"EACCES", MakeVErrorFromErrno(13), MakeVError(kCOMPONENT_ZORN, 5)},
        {"unmapped errno", MakeVErrorFromErrno(5), fallback},
        {"Mach error", MakeVError(kNATIVE_MACH, 3), fallback},
        {"Mach success", MakeVError(kNATIVE_MACH, 0), MakeVError(kNATIVE_MACH, 0)},
        {"generic toolbox error", VE_UNKNOWN_ERROR, fallback},
        {"other toolbox error", MakeVError(kCOMPONENT_ZORN, 7), MakeVError(kCOMPONENT_ZORN, 7)},
        {"Carbon memFullErr", MakeVError(kNATIVE_CARBON, -108), MakeVError(kCOMPONENT_ZORN, 100)},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(EncodedNativeErrorToVError(row.fNative, fallback), row.fExpected) << row.fWhat;
    }
    EXPECT_EQ(MAC_MapCarbonErrorToVError(-1), MakeVError(kNATIVE_CARBON, -1));
    EXPECT_EQ(MAC_MapCarbonErrorToVError(0), VE_OK);
    EXPECT_EQ(MAC_MapCarbonErrorToVError(-43), MakeVError(kCOMPONENT_ZORN, 600));
}

// Error contexts of one task, driven directly (the task layer pushes raised errors the same way).
class ErrorContexts : public ::testing::Test
{
protected:
    static VErrorBase* NewError(int32_t inNumber)
    {
        return new VErrorBase(MakeVError(kCOMPONENT_ZORN, inNumber));
    }
    void Push(int32_t inNumber, bool* outFiltered = nullptr)
    {
        VErrorBase* error = NewError(inNumber);
        fTask.PushError(error, outFiltered);
        error->Release();
    }
    VErrorTaskContext fTask;
};

TEST_F(ErrorContexts, SilentDroppingScopeLeavesOuterUnchanged)
{
    fTask.PushNewContext(true, false);
    Push(1);
    fTask.PushNewContext(false, true);
    bool filtered = false;
    Push(600, &filtered);
    EXPECT_TRUE(filtered) << "a silent scope's errors are not reported";
    fTask.PopContext();
    EXPECT_EQ(fTask.GetLastError(), MakeVError(kCOMPONENT_ZORN, 1));
    EXPECT_EQ(fTask.Find(MakeVError(kCOMPONENT_ZORN, 600)), nullptr);
}

TEST_F(ErrorContexts, ExpectedCodeSilencesAndDropsEvenWhenKeeping)
{
    fTask.PushNewContext(true, false);
    VErrorContext* scope = fTask.PushNewContext(true, false);
    scope->AddFilteredError(MakeVError(kCOMPONENT_ZORN, 200));
    bool filtered = false;
    Push(200, &filtered);
    EXPECT_TRUE(filtered);
    EXPECT_TRUE(scope->IsSilent());
    fTask.PopContext();
    EXPECT_EQ(fTask.GetLastError(), VE_OK);
}

TEST_F(ErrorContexts, NestedKeepingScopesPassErrorsOutwardInOrder)
{
    fTask.PushNewContext(true, false);
    Push(1);
    fTask.PushNewContext(true, false);
    bool filtered = true;
    Push(2, &filtered);
    EXPECT_FALSE(filtered);
    Push(3);
    fTask.PopContext();
    VErrorContext all;
    fTask.GetErrors(all);
    ASSERT_EQ(all.GetErrorList().size(), 3u);
    EXPECT_EQ(all.GetErrorList()[0]->GetError(), MakeVError(kCOMPONENT_ZORN, 1));
    EXPECT_EQ(all.GetErrorList()[2]->GetError(), MakeVError(kCOMPONENT_ZORN, 3));
}

TEST_F(ErrorContexts, OutermostScopeKeepsItsErrorsOnTheTask)
{
    fTask.PushNewContext(true, false);
    Push(100);
    fTask.PopContext();
    EXPECT_EQ(fTask.GetDepth(), 1u);
    EXPECT_EQ(fTask.GetLastError(), VE_MEMORY_FULL);
    EXPECT_TRUE(fTask.FailedForMemory());
}

TEST_F(ErrorContexts, FindAnyAndRecycling)
{
    VErrorContext* scope = fTask.PushNewContext(true, false);
    Push(5);
    EXPECT_TRUE(scope->FindAny({MakeVError(kCOMPONENT_ZORN, 4), MakeVError(kCOMPONENT_ZORN, 5)}));
    EXPECT_FALSE(scope->FindAny({VE_OK, MakeVError(kCOMPONENT_ZORN, 5)})) << "a first code of 0";
    scope->Flush();
    EXPECT_EQ(scope->GetLastError(), VE_OK);
}

TEST(ErrorScope, WithoutTaskWorksOnAFreeStandingContext)
{
    StErrorContextInstaller scope;
    ASSERT_NE(scope.GetContext(), nullptr);
    EXPECT_EQ(scope.GetLastError(), VE_OK);
    // No process object: raising does nothing visible.
    EXPECT_EQ(_ThrowError(VE_MEMORY_FULL), VE_MEMORY_FULL);
    EXPECT_EQ(scope.GetLastError(), VE_OK);
}

} // namespace
