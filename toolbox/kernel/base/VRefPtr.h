// VRefPtr: a smart pointer holding one reference to an IRefCountable object.
#pragma once

#include <utility>

namespace zorn
{

template <class T>
class VRefPtr
{
public:
    VRefPtr() = default;
    VRefPtr(std::nullptr_t) {}
    // Takes a new reference on inObject.
    explicit VRefPtr(T* inObject) : fObject(inObject)
    {
        if (fObject != nullptr)
        {
            fObject->Retain();
        }
    }
    // Adopts the caller's reference (for objects just created or returned by a Retain... call).
    VRefPtr(T* inObject, bool inAdopt) : fObject(inObject)
    {
        if (!inAdopt && fObject != nullptr)
        {
            fObject->Retain();
        }
    }
    VRefPtr(const VRefPtr& inOther) : VRefPtr(inOther.fObject) {}
    VRefPtr(VRefPtr&& inOther) noexcept : fObject(std::exchange(inOther.fObject, nullptr)) {}
    template <class U>
    VRefPtr(const VRefPtr<U>& inOther) : VRefPtr(inOther.Get())
    {
    }
    ~VRefPtr() { Clear(); }

    VRefPtr& operator=(const VRefPtr& inOther)
    {
        Set(inOther.fObject);
        return *this;
    }
    VRefPtr& operator=(VRefPtr&& inOther) noexcept
    {
        if (this != &inOther)
        {
            Clear();
            fObject = std::exchange(inOther.fObject, nullptr);
        }
        return *this;
    }
    VRefPtr& operator=(std::nullptr_t)
    {
        Clear();
        return *this;
    }

    // Holds inObject with a new reference, releasing the previous one.
    void Set(T* inObject)
    {
        if (inObject != nullptr)
        {
            inObject->Retain();
        }
        T* previous = std::exchange(fObject, inObject);
        if (previous != nullptr)
        {
            previous->Release();
        }
    }
    // Holds inObject with the caller's reference, releasing the previous one.
    void Adopt(T* inObject)
    {
        T* previous = std::exchange(fObject, inObject);
        if (previous != nullptr)
        {
            previous->Release();
        }
    }
    // Gives the held reference to the caller.
    T* Forget() { return std::exchange(fObject, nullptr); }
    void Clear() { Adopt(nullptr); }

    T* Get() const { return fObject; }
    T* operator->() const { return fObject; }
    T& operator*() const { return *fObject; }
    explicit operator bool() const { return fObject != nullptr; }
    bool operator==(const VRefPtr& inOther) const { return fObject == inOther.fObject; }
    bool operator==(const T* inOther) const { return fObject == inOther; }

private:
    T* fObject = nullptr;
};

} // namespace zorn
