#include "toolbox/kernel/hooks/VKernelHooks.h"

namespace zorn::detail
{

VKernelHooks& KernelHooks()
{
    static VKernelHooks sHooks;
    return sHooks;
}

} // namespace zorn::detail
