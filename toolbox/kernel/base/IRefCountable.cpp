#include "toolbox/kernel/base/IRefCountable.h"

namespace zorn
{

uint32_t IRefCountable::Retain(const char* /*inDebugInfo*/) const
{
    return fRefCount.fetch_add(1, std::memory_order_seq_cst) + 1;
}

uint32_t IRefCountable::Release(const char* /*inDebugInfo*/) const
{
    uint32_t previous = fRefCount.fetch_sub(1, std::memory_order_seq_cst);
    if (previous == 1)
    {
        // The count is the only state shared here; only the caller that saw 1 -> 0 gets here.
        const_cast<IRefCountable*>(this)->DoOnRefCountZero();
    }
    return previous - 1;
}

void IRefCountable::DoOnRefCountZero()
{
    delete this;
}

} // namespace zorn
