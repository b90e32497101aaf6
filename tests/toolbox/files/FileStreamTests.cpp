#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileDesc.h"
#include "toolbox/files/VFileStream.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

// A file of 20 bytes ('a'..'t') in a fresh temporary folder, read and written through file streams.
class FileStreams : public test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-filestream-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
        fPath = fFolder + "/data.bin";
        WriteFile("abcdefghijklmnopqrst");
        fFile = new VFile(VString(fPath.c_str()), FPS_POSIX);
    }
    void TearDown() override
    {
        fFile->Release();
        ::unlink(fPath.c_str());
        ::rmdir(fFolder.c_str());
        TaskManagerTest::TearDown();
    }
    void WriteFile(const std::string& inBytes) const
    {
        std::ofstream(fPath, std::ios::binary | std::ios::trunc) << inBytes;
    }
    std::string ReadFile() const
    {
        std::ifstream in(fPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string fFolder;
    std::string fPath;
    VFile* fFile = nullptr;
};

TEST_F(FileStreams, ReadingTakesEveryBranchThroughASmallBuffer)
{
    struct Step
    {
        const char* what;
        int64_t position; // -1: where the last read ended
        size_t count;
        const char* expected;
        VError error;
    };
    // Buffer of 4 bytes over 20.
    const Step steps[] = {
        {"refill from the start (nothing buffered)", 0, 3, "abc", VE_OK},
        {"all from the buffer", -1, 1, "d", VE_OK},
        {"buffer exhausted: refill at the position", -1, 2, "ef", VE_OK},
        {"part from the buffer, the rest from a refill", -1, 4, "ghij", VE_OK},
        {"larger than the buffer: straight from the file", -1, 6, "klmnop", VE_OK},
        {"back before the buffer: refill there", 1, 2, "bc", VE_OK},
        {"a refill cut by the end of the file", 18, 4, "st", VE_STREAM_EOF},
    };
    VFileStream stream(fFile);
    ASSERT_EQ(stream.SetBufferSize(4), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), 4U);
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.what);
        if (step.position >= 0)
        {
            ASSERT_EQ(stream.SetPos(step.position), VE_OK);
        }
        StErrorContextInstaller scope;
        std::string got(step.count, '\0');
        size_t count = 0;
        EXPECT_EQ(stream.GetData(got.data(), step.count, &count), step.error);
        got.resize(count);
        EXPECT_EQ(got, step.expected);
    }
    stream.CloseReading();

    // A direct read running past the end delivers what there is and reports the end of data.
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(12), VE_OK);
    StErrorContextInstaller scope;
    char big[40] = {};
    size_t count = 0;
    EXPECT_EQ(stream.GetData(big, sizeof(big), &count), VE_STREAM_EOF);
    EXPECT_EQ(std::string(big, count), "mnopqrst");
    stream.CloseReading();
}

TEST_F(FileStreams, BufferSizesFollowTheFileWhenReading)
{
    VFileStream stream(fFile);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), 20U) << "a small file gets a buffer of its size";
    stream.CloseReading();
    EXPECT_EQ(stream.GetBufferSize(), 0U);

    WriteFile(std::string(40000, 'x'));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), VFileStream::kDefaultBufferSize);
    EXPECT_EQ(stream.SetBufferSize(100000), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), 40000U) << "capped by the file while reading";
    stream.ReleaseBuffer();
    char bytes[10] = {};
    EXPECT_EQ(stream.GetData(bytes, sizeof(bytes)), VE_OK) << "without a buffer, straight reads";
    EXPECT_EQ(std::string(bytes, 10), std::string(10, 'x'));
    stream.CloseReading();
}

TEST_F(FileStreams, UngetAcrossARefillReadsTheSameBytesAgain)
{
    VFileStream stream(fFile);
    stream.SetBufferSize(4);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char bytes[6] = {};
    ASSERT_EQ(stream.GetData(bytes, 3), VE_OK);     // buffer holds abcd
    ASSERT_EQ(stream.GetData(bytes + 3, 3), VE_OK); // d, then a refill holding efgh
    ASSERT_EQ(stream.UngetData(bytes + 1, 5), VE_OK);
    char again[7] = {};
    ASSERT_EQ(stream.GetData(again, 7), VE_OK);
    EXPECT_EQ(std::string(again, 7), "bcdefgh");
    stream.CloseReading();
}

TEST_F(FileStreams, ReadingPositionsAndErrors)
{
    VFileStream stream(fFile);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetSize(), 20);
    EXPECT_EQ(stream.SetPos(20), VE_OK);
    {
        StErrorContextInstaller scope;
        EXPECT_EQ(stream.SetPos(21), VE_STREAM_EOF) << "past the end while reading";
    }
    stream.CloseReading();

    StErrorContextInstaller scope;
    VFileStream none(nullptr);
    EXPECT_EQ(none.OpenReading(), VE_STREAM_CANNOT_FIND_SOURCE);
    EXPECT_EQ(none.OpenWriting(), VE_STREAM_CANNOT_FIND_SOURCE);
    ::unlink(fPath.c_str());
    VFileStream missing(fFile);
    EXPECT_NE(missing.OpenReading(), VE_OK);
    EXPECT_FALSE(missing.IsReading());
}

TEST_F(FileStreams, WritingTakesEveryBranchThroughASmallBuffer)
{
    struct Step
    {
        const char* what;
        int64_t position; // -1: where the last write ended
        const char* bytes;
        const char* onDisk; // the file after the step, before any flush
        bool written;       // whether bytes reached the file in this step
    };
    // Buffer of 4 bytes over the 20-byte file.
    const Step steps[] = {
        {"small write into the empty buffer", 0, "AB", "abcdefghijklmnopqrst", false},
        {"just after the buffered bytes, fits", -1, "C", "abcdefghijklmnopqrst", false},
        {"within the buffered bytes, fits", 1, "x", "abcdefghijklmnopqrst", false},
        {"overflow: fill, write back, rest buffered", 3, "DEF", "AxCDefghijklmnopqrst", true},
        {"not smaller than the buffer: straight to the file", -1, "GHIJKL", "AxCDEFGHIJKLmnopqrst", true},
        {"elsewhere: the buffered bytes go first", 14, "Z", "AxCDEFGHIJKLmnopqrst", false},
        {"past the end: the file grows", 19, "YYY", "AxCDEFGHIJKLmnZpqrst", true},
    };
    VFileStream stream(fFile);
    stream.SetBufferSize(4);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), 4U);
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.what);
        if (step.position >= 0)
        {
            ASSERT_EQ(stream.SetPos(step.position), VE_OK);
        }
        const bool before = stream.IsWrittenToStorage();
        ASSERT_EQ(stream.PutData(step.bytes, std::strlen(step.bytes)), VE_OK);
        EXPECT_EQ(ReadFile(), step.onDisk);
        EXPECT_EQ(!before && stream.IsWrittenToStorage(), step.written && !before);
    }
    EXPECT_EQ(stream.GetSize(), 22);
    ASSERT_EQ(stream.CloseWriting(false), VE_OK);
    EXPECT_EQ(ReadFile(), "AxCDEFGHIJKLmnZpqrsYYY");
}

TEST_F(FileStreams, SmallWritesWaitForTheFlushLargeOnesGoStraight)
{
    VFileStream stream(fFile);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.GetBufferSize(), VFileStream::kDefaultBufferSize);
    ASSERT_EQ(stream.PutData("0123456789", 10), VE_OK);
    EXPECT_EQ(ReadFile(), "abcdefghijklmnopqrst");
    EXPECT_FALSE(stream.IsWrittenToStorage());
    ASSERT_EQ(stream.Flush(), VE_OK);
    EXPECT_EQ(ReadFile(), "0123456789klmnopqrst");
    EXPECT_TRUE(stream.IsWrittenToStorage());
    ASSERT_EQ(stream.CloseWriting(false), VE_OK);

    VFileStream big(fFile);
    ASSERT_EQ(big.OpenWriting(), VE_OK);
    EXPECT_FALSE(big.IsWrittenToStorage());
    const std::string bytes(100000, 'z');
    ASSERT_EQ(big.PutData(bytes.data(), bytes.size()), VE_OK);
    EXPECT_EQ(ReadFile(), bytes) << "larger than the buffer: on disk at once";
    ASSERT_EQ(big.CloseWriting(), VE_OK);
}

TEST_F(FileStreams, ClosingWithTheSizeFlagCutsARewrittenFile)
{
    for (bool setSize : {true, false})
    {
        SCOPED_TRACE(setSize);
        WriteFile("abcdefghijklmnopqrst");
        VFileStream stream(fFile);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(stream.PutData("XYZ", 3), VE_OK);
        ASSERT_EQ(stream.CloseWriting(setSize), VE_OK);
        EXPECT_EQ(ReadFile(), setSize ? "XYZ" : "XYZdefghijklmnopqrst");
    }
}

TEST_F(FileStreams, PositionsAndSizesWhileWriting)
{
    VFileStream stream(fFile);
    stream.SetBufferSize(8);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    // Past the end: the file is extended with zero bytes at once.
    ASSERT_EQ(stream.SetPos(25), VE_OK);
    EXPECT_EQ(stream.GetSize(), 25);
    EXPECT_EQ(ReadFile(), std::string("abcdefghijklmnopqrst") + std::string(5, '\0'));
    // SetSize drops the buffered bytes beyond the new size.
    ASSERT_EQ(stream.SetPos(2), VE_OK);
    ASSERT_EQ(stream.PutData("123456", 6), VE_OK);
    ASSERT_EQ(stream.SetSize(5), VE_OK);
    EXPECT_EQ(stream.GetPos(), 5);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(ReadFile(), "ab123");
}

// The third write to the test's file finds the disk full (through the file back ends' table of
// system calls; the file is told by its inode, as the stream keeps its descriptor to itself).
ino_t sFullFileInode = 0;
int sFullFileWrites = 0;

ssize_t PwriteFullAtTheThird(int inFd, const void* inBytes, size_t inCount, off_t inOffset)
{
    struct stat status = {};
    if (::fstat(inFd, &status) == 0 && status.st_ino == sFullFileInode && ++sFullFileWrites == 3)
    {
        errno = ENOSPC;
        return -1;
    }
    return ::pwrite(inFd, inBytes, inCount, inOffset);
}

TEST_F(FileStreams, AFullDiskAtTheNthWriteBackIsReportedWithWhatIsOnDisk)
{
    VFileStream stream(fFile);
    stream.SetBufferSize(4);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    struct stat status = {};
    ASSERT_EQ(::stat(fPath.c_str(), &status), 0);
    sFullFileInode = status.st_ino;
    sFullFileWrites = 0;
    XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
    calls.fPwrite = &PwriteFullAtTheThird;
    XLinuxCopyEngine::SetCalls(calls);
    struct Reset
    {
        ~Reset() { XLinuxCopyEngine::ResetCalls(); }
    } reset;
    StErrorContextInstaller scope;
    const VError full = EncodedNativeErrorToVError(MakeVErrorFromErrno(ENOSPC), VE_FILE_CANNOT_WRITE);
    VError error = VE_OK;
    const char* pieces[] = {"ABC", "DEF", "GHI", "JKL", "MNO"};
    for (const char* piece : pieces)
    {
        error = stream.PutData(piece, 3);
        if (error != VE_OK)
        {
            break;
        }
    }
    EXPECT_EQ(error, full);
    EXPECT_EQ(stream.GetLastError(), full);
    EXPECT_EQ(stream.CloseWriting(), full) << "closing reports the kept failure";
    EXPECT_EQ(ReadFile(), "ABCDEFGHijklmnopqrst") << "the two write-backs before the failure";
}

} // namespace

namespace
{

// The file members that have no counterpart on Linux answer "none" and change nothing.
TEST_F(FileStreams, FileMembersWithoutALinuxCounterpart)
{
    fFile->MAC_SetExtensionVisible(false);
    EXPECT_EQ(ReadFile(), "abcdefghijklmnopqrst");
    const XLinuxFile backEnd(fPath);
    EXPECT_EQ(backEnd.AllocResourceForkPath(), nullptr);

    VError error = VE_UNKNOWN_ERROR;
    std::unique_ptr<VString> id(backEnd.RetainUTIString(&error));
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(error, VE_OK);
    EXPECT_TRUE(id->EqualToUSASCIICString("public.data"));
    ::unlink(fPath.c_str());
    EXPECT_EQ(backEnd.RetainUTIString(&error), nullptr);
    EXPECT_EQ(error, MakeVErrorFromErrno(ENOENT));
}

} // namespace

namespace
{

// Lines read through buffers of every small size, so that lines and CR LF pairs are cut between
// refills, must come out as through a buffer that holds the whole file.
TEST_F(FileStreams, TextLinesAcrossRefills)
{
    WriteFile("one\r\ntwo\rthree\n\ncaf\xC3\xA9 long line\r\nlast");
    const char* const expected[] = {"one", "two", "three", "", "caf\xC3\xA9 long line", "last"};
    for (size_t bufferSize : {1, 2, 3, 4, 5, 7, 64})
    {
        SCOPED_TRACE(bufferSize);
        VFileStream stream(fFile);
        stream.SetBufferSize(bufferSize);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        stream.SetCharSet(CharSet::VTC_UTF_8);
        VString line;
        for (const char* text : expected)
        {
            ASSERT_EQ(stream.GetTextLine(line), VE_OK);
            VString wanted;
            wanted.FromBlock(text, std::strlen(text), CharSet::VTC_UTF_8);
            EXPECT_TRUE(line.EqualToStringRaw(wanted)) << text;
        }
        StErrorContextInstaller scope;
        EXPECT_EQ(stream.GetTextLine(line), VE_STREAM_EOF);
        stream.CloseReading();
    }
}

} // namespace
