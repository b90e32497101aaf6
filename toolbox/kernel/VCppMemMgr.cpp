#include "toolbox/kernel/VCppMemMgr.h"

#include "toolbox/kernel/VObject.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace zorn
{

VCppMemMgr* VObject::sCppMemMgr = nullptr;

namespace
{
constexpr OsType kTagGrow = MakeOsType('g', 'r', 'o', 'w');

// Builds the manager before any ordinary static object and deletes it after the last one is
// destroyed, so that statics of the toolbox can allocate while they are built.
struct MemMgrLifetime
{
    MemMgrLifetime()
    {
        if (VObject::sCppMemMgr == nullptr)
        {
            VObject::sCppMemMgr = new VCppMemMgr(VCppMemMgr::eAllocatorDefault);
        }
    }
    ~MemMgrLifetime()
    {
        delete VObject::sCppMemMgr;
        VObject::sCppMemMgr = nullptr;
    }
};
__attribute__((init_priority(101))) MemMgrLifetime sMemMgrLifetime;
} // namespace

VCppMemMgr::VCppMemMgr(EAllocatorKind /*inKind*/)
{
    // Only C-library mode exists so far; a bundle without "MemoryAllocator" selects it too.
    fStdLib = true;
}

VCppMemMgr::~VCppMemMgr() = default;

void* VCppMemMgr::Malloc(size_t inSize, bool /*inVirtual*/, OsType /*inTag*/, int /*inPreferredBackEnd*/)
{
    return std::malloc(inSize);
}

void VCppMemMgr::Free(void* inBlock)
{
    std::free(inBlock);
}

void* VCppMemMgr::Realloc(void* inBlock, size_t inSize)
{
    if (inBlock == nullptr)
    {
        return Malloc(inSize, false, 0);
    }
    if (inSize == 0)
    {
        Free(inBlock);
        return nullptr;
    }
    void* block = Malloc(inSize, false, kTagGrow);
    if (block == nullptr)
    {
        return nullptr;
    }
    size_t oldSize = GetPtrSize(inBlock);
    std::memcpy(block, inBlock, oldSize < inSize ? oldSize : inSize);
    Free(inBlock);
    return block;
}

size_t VCppMemMgr::GetPtrSize(const void* inBlock) const
{
    return inBlock == nullptr ? 0 : malloc_usable_size(const_cast<void*>(inBlock));
}

bool VCppMemMgr::CheckPtr(const void* inBlock) const
{
    return inBlock != nullptr;
}

void* VMemory::NewPtr(size_t inSize, OsType inTag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? nullptr : manager->Malloc(inSize, false, inTag);
}

void* VMemory::NewPtrClear(size_t inSize, OsType inTag)
{
    void* block = NewPtr(inSize, inTag);
    if (block != nullptr)
    {
        std::memset(block, 0, inSize);
    }
    return block;
}

void VMemory::DisposePtr(void* inBlock)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (inBlock != nullptr && manager != nullptr)
    {
        manager->Free(inBlock);
    }
}

void* VMemory::SetPtrSize(void* inBlock, size_t inSize)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? nullptr : manager->Realloc(inBlock, inSize);
}

size_t VMemory::GetPtrSize(const void* inBlock)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? 0 : manager->GetPtrSize(inBlock);
}

} // namespace zorn
