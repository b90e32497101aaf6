// IRefCountable: second base of objects shared between owners. It carries an atomic reference
// count that starts at 1 (the creator's reference); the Release that drops it to 0 calls
// DoOnRefCountZero exactly once, on the releasing thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace zorn
{

class IRefCountable
{
public:
    IRefCountable() = default;
    // A copy is a new object: it starts with its own count of 1.
    IRefCountable(const IRefCountable&) : fRefCount(1) {}
    IRefCountable& operator=(const IRefCountable&) { return *this; }
    virtual ~IRefCountable() = default;

    // The text argument is for debugging aids and is ignored. Both return the new count.
    virtual uint32_t Retain(const char* inDebugInfo = nullptr) const;
    virtual uint32_t Release(const char* inDebugInfo = nullptr) const;

    // For objects that hold references in a cycle: drops them. The default does nothing.
    virtual void ReleaseDependencies() {}

    uint32_t GetRefCount() const { return fRefCount.load(std::memory_order_acquire); }

protected:
    // Called once when the count reaches 0. The default deletes the object; a pool may override
    // it to take the object back instead.
    virtual void DoOnRefCountZero();

private:
    mutable std::atomic<uint32_t> fRefCount{1};
};

// Retains when not null; for code that hands out an extra reference.
template <class T>
T* RetainRefCountable(T* inObject)
{
    if (inObject != nullptr)
    {
        inObject->Retain();
    }
    return inObject;
}

// Releases when not null and nulls the caller's pointer.
template <class T>
void ReleaseRefCountable(T** ioObject)
{
    if (*ioObject != nullptr)
    {
        (*ioObject)->Release();
        *ioObject = nullptr;
    }
}

} // namespace zorn
