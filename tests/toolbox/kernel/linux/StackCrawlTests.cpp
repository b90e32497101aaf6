// Stack crawls: frames captured innermost first, named from the program's dynamic symbols (this
// test program is linked with -rdynamic), demangled, and bounded.
#include "tests/StringTestSupport.h"
#include "toolbox/kernel/linux/XLinuxStackCrawl.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace zorn;

namespace crawl_test
{

// Exported functions, kept apart: no inlining, and work after each call so that no call becomes a
// jump.
__attribute__((noinline)) int Innermost(XLinuxStackCrawl& ioCrawl, uint32_t inCount)
{
    ioCrawl.LoadFrames(0, inCount);
    asm volatile("" ::: "memory");
    return static_cast<int>(ioCrawl.GetCount());
}

__attribute__((noinline)) int Middle(XLinuxStackCrawl& ioCrawl, uint32_t inCount)
{
    int count = Innermost(ioCrawl, inCount);
    asm volatile("" ::: "memory");
    return count + 1;
}

__attribute__((noinline)) int Outer(XLinuxStackCrawl& ioCrawl, uint32_t inCount)
{
    int count = Middle(ioCrawl, inCount);
    asm volatile("" ::: "memory");
    return count + 1;
}

__attribute__((noinline)) int Recurse(XLinuxStackCrawl& ioCrawl, int inDepth)
{
    if (inDepth == 0)
    {
        ioCrawl.LoadFrames(0, 100);
        return 0;
    }
    int result = Recurse(ioCrawl, inDepth - 1);
    asm volatile("" ::: "memory");
    return result + 1;
}

} // namespace crawl_test

namespace
{

// Not in the dynamic symbol table: its frame has no name.
__attribute__((noinline)) int Hidden(XLinuxStackCrawl& ioCrawl)
{
    int count = crawl_test::Outer(ioCrawl, 4);
    asm volatile("" ::: "memory");
    return count;
}

std::vector<std::string> Lines(const XLinuxStackCrawl& inCrawl)
{
    VString dump;
    inCrawl.Dump(dump);
    const std::u16string text = test::Text(dump); // ASCII: addresses and C++ names
    std::istringstream stream(std::string(text.begin(), text.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(StackCrawl, AKnownChainIsNamedDemangledAndInOrderInnermostFirst)
{
    XLinuxStackCrawl crawl;
    Hidden(crawl);
    ASSERT_EQ(crawl.GetCount(), 4u);
    const std::vector<std::string> lines = Lines(crawl);
    ASSERT_EQ(lines.size(), 4u);
    const std::regex form(R"(   \{(\d)\} 0x[0-9a-f]{16} - (.*))");
    const char* expected[] = {"crawl_test::Innermost(zorn::XLinuxStackCrawl&, unsigned int)",
                              "crawl_test::Middle(zorn::XLinuxStackCrawl&, unsigned int)",
                              "crawl_test::Outer(zorn::XLinuxStackCrawl&, unsigned int)", "<inline>"};
    for (size_t i = 0; i < 4; ++i)
    {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, form)) << lines[i];
        EXPECT_EQ(match[1].str(), std::to_string(3 - i)) << "numbered from count - 1 down";
        EXPECT_EQ(match[2].str(), expected[i]);
    }
}

TEST(StackCrawl, KeepsAtMost48FramesAndOrdersByCountThenAddresses)
{
    XLinuxStackCrawl deep;
    crawl_test::Recurse(deep, 60);
    EXPECT_EQ(deep.GetCount(), XLinuxStackCrawl::kMaxFrames);

    XLinuxStackCrawl empty;
    VString dump;
    empty.Dump(dump);
    EXPECT_TRUE(dump.IsEmpty());

    XLinuxStackCrawl shallow;
    crawl_test::Outer(shallow, 2);
    EXPECT_TRUE(empty < shallow);
    EXPECT_TRUE(shallow < deep);
    EXPECT_FALSE(deep < shallow);
    EXPECT_FALSE(shallow < shallow);
}
