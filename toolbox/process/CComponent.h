// CComponent: the base of the components that VComponentManager registers and creates, and the
// entry points by which a plug-in library offers them.
//
// A component is identified by a four-character type and belongs to a family; it may state the
// components it needs in a requirement block (see GetRequirementBlock). Components come from
// creator functions registered by the program or from plug-in libraries built apart. Everything
// here is inline so that a plug-in can derive from it without linking the toolbox.
//
// Choices made:
// - The reference count is the component's own (atomic, starting at 1); the release that drops it
//   to 0 deletes the component through its virtual destructor, in the code that created it.
// - The requirement block is returned as a vector, so that its length always travels with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace zorn
{

class VLibrary;

class CComponent
{
public:
    CComponent() = default;
    CComponent(const CComponent&) = delete;
    CComponent& operator=(const CComponent&) = delete;

    virtual uint32_t GetComponentType() const = 0;
    virtual uint32_t GetComponentFamily() const { return 0; }

    // The requirement block, 32-bit signed words: word 0 a format number, at least 65536; word 1
    // not in 0..51; word 5 the component's version; word 10 the number n of requirements; from
    // word 11, n pairs (required type, minimum version or -1 for any). Empty: no block.
    virtual std::vector<int32_t> GetRequirementBlock() const { return {}; }

    void Retain() const { fRefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() const
    {
        if (fRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        {
            delete this;
        }
    }

protected:
    virtual ~CComponent() = default;

private:
    mutable std::atomic<int32_t> fRefCount{1};
};

// Creates a component of a type and family; null when it cannot.
using ComponentCreator = CComponent* (*)(uint32_t inType, uint32_t inFamily);

// The entry points a plug-in library exports under these names (extern "C"):
// "Main": called with 'regs' and the library when it is registered, with 'leav' and null when it
// is unregistered.
using ComponentLibraryMain = void (*)(uint32_t inSelector, VLibrary* inLibrary);
// "GetNthComponentType": the n-th type the library offers (n from 1); false past the last.
using ComponentLibraryGetNthType = bool (*)(int32_t inIndex, uint32_t* outType);
// "CreateComponent": as ComponentCreator.
using ComponentLibraryCreate = CComponent* (*)(uint32_t inType, uint32_t inFamily);

} // namespace zorn
