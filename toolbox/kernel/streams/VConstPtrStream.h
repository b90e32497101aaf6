// VConstPtrStream: a read-only stream over a caller's constant block of bytes. The caller keeps
// the block, which must outlive the stream; every write or resize fails with 'zorn' 204, and a
// position beyond the end fails with 'zorn' 200.
#pragma once

#include "toolbox/kernel/streams/VStream.h"

namespace zorn
{

class VConstPtrStream : public VStream
{
public:
    VConstPtrStream(const void* inData, size_t inSize) : fData(inData), fSize(inSize) {}
    ~VConstPtrStream() override = default;

    const void* GetDataPtr() const { return fData; }
    size_t GetDataSize() const { return fSize; }
    VStreamUnderlyingData GetUnderlyingData() const override { return {true, fData, fSize}; }

protected:
    VError DoOpenWriting() override { return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING); }
    VError DoPutData(const void* inData, size_t inCount) override;
    VError DoGetData(void* outData, size_t* ioCount) override;
    int64_t DoGetSize() override { return static_cast<int64_t>(fSize); }
    VError DoSetSize(int64_t inSize) override;
    VError DoSetPos(int64_t inPosition) override;

private:
    const void* fData;
    size_t fSize;
};

} // namespace zorn
