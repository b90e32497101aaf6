#include "tests/toolbox/intl/XMLTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Users on several threads share one initialisation of the library: it is not terminated while
// one of them remains, and is terminated when the last leaves.
TEST(XMLInit, CountedAcrossThreads)
{
    ASSERT_EQ(VXMLParser::GetInitCount(), 0);
    int32_t initializations = VXMLParser::GetLibraryInitializations();
    VXMLParser::Init();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
    {
        threads.emplace_back(
            [&failures]()
            {
                for (int i = 0; i < 20; ++i)
                {
                    VXMLParser::Init();
                    auto log = std::make_shared<CallLog>();
                    auto* handler = new RecordingHandler(log);
                    VXMLParser parser;
                    if (!parser.Parse(VString("<r a=\"1\"><c>t</c></r>"), handler, 0) || log->size() != 6)
                    {
                        ++failures;
                    }
                    handler->Release();
                    VXMLParser::DeInit();
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(VXMLParser::GetInitCount(), 1);
    EXPECT_EQ(VXMLParser::GetLibraryInitializations(), initializations + 1);
    VXMLParser::DeInit();
    EXPECT_EQ(VXMLParser::GetInitCount(), 0);
    // A parse without a prior Init holds a use of its own and leaves none behind.
    auto* handler = new VNullXMLHandler;
    VXMLParser parser;
    EXPECT_TRUE(parser.Parse(VString("<r/>"), handler, 0));
    handler->Release();
    EXPECT_EQ(VXMLParser::GetInitCount(), 0);
    EXPECT_EQ(VXMLParser::GetLibraryInitializations(), initializations + 2);
}

} // namespace
