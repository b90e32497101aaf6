// A program that links the JSON library but names nothing of it: the kernel's JSON entries must be
// installed all the same, before main, so that errors made by kernel code carry parameters.
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <gtest/gtest.h>

using namespace zorn;

namespace
{

TEST(JSONKernelHooks, InstalledInAProgramThatOnlyLinksTheLibrary)
{
    EXPECT_NE(detail::JSONObjects(), nullptr);
    EXPECT_NE(detail::KernelHooks().fGetJSONScalar.load(), nullptr);
    EXPECT_NE(detail::KernelHooks().fSetJSONNumber.load(), nullptr);
    EXPECT_NE(detail::KernelHooks().fSetJSONString.load(), nullptr);
    EXPECT_NE(detail::KernelHooks().fGetJSONString.load(), nullptr);
    VErrorBase error(MakeVError(kCOMPONENT_ZORN, 600));
    ASSERT_NE(error.GetParameters(), nullptr);
    VString signature;
    EXPECT_TRUE(
        detail::JSONObjects()->fGetString(error.GetParameters(), CVSTR("componentSignature"), signature));
    EXPECT_EQ(signature.GetLength(), 4);
}

} // namespace
