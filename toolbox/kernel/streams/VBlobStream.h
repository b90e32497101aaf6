// VBlobStream: a stream over a blob value, read and written in place. Built with a blob it works
// on the caller's blob (not owned); built with null it makes and owns a new empty VBlobWithPtr.
//
// Choices made where several were possible:
// - Blob offsets are 32-bit signed: a position beyond INT32_MAX is refused with 'zorn' 3 and a
//   transfer whose end would pass INT32_MAX with 'zorn' 100, never wrapped to another offset.
// - Moving the position beyond the size grows the blob to it (zero bytes).
// - Blob failures are raised by the stream's hooks (blobs only return them).
#pragma once

#include "toolbox/kernel/streams/VStream.h"

namespace zorn
{

class VBlob;

class VBlobStream : public VStream
{
public:
    explicit VBlobStream(VBlob* inBlob = nullptr);
    ~VBlobStream() override;

    VBlob* GetBlob() const { return fBlob; }

protected:
    VError DoPutData(const void* inData, size_t inCount) override;
    VError DoGetData(void* outData, size_t* ioCount) override;
    int64_t DoGetSize() override;
    VError DoSetSize(int64_t inSize) override;
    VError DoSetPos(int64_t inPosition) override;

private:
    // 'zorn' 100 raised when bytes up to inEnd cannot be addressed in the blob.
    static VError _CheckEnd(int64_t inEnd);

    VBlob* fBlob;
    bool fOwnsBlob;
};

} // namespace zorn
