// Blobs: the typed value of kind 11, a run of bytes with no interpretation. VBlob is the abstract
// blob; VBlobWithPtr owns a growable block (VMemoryBuffer, tag 'memb'); VConstBlobWithPtr views
// bytes that somebody else owns and keeps alive. The descriptor of kind 11 (VBlob_info) makes
// VBlobWithPtr objects.
//
// Forms:
// - packed (pointer) form: a 32-bit length in this machine's byte order, then the bytes;
// - stream form: a 32-bit length in the stream's byte order, then the bytes.
//
// Choices made where several were possible:
// - Every failure is returned, never raised: 'zorn' 100 when a block cannot be had, 'zorn' 200
//   when GetData delivers fewer bytes than asked (those that exist are still copied), 'zorn' 204
//   when a VConstBlobWithPtr is asked to change. The exception is the stream reader, which raises
//   'zorn' 200 when the announced length is longer than what is left in the stream: a length
//   read from outside input never makes the blob allocate more than the stream holds.
// - PutData past the end fills the gap with zero bytes; SetSize leaves new bytes uninitialised
//   (the caller writes them next).
// - Loading a packed blob of length 0 empties the blob.
// - Equality compares the bytes of any two blobs that are not null; a null blob is unequal to
//   everything. Blobs are never ordered: CompareTo answers -1000.
// - Sizes are size_t; the packed and stream forms hold at most 4294967295 bytes, and a longer
//   blob is written cut to that length.
// - The JSON forms go through the JSON layer's blob objects (VKernelHooks); until that layer
//   installs them, GetJSONValue leaves the JSON value alone and FromJSONValue makes the blob null.
//   The JSON text (GetJSONString, the form a value bag writes) is the quoted
//   "__PRIVATE_BINARY_OBJECT" object that carries the blob object, whatever the options: JSON
//   text has no blob of its own, and the JSON readers turn that object back into a blob.
#pragma once

#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <cstdint>

namespace zorn
{

class VBlobWithPtr;
class VBlob_info;

class VBlob : public VValueSingle
{
public:
    VBlob() = default;

    static const VBlob_info& Info();
    const VValueInfo* GetValueInfo() const override;

    // The bytes (null when there are none) and their count.
    virtual size_t GetSize() const = 0;
    virtual const void* GetDataPtr() const = 0;
    // Makes the blob exactly inSize bytes long; 0, or 'zorn' 100 with nothing changed.
    virtual VError SetSize(size_t inSize) = 0;
    // Copies up to inLength bytes from inOffset; outGot receives the count copied.
    virtual VError GetData(void* outBuffer, size_t inLength, size_t inOffset = 0,
                           size_t* outGot = nullptr) const = 0;
    // Writes the bytes at inOffset, growing the blob as needed; clears the null flag.
    virtual VError PutData(const void* inData, size_t inLength, size_t inOffset = 0) = 0;
    // Replaces the content by exactly these bytes: SetSize, then PutData.
    virtual VError FromData(const void* inData, size_t inSize);

    // FromData (null, 0): an empty blob that is not null.
    void Clear() override { FromData(nullptr, 0); }
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    size_t GetFullSpaceOnDisk() const override { return GetSize(); }
    bool CanBeEvaluated() const override { return false; }
    // The packed form is the concrete classes' business: here nothing is read or written.
    const void* LoadFromPtr(const void* /*inData*/, bool /*inRefOnly*/ = false) override { return nullptr; }
    void* WriteToPtr(void* /*ioData*/, bool /*inRefOnly*/ = false, size_t /*inMax*/ = 0) const override
    {
        return nullptr;
    }

    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    VError GetJSONValue(VJSONValue& outJSONValue) const override;
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;

    // The bytes the packed and stream forms carry (GetSize cut to 32 bits).
    uint32_t GetPackedLength() const;

protected:
    // Setting the null flag empties the blob.
    void DoNullChanged() override;
    // The packed form of the bytes (the writers of both classes).
    void* _WritePacked(void* ioData) const;
    VError _WriteStream(VStream* ioStream) const;
};

class VBlobWithPtr : public VBlob
{
public:
    VBlobWithPtr() : VBlobWithPtr(nullptr, 0) {}
    // A blob holding a copy of the bytes (empty when they cannot be allocated).
    VBlobWithPtr(const void* inData, size_t inSize);
    VBlobWithPtr(const VBlobWithPtr& inOther);
    explicit VBlobWithPtr(const VBlob& inOther);
    VBlobWithPtr& operator=(const VBlobWithPtr&) = delete;
    ~VBlobWithPtr() override = default;

    VValue* Clone() const override { return new VBlobWithPtr(*this); }

    size_t GetSize() const override { return fBuffer.GetDataSize(); }
    const void* GetDataPtr() const override { return fBuffer.GetDataPtr(); }
    VError SetSize(size_t inSize) override;
    VError GetData(void* outBuffer, size_t inLength, size_t inOffset = 0,
                   size_t* outGot = nullptr) const override;
    VError PutData(const void* inData, size_t inLength, size_t inOffset = 0) override;
    VError FromData(const void* inData, size_t inSize) override;

    bool FromValueSameKind(const VValue* inValue) override;
    void GetValue(VValueSingle& outValue) const override;
    void FromValue(const VValueSingle& inValue) override;

    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t inMax = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;

private:
    VMemoryBuffer<> fBuffer;
};

class VConstBlobWithPtr : public VBlob
{
public:
    // A view of the caller's bytes, which must outlive it and its copies.
    VConstBlobWithPtr(const void* inData, size_t inSize);
    VConstBlobWithPtr(const VConstBlobWithPtr& inOther);
    VConstBlobWithPtr& operator=(const VConstBlobWithPtr&) = delete;

    VValue* Clone() const override { return new VConstBlobWithPtr(*this); }

    size_t GetSize() const override { return fSize; }
    const void* GetDataPtr() const override { return fData; }
    // Every change is refused with 'zorn' 204.
    VError SetSize(size_t inSize) override;
    VError GetData(void* outBuffer, size_t inLength, size_t inOffset = 0,
                   size_t* outGot = nullptr) const override;
    VError PutData(const void* inData, size_t inLength, size_t inOffset = 0) override;
    VError FromData(const void* inData, size_t inSize) override;

    bool FromValueSameKind(const VValue* inValue) override;
    void GetValue(VValueSingle& outValue) const override;

    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t inMax = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;

private:
    const void* fData;
    size_t fSize;
};

// The descriptor of kind 11: new values are empty VBlobWithPtr objects.
class VBlob_info : public VValueInfo_default<VBlobWithPtr, VK_BLOB>
{
public:
    size_t GetSizeOfValueDataPtr(const void* inPtr) const override;
    // Swaps the length word in place; the bytes need no swapping.
    void* ByteSwapPtr(void* inData, bool inFromHost) const override;
};

} // namespace zorn
