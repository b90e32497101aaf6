// Streams report their reads and writes through a progress indicator, and stop when it says so.
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/process/VProgressIndicator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

// Records what the stream reports; stops once the value passes fStopAfter (when not negative).
class RecordingIndicator : public VProgressIndicator
{
public:
    int64_t fStopAfter = -1;
    int64_t fHighestValue = -1;
    int64_t fSessionMax = 0;
    VString fSessionTitle;
    int fReports = 0;

protected:
    void DoBeginSession(int32_t) override
    {
        fSessionMax = GetMaxValue();
        GetMessage(fSessionTitle);
    }
    bool DoProgress() override
    {
        ++fReports;
        fHighestValue = std::max(fHighestValue, GetCurrentValue());
        return fStopAfter < 0 || GetCurrentValue() <= fStopAfter;
    }
};

TEST(ProgressStreams, AUserAbortStopsAReadHalfway)
{
    const size_t size = 10 * 1024 * 1024;
    std::vector<char> data(size, 'x');
    VRefPtr<RecordingIndicator> indicator(new RecordingIndicator(), true);
    indicator->fStopAfter = static_cast<int64_t>(size / 2);
    {
        VConstPtrStream stream(data.data(), data.size());
        stream.SetProgressIndicator(indicator.Get());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        EXPECT_EQ(to_string(indicator->fSessionTitle), std::string("Reading From Stream"));
        EXPECT_EQ(indicator->fSessionMax, static_cast<int64_t>(size));
        std::vector<char> block(64 * 1024);
        VError error = VE_OK;
        while (error == VE_OK && stream.GetPos() < static_cast<int64_t>(size))
        {
            error = stream.GetData(block.data(), block.size());
        }
        EXPECT_EQ(error, VE_STREAM_USER_ABORTED);
        EXPECT_EQ(stream.GetLastError(), VE_STREAM_USER_ABORTED) << "the stop is kept";
        EXPECT_LT(stream.GetPos(), static_cast<int64_t>(size));
        EXPECT_GT(stream.GetPos(), indicator->fStopAfter);
        EXPECT_LE(indicator->fHighestValue, static_cast<int64_t>(size));
        EXPECT_EQ(stream.GetData(block.data(), block.size()), VE_STREAM_USER_ABORTED);
        stream.CloseReading();
        EXPECT_EQ(indicator->GetSessionCount(), 0) << "closing ends the session";
    }
    EXPECT_EQ(indicator->GetRefCount(), 1u) << "the stream released its reference";
}

TEST(ProgressStreams, ReadsNeverReportMoreThanTheSize)
{
    // Line reads take 512-byte blocks and give back what follows the line: counting every
    // transfer would count those bytes twice.
    std::string text;
    for (int line = 0; line < 200; ++line)
    {
        text += "line " + std::to_string(line) + "\n";
    }
    VRefPtr<RecordingIndicator> indicator(new RecordingIndicator(), true);
    VConstPtrStream stream(text.data(), text.size());
    stream.SetCharSet(CharSet::VTC_UTF_8);
    stream.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString line;
    int lines = 0;
    while (stream.GetTextLine(line) == VE_OK)
    {
        ++lines;
    }
    EXPECT_EQ(lines, 200);
    EXPECT_EQ(indicator->fHighestValue, static_cast<int64_t>(text.size()));
    EXPECT_GT(indicator->fReports, 1);
    stream.CloseReading();
}

TEST(ProgressStreams, WritesReportWithoutAMaximum)
{
    VRefPtr<RecordingIndicator> indicator(new RecordingIndicator(), true);
    VPtrStream stream;
    stream.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(to_string(indicator->fSessionTitle), std::string("Writing to Stream"));
    EXPECT_EQ(indicator->fSessionMax, -1);
    const char bytes[100] = {};
    EXPECT_EQ(stream.PutData(bytes, 60), VE_OK);
    EXPECT_EQ(stream.PutData(bytes, 40), VE_OK);
    EXPECT_EQ(indicator->GetCurrentValue(), 100);
    indicator->fStopAfter = 120;
    EXPECT_EQ(stream.PutData(bytes, 40), VE_STREAM_USER_ABORTED);
    stream.CloseWriting();
    EXPECT_EQ(indicator->GetSessionCount(), 0);

    // Without an indicator, or after it was removed, nothing is reported.
    stream.SetProgressIndicator(nullptr);
    const int reports = indicator->fReports;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutData(bytes, 10), VE_OK);
    stream.CloseWriting();
    EXPECT_EQ(indicator->fReports, reports);
}

} // namespace
