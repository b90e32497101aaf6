// VCppMemMgr: the process-wide memory manager (VObject::sCppMemMgr). It serves the toolbox's
// explicit block allocations: tagged buffers of strings, blobs, Base64 and memory buffers. It is
// built before main by a static initialiser and deleted at exit.
//
// This first cut runs in C-library mode only (every call goes to malloc, free, realloc and
// malloc_usable_size); the own-allocator mode, purge handling, memory hogs and statistics join
// it with the allocator back ends.
#pragma once

#include "toolbox/kernel/ZornTypes.h"

#include <cstddef>

namespace zorn
{

class VCppMemMgr
{
public:
    enum EAllocatorKind
    {
        // Decided by the main bundle's Info.plist "MemoryAllocator"; C-library mode without it.
        eAllocatorDefault = 0,
        eAllocatorStdLib = 1,
        eAllocatorOwn = 2
    };

    explicit VCppMemMgr(EAllocatorKind inKind);
    virtual ~VCppMemMgr();
    VCppMemMgr(const VCppMemMgr&) = delete;
    VCppMemMgr& operator=(const VCppMemMgr&) = delete;

    // A block of at least inSize bytes tagged inTag, or null.
    void* Malloc(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd = -1);
    void Free(void* inBlock);
    // Null inBlock allocates; size 0 frees and returns null; on failure the old block stays valid.
    void* Realloc(void* inBlock, size_t inSize);
    size_t GetPtrSize(const void* inBlock) const;
    // Whether inBlock looks like a live block of this manager.
    bool CheckPtr(const void* inBlock) const;

    bool IsStdLibMode() const { return fStdLib; }

private:
    bool fStdLib = true;
};

// Block allocation over the process memory manager; all answer null when it does not exist.
class VMemory
{
public:
    static void* NewPtr(size_t inSize, OsType inTag);
    static void* NewPtrClear(size_t inSize, OsType inTag);
    static void DisposePtr(void* inBlock);
    static void* SetPtrSize(void* inBlock, size_t inSize);
    static size_t GetPtrSize(const void* inBlock);
};

} // namespace zorn
