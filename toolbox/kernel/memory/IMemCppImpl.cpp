#include "toolbox/kernel/memory/IMemCppImpl.h"

#include "toolbox/kernel/linux/XLinuxSystem.h"

#include <cstdlib>

namespace zorn
{

void* VMemCppImpl_stdlib::Malloc(size_t inSize, unsigned char /*inFlag*/, unsigned char /*inVirtual*/,
                                 int /*inTag*/)
{
    return std::malloc(inSize);
}

void VMemCppImpl_stdlib::Free(void* inBlock)
{
    std::free(inBlock);
}

void* VMemCppImpl_stdlib::Realloc(void* inBlock, size_t inSize)
{
    return std::realloc(inBlock, inSize);
}

size_t VMemCppImpl_stdlib::GetPtrSize(const void* inBlock)
{
    return inBlock == nullptr ? 0 : XLinuxSystem::GetMallocBlockSize(inBlock);
}

} // namespace zorn
