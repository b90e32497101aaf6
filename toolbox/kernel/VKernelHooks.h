// Entry points through which the kernel reaches types that libraries above it define (JSON
// values, streams). The value model names these types in its virtual operations, but the kernel
// may not depend on the libraries that implement them: each library installs its functions here
// when its first object is built. Until then the operations do nothing and report no error.
#pragma once

#include "toolbox/kernel/VError.h"

#include <atomic>

namespace zorn
{

class VJSONValue;
class VStream;

namespace detail
{

struct VKernelHooks
{
    // Atomic: a library may install its hooks on one task while another task reads them.
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONUndefined{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONNull{nullptr};
    std::atomic<VError (*)(const VStream* inStream)> fStreamLastError{nullptr};
};

// The process-wide hook table, built on first use.
VKernelHooks& KernelHooks();

inline void SetJSONUndefined(VJSONValue& ioValue)
{
    if (auto hook = KernelHooks().fSetJSONUndefined.load())
    {
        hook(ioValue);
    }
}
inline void SetJSONNull(VJSONValue& ioValue)
{
    if (auto hook = KernelHooks().fSetJSONNull.load())
    {
        hook(ioValue);
    }
}
inline VError StreamLastError(const VStream* inStream)
{
    auto hook = KernelHooks().fStreamLastError.load();
    return hook != nullptr && inStream != nullptr ? hook(inStream) : VE_OK;
}

} // namespace detail
} // namespace zorn
