#include "tests/toolbox/files/SmallTmpfs.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFileDesc.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

// A file of inSize bytes (0, 1, 2, ...) in a fresh temporary folder, removed at the end.
// Runs with the task manager, so that pushed errors reach the error contexts.
class FileDescs : public test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-filedesc-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
        fFile = fFolder + "/data.bin";
        int fd = ::open(fFile.c_str(), O_CREAT | O_RDWR, 0600);
        ASSERT_GE(fd, 0);
        std::string bytes(100, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
        {
            bytes[i] = static_cast<char>(i);
        }
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), 100);
        ::close(fd);
    }
    void TearDown() override
    {
        ::unlink(fFile.c_str());
        ::rmdir(fFolder.c_str());
        TaskManagerTest::TearDown();
    }
    int Open() const { return ::open(fFile.c_str(), O_RDWR); }

    std::string fFolder;
    std::string fFile;
};

int64_t Number(VErrorBase* inError, const char* inName)
{
    VJSONValue value = inError->GetParameters()->GetProperty(VString(inName));
    return value.IsNumber() ? static_cast<int64_t>(value.GetNumber()) : -1;
}

TEST_F(FileDescs, ShortReadAtTheEndGivesTheEndOfDataWithItsParameters)
{
    VFileDesc desc(VFilePath(), Open());
    char buffer[10] = {};
    size_t read = 0;
    {
        StErrorContextInstaller scope;
        EXPECT_EQ(desc.GetData(buffer, 10, 95, &read), VE_STREAM_EOF);
        EXPECT_EQ(read, 5U);
        EXPECT_EQ(buffer[0], 95);
        VErrorBase* error = scope.GetContext() == nullptr ? nullptr : scope.GetContext()->GetLast();
        ASSERT_NE(error, nullptr) << "the absolute form pushes the end of data";
        {
            EXPECT_EQ(error->GetError(), VE_STREAM_EOF);
            EXPECT_EQ(Number(error, "count"), 10);
            EXPECT_EQ(Number(error, "offset"), 95);
            EXPECT_EQ(Number(error, "size"), 100);
        }
    }
    EXPECT_EQ(desc.GetPos(), 0) << "the absolute form never moves the position";
    EXPECT_EQ(desc.GetSize(), 100);
}

TEST_F(FileDescs, PositionsAreTheirOwn)
{
    VFileDesc first(VFilePath(), Open());
    VFileDesc second(VFilePath(), Open());
    char buffer[20] = {};
    EXPECT_EQ(first.GetDataAtPos(buffer, 20), VE_OK);
    EXPECT_EQ(first.GetPos(), 20);
    EXPECT_EQ(first.SetPos(-10, false), VE_OK);
    EXPECT_EQ(first.GetPos(), 10);
    EXPECT_EQ(second.GetDataAtPos(buffer, 3, 4), VE_OK);
    EXPECT_EQ(buffer[0], 4);
    // The position moves by the bytes read, not past the offset.
    EXPECT_EQ(second.GetPos(), 3);
    EXPECT_EQ(first.GetDataAtPos(buffer, 1), VE_OK);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(first.GetData(buffer, 1, 50), VE_OK);
    EXPECT_EQ(first.GetPos(), 11);

    size_t written = 0;
    EXPECT_EQ(second.PutDataAtPos("xyz", 3, 0, &written), VE_OK);
    EXPECT_EQ(written, 3U);
    EXPECT_EQ(second.GetPos(), 6);
    EXPECT_EQ(first.GetData(buffer, 3, 3), VE_OK);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(second.SetSize(40), VE_OK);
    EXPECT_EQ(first.GetSize(), 40);
    EXPECT_EQ(first.Flush(), VE_OK);
}

TEST_F(FileDescs, DestructionClosesTheDescriptor)
{
    int fd = Open();
    {
        VFileDesc desc(VFilePath(), fd);
        EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    }
    errno = 0;
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

// Faults injected through the file back ends' table of system calls, on the test's descriptor
// only. The replacements are plain functions, so their state is static.
struct InjectedTransfers
{
    enum class Fault
    {
        kThreeBytesThenFull, // the first write takes 3 bytes, the next finds the disk full
        kInterruptedOnce,    // the first read or write fails with EINTR
        kWritesNothing,      // every write returns 0 without a failure
    };
    static inline int sFd = -1;
    static inline Fault sFault = Fault::kInterruptedOnce;
    static inline int sCalls = 0;

    static ssize_t Pwrite(int inFd, const void* inBytes, size_t inCount, off_t inOffset)
    {
        if (inFd != sFd)
        {
            return ::pwrite(inFd, inBytes, inCount, inOffset);
        }
        const int call = ++sCalls;
        switch (sFault)
        {
        case Fault::kThreeBytesThenFull:
            if (call == 1)
            {
                return ::pwrite(inFd, inBytes, std::min<size_t>(inCount, 3), inOffset);
            }
            errno = ENOSPC;
            return -1;
        case Fault::kInterruptedOnce:
            break;
        case Fault::kWritesNothing:
            return 0;
        }
        if (call == 1)
        {
            errno = EINTR;
            return -1;
        }
        return ::pwrite(inFd, inBytes, inCount, inOffset);
    }

    static ssize_t Pread(int inFd, void* outBytes, size_t inCount, off_t inOffset)
    {
        if (inFd == sFd && sFault == Fault::kInterruptedOnce && ++sCalls == 1)
        {
            errno = EINTR;
            return -1;
        }
        return ::pread(inFd, outBytes, inCount, inOffset);
    }

    InjectedTransfers(int inFd, Fault inFault)
    {
        sFd = inFd;
        sFault = inFault;
        sCalls = 0;
        XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
        calls.fPwrite = &Pwrite;
        calls.fPread = &Pread;
        XLinuxCopyEngine::SetCalls(calls);
    }
    ~InjectedTransfers()
    {
        XLinuxCopyEngine::ResetCalls();
        sFd = -1;
    }
    InjectedTransfers(const InjectedTransfers&) = delete;
    InjectedTransfers& operator=(const InjectedTransfers&) = delete;
};

TEST_F(FileDescs, InjectedFaults)
{
    const int fd = Open();
    VFileDesc desc(VFilePath(), fd);
    using Fault = InjectedTransfers::Fault;
    // A disk that fills after 3 bytes: the bytes written are reported with the native failure.
    {
        InjectedTransfers faults(fd, Fault::kThreeBytesThenFull);
        size_t written = 0;
        StErrorContextInstaller scope;
        VError code = desc.PutData("abcdef", 6, 0, &written);
        EXPECT_EQ(code, EncodedNativeErrorToVError(MakeVErrorFromErrno(ENOSPC), VE_FILE_CANNOT_WRITE));
        EXPECT_EQ(written, 3U);
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_EQ(errors.size(), 2U) << "the native code, then the file error";
        EXPECT_EQ(errors[0]->GetError(), MakeVErrorFromErrno(ENOSPC));
        EXPECT_EQ(errors[1]->GetError(), code);
        EXPECT_EQ(Number(errors[1], "count"), 6);
        EXPECT_EQ(Number(errors[1], "offset"), 0);
        EXPECT_EQ(Number(errors[1], "size"), 100);
    }

    // An interruption restarts the transfer, which then succeeds, for reads and writes.
    for (bool writing : {false, true})
    {
        SCOPED_TRACE(writing);
        InjectedTransfers faults(fd, Fault::kInterruptedOnce);
        char buffer[8] = "0123456";
        size_t count = 0;
        VError result = writing ? desc.PutData(buffer, 7, 10, &count) : desc.GetData(buffer, 7, 10, &count);
        EXPECT_EQ(result, VE_OK);
        EXPECT_EQ(count, 7U);
        EXPECT_EQ(InjectedTransfers::sCalls, 2);
    }
    // A write that stops short without a failure is 'POSX' EINVAL, the count being what was done.
    InjectedTransfers faults(fd, Fault::kWritesNothing);
    size_t none = 9;
    EXPECT_NE(desc.PutData("ab", 2, 0, &none), VE_OK);
    EXPECT_EQ(none, 0U);
}

// A real full disk: a 64 KiB tmpfs takes part of a 256 KiB write. The seam above covers kernels
// that refuse the namespaces.
TEST_F(FileDescs, FullDiskReportsTheBytesWritten)
{
    test::SmallTmpfs disk(64 * 1024);
    if (!disk.IsMounted())
    {
        GTEST_SKIP() << "no user and mount namespaces here; the fault seam covers this path";
    }
    const std::string path = disk.PathOf("full.bin");
    VFileDesc desc(VFilePath(), ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
    std::vector<char> bytes(256 * 1024, 'z');
    size_t written = 0;
    StErrorContextInstaller scope;
    VError code = desc.PutData(bytes.data(), bytes.size(), 0, &written);
    EXPECT_EQ(code, EncodedNativeErrorToVError(MakeVErrorFromErrno(ENOSPC), VE_FILE_CANNOT_WRITE));
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(written, static_cast<size_t>(status.st_size));
    EXPECT_LT(written, bytes.size());
    const auto& errors = scope.GetContext()->GetErrorList();
    ASSERT_EQ(errors.size(), 2U);
    EXPECT_EQ(errors[0]->GetError(), MakeVErrorFromErrno(ENOSPC));
    EXPECT_EQ(errors[1]->GetError(), MakeVError(kCOMPONENT_ZORN, 216));
    EXPECT_EQ(Number(errors[1], "count"), 256 * 1024);
}

} // namespace
