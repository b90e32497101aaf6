// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFileDesc: the Linux part of an open file (VFileDesc, which holds it in place): the descriptor, which
// it closes, and a position of its own. Every transfer is positional (pread, pwrite), so the descriptor's
// offset is never used and two descriptors on one file keep their own positions.
//
// Choices and limits:
// - A transfer goes in pieces of at most 524,288,000 bytes, yielding between pieces; it stops
//   at a call that transfers nothing or fails. A failure with EINTR restarts the whole transfer
//   from its first byte (positional, so a restarted write rewrites the same bytes) and, when it
//   then completes, is a success for reads and writes alike.
// - Reading fewer bytes than asked gives 'zorn' 200, writing fewer 'POSX' EINVAL; other
//   failures 'POSX' errno. The count out is always the bytes really transferred.
// - The transfers go through the file back ends' one table of system calls
//   (XLinuxCopyEngine::SetCalls), where tests inject faults; a transfer takes the table once.
#pragma once

#include "toolbox/files/linux/XLinuxFd.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class XLinuxFileDesc
{
public:
    explicit XLinuxFileDesc(int inFd) : fFd(inFd) {}
    virtual ~XLinuxFileDesc();
    XLinuxFileDesc(const XLinuxFileDesc&) = delete;
    XLinuxFileDesc& operator=(const XLinuxFileDesc&) = delete;

    int GetFd() const { return fFd.Get(); }
    int64_t GetPos() const { return fPosition; }
    void SetPos(int64_t inPosition) { fPosition = inPosition; }

    // At inPosition when inFromStart, else at the current position + inPosition (which then
    // advances by the bytes transferred). ioCount: the bytes wanted, then those transferred.
    VError GetData(void* outBuffer, size_t& ioCount, int64_t inPosition, bool inFromStart);
    VError PutData(const void* inBuffer, size_t& ioCount, int64_t inPosition, bool inFromStart);

    VError GetSize(int64_t& outSize) const;
    VError SetSize(int64_t inSize) const;
    VError Flush() const;

private:
    VError _Transfer(bool inWriting, void* ioBuffer, size_t& ioCount, int64_t inPosition, bool inFromStart);

    XLinuxFd fFd;
    int64_t fPosition = 0;
};

} // namespace zorn
