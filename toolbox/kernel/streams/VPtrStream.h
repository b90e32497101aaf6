// VPtrStream: a stream over a growable block of memory that it owns. Writing grows the block by
// the amortized rule of VMemoryBuffer; moving the position past the end extends the stream with
// zero bytes; reading past the end delivers what there is and reports the end of data.
#pragma once

#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/streams/VStream.h"

namespace zorn
{

class VPtrStream : public VStream
{
public:
    VPtrStream() = default;
    ~VPtrStream() override = default;

    // The stream's bytes (null while it holds none) and their count.
    const void* GetDataPtr() const { return fBuffer.GetDataPtr(); }
    size_t GetDataSize() const { return fBuffer.GetDataSize(); }
    // Bytes allocated for the stream.
    size_t GetAllocatedSize() const { return fBuffer.GetAllocatedSize(); }
    VStreamUnderlyingData GetUnderlyingData() const override
    {
        return {true, fBuffer.GetDataPtr(), fBuffer.GetDataSize()};
    }

protected:
    VError DoPutData(const void* inData, size_t inCount) override;
    VError DoGetData(void* outData, size_t* ioCount) override;
    int64_t DoGetSize() override { return static_cast<int64_t>(fBuffer.GetDataSize()); }
    VError DoSetSize(int64_t inSize) override;
    VError DoSetPos(int64_t inPosition) override;

private:
    VMemoryBuffer<> fBuffer;
};

} // namespace zorn
