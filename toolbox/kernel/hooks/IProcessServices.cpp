#include "toolbox/kernel/hooks/IProcessServices.h"

#include <atomic>

namespace zorn
{

namespace
{
std::atomic<IProcessServices*>& Current()
{
    static std::atomic<IProcessServices*> sCurrent{nullptr};
    return sCurrent;
}
} // namespace

IProcessServices* IProcessServices::Get()
{
    return Current().load(std::memory_order_acquire);
}

IProcessServices* IProcessServices::Set(IProcessServices* inProcess)
{
    return Current().exchange(inProcess, std::memory_order_acq_rel);
}

} // namespace zorn
