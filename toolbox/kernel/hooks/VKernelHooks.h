// Entry points through which the kernel reaches types that libraries above it define (JSON
// values and objects). The value model names these types in its virtual operations, but the kernel may not
// depend on the library that implements them: that library installs its functions here when its
// first object is built. Until then the operations do nothing and report no error.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <atomic>

namespace zorn
{

class IRefCountable;
class VJSONValue;
class VJSONObject;
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

// A JSON value as the scalar kinds read it.
struct JSONScalar
{
    bool fIsNull = false;
    double fNumber = 0; // VJSONValue::GetNumber
    bool fBool = false; // VJSONValue::GetBool
};

struct VKernelHooks
{
    std::atomic<const VJSONObjectAccess*> fJSONObjectAccess{nullptr};
    // Atomic: a library may install its hooks on one task while another task reads them.
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONUndefined{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONNull{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue, double inNumber)> fSetJSONNumber{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue, bool inBool)> fSetJSONBool{nullptr};
    std::atomic<void (*)(const VJSONValue& inValue, JSONScalar& outScalar)> fGetJSONScalar{nullptr};
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
inline void SetJSONNumber(VJSONValue& ioValue, double inNumber)
{
    if (auto hook = KernelHooks().fSetJSONNumber.load())
    {
        hook(ioValue, inNumber);
    }
}
inline void SetJSONBool(VJSONValue& ioValue, bool inBool)
{
    if (auto hook = KernelHooks().fSetJSONBool.load())
    {
        hook(ioValue, inBool);
    }
}
// False, with outScalar untouched, while no JSON library is installed.
inline bool GetJSONScalar(const VJSONValue& inValue, JSONScalar& outScalar)
{
    if (auto hook = KernelHooks().fGetJSONScalar.load())
    {
        hook(inValue, outScalar);
        return true;
    }
    return false;
}

} // namespace detail
} // namespace zorn
