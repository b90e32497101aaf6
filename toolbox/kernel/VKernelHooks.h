// Entry points through which the kernel reaches types that libraries above it define (JSON
// values, streams). The value model names these types in its virtual operations, but the kernel
// may not depend on the libraries that implement them: each library installs its functions here
// when its first object is built. Until then the operations do nothing and report no error.
#pragma once

#include "toolbox/kernel/VError.h"

#include <atomic>

namespace zorn
{

class IRefCountable;
class VJSONValue;
class VJSONObject;
class VStream;
class VString;

namespace detail
{

// Access to JSON objects for code below the JSON layer (error parameters). Every entry is set.
struct VJSONObjectAccess
{
    VJSONObject* (*fCreate)();                               // a new empty object, one reference
    VJSONObject* (*fCloneDeep)(const VJSONObject* inObject); // one reference; null if not an object
    void (*fRetain)(const VJSONObject* inObject);
    void (*fRelease)(const VJSONObject* inObject);
    void (*fSetString)(VJSONObject* ioObject, const VString& inName, const VString& inValue);
    void (*fSetNumber)(VJSONObject* ioObject, const VString& inName, double inValue);
    // True, with the value, when the property exists with that type.
    bool (*fGetString)(const VJSONObject* inObject, const VString& inName, VString& outValue);
    bool (*fGetNumber)(const VJSONObject* inObject, const VString& inName, double& outValue);
    // True, with its text, when the property exists and is neither undefined nor null.
    bool (*fGetText)(const VJSONObject* inObject, const VString& inName, VString& outText);
    // Copies the property when the source has it; whether it did.
    bool (*fCopyProperty)(const VJSONObject* inFrom, VJSONObject* ioTo, const VString& inName);
};

struct VKernelHooks
{
    std::atomic<const VJSONObjectAccess*> fJSONObjectAccess{nullptr};
    // Atomic: a library may install its hooks on one task while another task reads them.
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONUndefined{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONNull{nullptr};
    std::atomic<VError (*)(const VStream* inStream)> fStreamLastError{nullptr};
    // A new activity token (one reference) that registers itself with the process while it
    // exists; each running task holds one named "Running task " and the task's name. Filled by
    // the process layer; until then tasks hold none.
    std::atomic<IRefCountable* (*)(const VString& inName)> fCreateActivityToken{nullptr};
};

// The process-wide hook table, built on first use.
VKernelHooks& KernelHooks();

// The JSON object access, or null while the JSON layer has not started.
inline const VJSONObjectAccess* JSONObjects()
{
    return KernelHooks().fJSONObjectAccess.load(std::memory_order_acquire);
}

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
