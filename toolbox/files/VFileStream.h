// VFileStream: the stream over a file. Opening the stream opens a descriptor on the file; one
// memory block between the stream and the descriptor serves as a read-ahead cache while reading
// and as a write-back cache while writing.
//
// It writes in place: bytes reach the file as the buffer fills, flushes or the stream closes, so a
// crash or a full disk leaves the file partly rewritten. It is not VFile::SetContent's crash-safe
// write (a staged copy renamed over the file); callers that need that use SetContent.
//
// Choices made where several were possible:
// - The buffer is 32768 bytes unless SetBufferSize asks otherwise; reading a smaller file takes a
//   buffer of the file's size. When memory is short the size is halved down to 1 byte; without
//   any buffer, every transfer goes straight to the descriptor (no error).
// - Reads that fit the buffer refill it from the position; larger reads and writes that do not
//   fit go straight to the file.
// - Opening for writing keeps the file's bytes (open options decide on creation and the like);
//   CloseWriting(true) cuts the file to the end of what this writing session wrote, moved to or
//   resized, so rewriting a longer file from the start leaves no old tail; CloseWriting(false)
//   keeps the tail. A stream that failed is not cut (the old bytes beyond what was written stay).
// - A position past the end extends the file while writing and gives the end of data ('zorn'
//   200) while reading. Descriptor failures come back as the descriptor reported them.
// - Each time buffered or direct bytes reach the descriptor, the stream's written-to-storage flag
//   is set.
#pragma once

#include "toolbox/kernel/streams/VStream.h"

namespace zorn
{

class VFile;
class VFileDesc;

// The stream has no file to open.
constexpr VError VE_STREAM_CANNOT_FIND_SOURCE = MakeVError(kCOMPONENT_ZORN, 205);

class VFileStream : public VStream
{
public:
    static constexpr size_t kDefaultBufferSize = 32768;

    // Retains inFile (which may be null: opening then fails with 'zorn' 205). inOpenOptions are
    // VFile::Open's option bits, used when opening for writing.
    VFileStream(const VFile* inFile, uint32_t inOpenOptions = 0);
    ~VFileStream() override;

    // Flushes when writing, then replaces the buffer by one of inSize bytes (reading: no larger
    // than the file) when the stream is open; otherwise the size is used at the next opening.
    VError SetBufferSize(size_t inSize);
    // Frees the buffer (reading goes straight to the file until the next opening).
    void ReleaseBuffer();
    size_t GetBufferSize() const { return fBufferSize; }

    const VFile* GetFile() const { return fFile; }
    // The open descriptor (owned by the stream), null while closed.
    VFileDesc* GetFileDesc() const { return fDesc; }

protected:
    VError DoOpenReading() override;
    VError DoOpenWriting() override;
    VError DoCloseReading() override;
    VError DoCloseWriting(bool inSetSize) override;
    VError DoPutData(const void* inData, size_t inCount) override;
    VError DoGetData(void* outData, size_t* ioCount) override;
    int64_t DoGetSize() override { return fFileSize; }
    VError DoSetSize(int64_t inSize) override;
    VError DoSetPos(int64_t inPosition) override;
    VError DoFlush() override;
    // The buffered bytes at the position, refilling the buffer there first when needed.
    VError DoPeekData(const void** outData, size_t* outCount) override;

private:
    // Allocates a buffer of inSize bytes, halving on failure; none when even 1 byte fails.
    void _AllocateBuffer(size_t inSize);
    // The buffer size for the stream's direction and the wanted size.
    size_t _BufferSizeToAllocate() const;
    // Writes the buffered bytes at their offset; the count becomes 0 when they were written.
    VError _WriteBack();
    void _CloseDesc();
    // Fills the buffer from inPosition with what the file holds there (up to the buffer's size).
    VError _Refill(int64_t inPosition);

    const VFile* fFile = nullptr; // retained
    VFileDesc* fDesc = nullptr;   // owned, null while closed
    int64_t fFileSize = 0;
    int64_t fBufferOffset = 0;
    size_t fBufferCount = 0;
    size_t fBufferSize = 0;
    size_t fWantedBufferSize = kDefaultBufferSize;
    char* fBuffer = nullptr;
    uint32_t fOpenOptions = 0;
    // The end of what this writing session wrote, moved to or resized to (CloseWriting(true)).
    int64_t fWrittenEnd = 0;
};

} // namespace zorn
