// The XML library links libcurl on demand: starting it and parsing maps no curl library, and the
// first handle loads curl, through which every function Xerces calls reaches the real one with
// its argument intact (a transfer of a local file through curl's multi interface shows it).
#include "tests/toolbox/intl/XMLTestSupport.h"

#include <gtest/gtest.h>

#include <sys/select.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace zorn;
using namespace zorn::test;

// curl's functions as its ABI has them (no curl headers are installed for the build).
extern "C"
{
    struct CurlSList;
    struct CurlMessage
    {
        int fMessage; // 1: done
        void* fEasy;
        union
        {
            void* fWhatever;
            int fResult;
        } fData;
    };
    int curl_global_init(long inFlags);
    void curl_global_cleanup();
    void* curl_easy_init();
    void curl_easy_cleanup(void* inHandle);
    int curl_easy_setopt(void* inHandle, int inOption, ...);
    int curl_easy_getinfo(void* inHandle, int inInfo, ...);
    void* curl_multi_init();
    int curl_multi_cleanup(void* inMulti);
    int curl_multi_add_handle(void* inMulti, void* inEasy);
    int curl_multi_remove_handle(void* inMulti, void* inEasy);
    int curl_multi_perform(void* inMulti, int* outRunning);
    int curl_multi_fdset(void* inMulti, fd_set* ioRead, fd_set* ioWrite, fd_set* ioExcept, int* outMax);
    int curl_multi_timeout(void* inMulti, long* outMilliseconds);
    CurlMessage* curl_multi_info_read(void* inMulti, int* outLeft);
    CurlSList* curl_slist_append(CurlSList* ioList, const char* inText);
    void curl_slist_free_all(CurlSList* ioList);
}

namespace
{

constexpr int kOptionWriteData = 10001;       // object pointer
constexpr int kOptionURL = 10002;             // object pointer
constexpr int kOptionWriteFunction = 20011;   // function pointer
constexpr int kOptionHTTPHeader = 10023;      // object pointer (a list)
constexpr int kOptionNoSignal = 99;           // long
constexpr int kOptionResumeFromLarge = 30116; // 64-bit offset
constexpr int kInfoSizeDownloadT = 0x600008;  // 64-bit offset, through a pointer

bool CurlIsMapped()
{
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find("libcurl") != std::string::npos;
}

size_t Collect(char* inBytes, size_t inSize, size_t inCount, void* ioText)
{
    static_cast<std::string*>(ioText)->append(inBytes, inSize * inCount);
    return inSize * inCount;
}

// Runs first in its program: nothing before it may have made a curl handle.
TEST(CurlOnDemand, StartingTheXMLLibraryAndParsingLoadNoCurl)
{
    ASSERT_TRUE(VXMLParser::Init());
    auto* handler = new VNullXMLHandler;
    VXMLParser parser;
    EXPECT_TRUE(parser.Parse(VString("<r a=\"1\"><c>t</c></r>"), handler, 0));
    handler->Release();
    EXPECT_FALSE(CurlIsMapped());
    VXMLParser::DeInit();
}

TEST(CurlOnDemand, TheFirstHandleLoadsCurlAndEveryCallForwards)
{
    char path[] = "/tmp/zorn-curl-XXXXXX";
    const int descriptor = ::mkstemp(path);
    ASSERT_GE(descriptor, 0);
    const std::string content = "0123456789abcdefghij";
    ASSERT_EQ(::write(descriptor, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(descriptor);

    EXPECT_EQ(curl_global_init(3), 0);
    void* easy = curl_easy_init();
    ASSERT_NE(easy, nullptr);
    EXPECT_TRUE(CurlIsMapped());
    std::string received;
    const std::string url = std::string("file://") + path;
    CurlSList* headers = curl_slist_append(nullptr, "X-Test: 1");
    ASSERT_NE(headers, nullptr);
    EXPECT_EQ(curl_easy_setopt(easy, kOptionURL, url.c_str()), 0);
    EXPECT_EQ(curl_easy_setopt(easy, kOptionWriteFunction, &Collect), 0);
    EXPECT_EQ(curl_easy_setopt(easy, kOptionWriteData, &received), 0);
    EXPECT_EQ(curl_easy_setopt(easy, kOptionHTTPHeader, headers), 0);
    EXPECT_EQ(curl_easy_setopt(easy, kOptionNoSignal, 1L), 0);
    // A 64-bit offset that survives the forwarding only whole: the transfer starts at byte 7.
    EXPECT_EQ(curl_easy_setopt(easy, kOptionResumeFromLarge, int64_t{7}), 0);

    void* multi = curl_multi_init();
    ASSERT_NE(multi, nullptr);
    ASSERT_EQ(curl_multi_add_handle(multi, easy), 0);
    int running = 1;
    for (int round = 0; running > 0 && round < 10000; ++round)
    {
        ASSERT_EQ(curl_multi_perform(multi, &running), 0);
        fd_set readers;
        fd_set writers;
        fd_set errors;
        FD_ZERO(&readers);
        FD_ZERO(&writers);
        FD_ZERO(&errors);
        int highest = -1;
        long timeout = -1;
        ASSERT_EQ(curl_multi_fdset(multi, &readers, &writers, &errors, &highest), 0);
        ASSERT_EQ(curl_multi_timeout(multi, &timeout), 0);
    }
    int left = 0;
    CurlMessage* message = curl_multi_info_read(multi, &left);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->fMessage, 1);
    EXPECT_EQ(message->fData.fResult, 0);
    EXPECT_EQ(received, content.substr(7));
    int64_t downloaded = -1;
    EXPECT_EQ(curl_easy_getinfo(easy, kInfoSizeDownloadT, &downloaded), 0);
    EXPECT_EQ(downloaded, static_cast<int64_t>(content.size() - 7));

    EXPECT_EQ(curl_multi_remove_handle(multi, easy), 0);
    EXPECT_EQ(curl_multi_cleanup(multi), 0);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    curl_global_cleanup();
    ::unlink(path);
}

} // namespace
