#include "toolbox/json/VJSONKey.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace zorn
{

VJSONKey::VJSONKey(std::u16string_view inUnits)
    : fBlock(nullptr), fHash(HashOf(inUnits)), fLength(static_cast<uint32_t>(inUnits.size()))
{
    if (inUnits.empty())
    {
        return;
    }
    size_t bytes = offsetof(Block, fUnits) + inUnits.size() * sizeof(char16_t);
    void* memory = ::operator new(bytes < sizeof(Block) ? sizeof(Block) : bytes);
    fBlock = new (memory) Block{{1}, {}};
    std::memcpy(fBlock->fUnits, inUnits.data(), inUnits.size() * sizeof(char16_t));
}

void VJSONKey::_Release() noexcept
{
    if (fBlock != nullptr && fBlock->fReferences.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        fBlock->~Block();
        ::operator delete(fBlock);
    }
    fBlock = nullptr;
}

} // namespace zorn
