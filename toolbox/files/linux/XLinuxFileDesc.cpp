// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
#include "toolbox/files/linux/XLinuxFileDesc.h"

#include "toolbox/files/linux/XLinuxCopyEngine.h"

#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zorn
{

namespace
{

constexpr size_t kMaxPiece = 500 * 1048576;

} // namespace

XLinuxFileDesc::~XLinuxFileDesc()
{
    // The descriptor closes with its owner.
}

VError XLinuxFileDesc::_Transfer(bool inWriting, void* ioBuffer, size_t& ioCount, int64_t inPosition,
                                 bool inFromStart)
{
    const int64_t start = inFromStart ? inPosition : fPosition + inPosition;
    const size_t wanted = ioCount;
    auto* bytes = static_cast<char*>(ioBuffer);
    size_t done = 0;
    int failure = 0;
    const XLinuxCopyCalls calls = XLinuxCopyEngine::GetCalls();
    for (;;)
    {
        done = 0;
        failure = 0;
        while (done < wanted)
        {
            const size_t piece = std::min(wanted - done, kMaxPiece);
            const auto offset = static_cast<off_t>(start + static_cast<int64_t>(done));
            const ssize_t moved = inWriting ? calls.fPwrite(fFd.Get(), bytes + done, piece, offset)
                                            : calls.fPread(fFd.Get(), bytes + done, piece, offset);
            if (moved < 0)
            {
                failure = errno;
                break;
            }
            if (moved == 0)
            {
                break;
            }
            done += static_cast<size_t>(moved);
            if (done < wanted)
            {
                VTaskMgr::YieldNow();
            }
        }
        if (failure != EINTR)
        {
            break;
        }
        VTaskMgr::YieldNow();
    }
    ioCount = done;
    if (!inFromStart)
    {
        fPosition += static_cast<int64_t>(done);
    }
    if (failure != 0)
    {
        return MakeVErrorFromErrno(failure);
    }
    if (done < wanted)
    {
        return inWriting ? MakeVErrorFromErrno(EINVAL) : VE_STREAM_EOF;
    }
    return VE_OK;
}

VError XLinuxFileDesc::GetData(void* outBuffer, size_t& ioCount, int64_t inPosition, bool inFromStart)
{
    return _Transfer(false, outBuffer, ioCount, inPosition, inFromStart);
}

VError XLinuxFileDesc::PutData(const void* inBuffer, size_t& ioCount, int64_t inPosition, bool inFromStart)
{
    // The buffer is only read when writing.
    return _Transfer(true, const_cast<void*>(inBuffer), ioCount, inPosition, inFromStart);
}

VError XLinuxFileDesc::GetSize(int64_t& outSize) const
{
    struct stat status = {};
    if (::fstat(fFd.Get(), &status) != 0)
    {
        outSize = 0;
        return MakeVErrorFromErrno(errno);
    }
    outSize = status.st_size;
    return VE_OK;
}

VError XLinuxFileDesc::SetSize(int64_t inSize) const
{
    return ::ftruncate(fFd.Get(), static_cast<off_t>(inSize)) == 0 ? VE_OK : MakeVErrorFromErrno(errno);
}

VError XLinuxFileDesc::Flush() const
{
    return ::fsync(fFd.Get()) == 0 ? VE_OK : MakeVErrorFromErrno(errno);
}

} // namespace zorn
