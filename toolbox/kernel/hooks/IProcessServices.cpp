#include "toolbox/kernel/hooks/IProcessServices.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

VString IProcessServices::GetLogSourceIdentifier() const
{
    return VString();
}

IProcessServices* IProcessServices::Get()
{
    return detail::KernelHooks().fProcess.load(std::memory_order_acquire);
}

IProcessServices* IProcessServices::Set(IProcessServices* inProcess)
{
    return detail::KernelHooks().fProcess.exchange(inProcess, std::memory_order_acq_rel);
}

} // namespace zorn
