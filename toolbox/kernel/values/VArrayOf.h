// VArrayOf: the toolbox's growable array of plain elements, with 1-based positions, a growth step,
// insertion at a position, search by value and deletion of a range. VArrayRetainedPtrOf holds
// pointers to reference-counted objects: it retains what it takes in and releases what it lets go
// (deleted, replaced, or still held when it is destroyed). VArrayIteratorOf walks an array.
//
// Choices made where several were possible:
// - The elements live in a std::vector; the growth step is the number of places reserved at once
//   when the array is full (at least 1), so that appending one by one does not reallocate each
//   time.
// - AddNth at a position past the end appends; a position below 1 inserts at the front.
// - Positions outside 1 to count make GetNth answer a value-initialised element and the delete
//   operations do nothing for the part outside.
// - FindPos answers the 1-based position of the first element equal to the value, or 0.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace zorn
{

template <class T>
class VArrayOf
{
public:
    explicit VArrayOf(int32_t inInitialCount = 0, int32_t inGrowthStep = 10)
        : fGrowthStep(std::max<int32_t>(inGrowthStep, 1))
    {
        fElements.reserve(static_cast<size_t>(std::max<int32_t>(inInitialCount, 0)));
    }
    virtual ~VArrayOf() = default;
    VArrayOf(const VArrayOf&) = default;
    VArrayOf& operator=(const VArrayOf&) = default;

    int32_t GetCount() const { return static_cast<int32_t>(fElements.size()); }
    bool IsEmpty() const { return fElements.empty(); }
    int32_t GetGrowthStep() const { return fGrowthStep; }
    void SetGrowthStep(int32_t inStep) { fGrowthStep = std::max<int32_t>(inStep, 1); }

    T GetNth(int32_t inPos) const { return _Valid(inPos) ? fElements[static_cast<size_t>(inPos - 1)] : T{}; }
    T GetFirst() const { return GetNth(1); }
    T GetLast() const { return GetNth(GetCount()); }
    // 0-based access for loops; the position must be valid.
    const T& operator[](int32_t inIndex) const { return fElements[static_cast<size_t>(inIndex)]; }
    T* First() { return fElements.data(); }
    T* End() { return fElements.data() + fElements.size(); }

    bool AddTail(const T& inElement) { return AddNth(inElement, GetCount() + 1); }
    bool AddHead(const T& inElement) { return AddNth(inElement, 1); }
    // Inserts at inPos (clamped to 1 to count + 1): the element takes that position.
    virtual bool AddNth(const T& inElement, int32_t inPos)
    {
        _Reserve(1);
        const int32_t pos = std::clamp<int32_t>(inPos, 1, GetCount() + 1);
        fElements.insert(fElements.begin() + (pos - 1), inElement);
        return true;
    }
    // Replaces the element at a valid position.
    virtual bool SetNth(const T& inElement, int32_t inPos)
    {
        if (!_Valid(inPos))
        {
            return false;
        }
        fElements[static_cast<size_t>(inPos - 1)] = inElement;
        return true;
    }

    int32_t FindPos(const T& inElement) const
    {
        auto found = std::find(fElements.begin(), fElements.end(), inElement);
        return found == fElements.end() ? 0 : static_cast<int32_t>(found - fElements.begin()) + 1;
    }
    bool Find(const T& inElement) const { return FindPos(inElement) != 0; }

    void DeleteNth(int32_t inPos) { DeleteNths(inPos, inPos); }
    // Deletes positions inFrom to inTo (inclusive), as far as they exist.
    virtual void DeleteNths(int32_t inFrom, int32_t inTo)
    {
        inFrom = std::max<int32_t>(inFrom, 1);
        inTo = std::min<int32_t>(inTo, GetCount());
        if (inFrom <= inTo)
        {
            fElements.erase(fElements.begin() + (inFrom - 1), fElements.begin() + inTo);
        }
    }
    // Deletes the first element equal to the value; false when there is none.
    bool Delete(const T& inElement)
    {
        const int32_t pos = FindPos(inElement);
        if (pos != 0)
        {
            DeleteNth(pos);
        }
        return pos != 0;
    }
    void Destroy() { DeleteNths(1, GetCount()); }

protected:
    bool _Valid(int32_t inPos) const { return inPos >= 1 && inPos <= GetCount(); }

    void _Reserve(size_t inMore)
    {
        if (fElements.size() + inMore > fElements.capacity())
        {
            fElements.reserve(fElements.size() + std::max<size_t>(inMore, static_cast<size_t>(fGrowthStep)));
        }
    }

    std::vector<T> fElements;
    int32_t fGrowthStep;
};

// Pointers to objects with Retain and Release (IRefCountable): the array holds one reference to
// each element it contains.
template <class T>
class VArrayRetainedPtrOf : public VArrayOf<T*>
{
    using Base = VArrayOf<T*>;

public:
    using Base::Base;
    ~VArrayRetainedPtrOf() override { DeleteNths(1, this->GetCount()); }
    VArrayRetainedPtrOf(const VArrayRetainedPtrOf& inOther) : Base(inOther)
    {
        for (T* element : this->fElements)
        {
            _Retain(element);
        }
    }
    VArrayRetainedPtrOf& operator=(const VArrayRetainedPtrOf& inOther)
    {
        if (this != &inOther)
        {
            VArrayRetainedPtrOf copy(inOther);
            std::swap(this->fElements, copy.fElements);
        }
        return *this;
    }

    bool AddNth(T* const& inElement, int32_t inPos) override
    {
        _Retain(inElement);
        return Base::AddNth(inElement, inPos);
    }
    bool SetNth(T* const& inElement, int32_t inPos) override
    {
        if (!this->_Valid(inPos))
        {
            return false;
        }
        _Retain(inElement);
        _Release(this->fElements[static_cast<size_t>(inPos - 1)]);
        this->fElements[static_cast<size_t>(inPos - 1)] = inElement;
        return true;
    }
    void DeleteNths(int32_t inFrom, int32_t inTo) override
    {
        inFrom = std::max<int32_t>(inFrom, 1);
        inTo = std::min<int32_t>(inTo, this->GetCount());
        if (inFrom > inTo)
        {
            return;
        }
        // Out of the array first: a release may run code that looks at the array.
        std::vector<T*> dropped(this->fElements.begin() + (inFrom - 1), this->fElements.begin() + inTo);
        Base::DeleteNths(inFrom, inTo);
        for (T* element : dropped)
        {
            _Release(element);
        }
    }

private:
    static void _Retain(T* inElement)
    {
        if (inElement != nullptr)
        {
            inElement->Retain();
        }
    }
    static void _Release(T* inElement)
    {
        if (inElement != nullptr)
        {
            inElement->Release();
        }
    }
};

// Walks an array from position 1: Next answers each element in turn, then a value-initialised
// element once the end is passed.
template <class T>
class VArrayIteratorOf
{
public:
    explicit VArrayIteratorOf(const VArrayOf<T>& inArray) : fArray(&inArray) {}

    T Next()
    {
        ++fPos;
        return Current();
    }
    T Current() const { return fArray->GetNth(fPos); }
    int32_t GetPos() const { return fPos; }
    void SetPos(int32_t inPos) { fPos = inPos; }
    void Reset() { fPos = 0; }
    bool HasMore() const { return fPos < fArray->GetCount(); }

private:
    const VArrayOf<T>* fArray;
    int32_t fPos = 0;
};

} // namespace zorn
