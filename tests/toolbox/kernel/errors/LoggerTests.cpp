#include "tests/toolbox/kernel/LoggerTestSupport.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn;

namespace
{

// Accepts the levels of a mask; records nothing itself.
class MaskLogger : public test::StubLogger
{
public:
    explicit MaskLogger(uint32_t inMask) : fMask(inMask) {}
    bool ShouldLog(EMessageLevel inLevel) const override { return (fMask >> inLevel) & 1u; }
    void LogBag(VValueBag*) override {}

private:
    uint32_t fMask;
};

struct Written
{
    static inline int sErrors = 0;
    static inline std::string sAssert;
    static inline ILogger* sLogger = nullptr;
};

TEST(LoggerRecords, WritersRunOnlyForAcceptedLevels)
{
    auto* error = reinterpret_cast<VErrorBase*>(alignof(void*)); // never read by the writer below
    detail::SetLogRecordWriters(
        [](ILogger& ioLogger, VErrorBase*)
        {
            ++Written::sErrors;
            Written::sLogger = &ioLogger;
        },
        [](ILogger& ioLogger, const char* inMessage, const char* inFile, int inLine)
        {
            Written::sAssert = std::string(inMessage) + "@" + inFile + ":" + std::to_string(inLine);
            Written::sLogger = &ioLogger;
        });

    MaskLogger defaults(0xF0); // info to fatal
    defaults.LogErrorIfNecessary(error);
    defaults.LogAssertIfNecessary("x > 0", "/src/a.cpp", 12);
    EXPECT_EQ(Written::sErrors, 1);
    EXPECT_EQ(Written::sLogger, &defaults);
    EXPECT_EQ(Written::sAssert, "") << "assertions are level 2, off by default";
    defaults.LogErrorIfNecessary(nullptr);
    EXPECT_EQ(Written::sErrors, 1) << "no error, no record";

    MaskLogger asserts(1u << EML_Assert);
    asserts.LogErrorIfNecessary(error);
    asserts.LogAssertIfNecessary("x > 0", "/src/a.cpp", 12);
    EXPECT_EQ(Written::sErrors, 1);
    EXPECT_EQ(Written::sAssert, "x > 0@/src/a.cpp:12");
    EXPECT_EQ(Written::sLogger, &asserts);

    // Without writers (before record bags exist) nothing is logged and nothing fails.
    detail::SetLogRecordWriters(nullptr, nullptr);
    defaults.LogErrorIfNecessary(error);
    asserts.LogAssertIfNecessary("y", "b.cpp", 1);
    EXPECT_EQ(Written::sErrors, 1);
}

} // namespace
