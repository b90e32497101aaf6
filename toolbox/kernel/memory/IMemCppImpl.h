// IMemCppImpl: the interface of an allocator back end of the memory manager, and
// VMemCppImpl_stdlib, the back end of C-library mode.
//
// In own-allocator mode the manager owns four back ends (indexes 0 to 3), made by the factory
// installed with VCppMemMgr::SetBackEndFactory (the own block allocator, VMemCppImpl, unless a
// test installs another), and uses them only under its own lock. Free, GetPtrSize and CheckPtr
// of back end 0 must accept a block of any of the four.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VCppMemMgr;
class VMemStats;

class IMemCppImpl
{
public:
    explicit IMemCppImpl(int inIndex) : fIndex(inIndex) {}
    virtual ~IMemCppImpl() = default;
    IMemCppImpl(const IMemCppImpl&) = delete;
    IMemCppImpl& operator=(const IMemCppImpl&) = delete;

    int GetIndex() const { return fIndex; }

    virtual void Init(VCppMemMgr* inManager) = 0;
    // The manager passes 0 as inFlag and its caller's virtual request as inVirtual.
    virtual void* Malloc(size_t inSize, unsigned char inFlag, unsigned char inVirtual, int inTag) = 0;
    virtual void Free(void* inBlock) = 0;
    virtual void* Realloc(void* inBlock, size_t inSize) = 0;
    virtual size_t GetPtrSize(const void* inBlock) = 0;
    virtual bool CheckPtr(const void* inBlock) = 0;
    virtual bool Check(void* inUnused) = 0;
    // Obtains a region of inSize bytes itself and adds it.
    virtual bool AddAllocation(size_t inSize, const void* inAddress, unsigned char inPhysical) = 0;
    // Adds a region the manager obtained (from VSystem::VirtualAlloc); the back end releases it.
    virtual bool AddAlreadyAllocatedMem(void* inBlock, size_t inSize, bool inPhysical) = 0;
    // The number of regions.
    virtual int32_t CountAllocations() = 0;
    // On, the back end obtains a new region itself when none has room for a request.
    virtual void SetAutoAllocationState(bool inOn) = 0;
    // Adds this back end's figures to ioStats, inIndex being its number.
    virtual void GetStats(VMemStats& ioStats, short inIndex) = 0;
    virtual size_t GetTotalAllocation() const = 0;
    // The bytes of its regions and the bytes in use.
    virtual void GetMemUsageInfo(size_t& outTotal, size_t& outUsed) = 0;
    // The index of the back end that owns the block.
    virtual int32_t GetAllocationBlockNumber(const void* inBlock) = 0;

private:
    int fIndex;
};

// C-library mode: malloc, free, realloc and malloc_usable_size. It keeps no figures of its own.
class VMemCppImpl_stdlib : public IMemCppImpl
{
public:
    VMemCppImpl_stdlib() : IMemCppImpl(0) {}

    void Init(VCppMemMgr*) override {}
    void* Malloc(size_t inSize, unsigned char inFlag, unsigned char inVirtual, int inTag) override;
    void Free(void* inBlock) override;
    void* Realloc(void* inBlock, size_t inSize) override;
    size_t GetPtrSize(const void* inBlock) override;
    // The C library offers no way to tell a live block: any non-null pointer passes.
    bool CheckPtr(const void* inBlock) override { return inBlock != nullptr; }
    bool Check(void*) override { return true; }
    bool AddAllocation(size_t, const void*, unsigned char) override { return false; }
    bool AddAlreadyAllocatedMem(void*, size_t, bool) override { return false; }
    int32_t CountAllocations() override { return 0; }
    void SetAutoAllocationState(bool) override {}
    void GetStats(VMemStats&, short) override {}
    // Fixed figures: the C library does not report its own.
    size_t GetTotalAllocation() const override { return 1048576; }
    void GetMemUsageInfo(size_t& outTotal, size_t& outUsed) override
    {
        outTotal = 1048576;
        outUsed = 0;
    }
    int32_t GetAllocationBlockNumber(const void*) override { return 0; }
};

} // namespace zorn
