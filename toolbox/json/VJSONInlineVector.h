// VJSONInlineVector: the element store of JSON containers, a vector whose first buffer may lie in
// its owner's own allocation. A container made for a known number of members (a reader's, a
// clone) is allocated with room for them right after itself, so a container and its members take
// one block instead of two; a container that later outgrows that room moves its members to the
// heap like any vector (the room stays unused until the container dies).
//
// Layout: a heap pointer (null while the members are inline) and two 32-bit counts, 16 bytes. The
// inline room starts right after the vector itself, so the vector must be its owner's last member
// and the owner must be allocated with the room behind it (SetInlineCapacity tells the vector how
// much there is). Counts are 32 bits: a container holds at most 2^32 - 1 members; growing past
// that throws std::length_error, and running out of memory std::bad_alloc, as std::vector does,
// with the members unchanged.
//
// T must be nothrow move-constructible. Iterators are plain pointers, valid until the next change
// of the size or capacity.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace zorn
{

template <class T>
class VJSONInlineVector
{
    static_assert(std::is_nothrow_move_constructible_v<T>);

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    static constexpr size_t kMaxSize = UINT32_MAX;

    VJSONInlineVector() = default;
    VJSONInlineVector(const VJSONInlineVector&) = delete;
    VJSONInlineVector& operator=(const VJSONInlineVector&) = delete;
    ~VJSONInlineVector()
    {
        std::destroy(begin(), end());
        ::operator delete(fHeap);
    }

    // For the owner, once, while empty: the room allocated after the owner, in members.
    void SetInlineCapacity(uint32_t inCapacity) { fCapacity = inCapacity; }

    // The standard vector's names, so that the containers' code and the standard algorithms take
    // either store.
    // NOLINTBEGIN(readability-identifier-naming)
    size_t size() const { return fSize; }
    size_t capacity() const { return fCapacity; }
    bool empty() const { return fSize == 0; }
    T* data() { return fHeap != nullptr ? fHeap : _Inline(); }
    const T* data() const { return fHeap != nullptr ? fHeap : _Inline(); }
    T* begin() { return data(); }
    T* end() { return data() + fSize; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + fSize; }
    T& operator[](size_t inIndex) { return data()[inIndex]; }
    const T& operator[](size_t inIndex) const { return data()[inIndex]; }
    T& back() { return data()[fSize - 1]; }
    const T& back() const { return data()[fSize - 1]; }

    void reserve(size_t inCount)
    {
        if (inCount <= fCapacity)
        {
            return;
        }
        if (inCount > kMaxSize)
        {
            throw std::length_error("VJSONInlineVector");
        }
        T* buffer = static_cast<T*>(::operator new(inCount * sizeof(T)));
        T* old = data();
        std::uninitialized_move(old, old + fSize, buffer);
        std::destroy(old, old + fSize);
        ::operator delete(fHeap);
        fHeap = buffer;
        fCapacity = static_cast<uint32_t>(inCount);
    }

    template <class... TArgs>
    T& emplace_back(TArgs&&... inArgs)
    {
        if (fSize == fCapacity)
        {
            // The argument may be one of the members: it is made before they move.
            T made = _Make(std::forward<TArgs>(inArgs)...);
            _Grow();
            return *::new (static_cast<void*>(data() + fSize++)) T(std::move(made));
        }
        return *::new (static_cast<void*>(data() + fSize++)) T(_Make(std::forward<TArgs>(inArgs)...));
    }
    void push_back(const T& inValue) { emplace_back(inValue); }
    void push_back(T&& inValue) { emplace_back(std::move(inValue)); }
    void pop_back() { std::destroy_at(data() + --fSize); }

    // Removes [inFirst, inLast), moving the later members down.
    T* erase(const T* inFirst, const T* inLast)
    {
        T* first = data() + (inFirst - data());
        T* last = data() + (inLast - data());
        T* tail = std::move(last, end(), first);
        std::destroy(tail, end());
        fSize -= static_cast<uint32_t>(last - first);
        return first;
    }
    T* erase(const T* inPosition) { return erase(inPosition, inPosition + 1); }

    // Shrinks, or grows with default-made members.
    void resize(size_t inCount)
    {
        if (inCount < fSize)
        {
            std::destroy(data() + inCount, end());
            fSize = static_cast<uint32_t>(inCount);
            return;
        }
        reserve(inCount);
        while (fSize < inCount)
        {
            ::new (static_cast<void*>(data() + fSize)) T();
            ++fSize;
        }
    }
    void clear() { resize(0); }

    // Exchanges the members with a standard vector's (the room of each side stays its own).
    void swap(std::vector<T>& ioOther)
    {
        if (fSize == 0 && ioOther.empty())
        {
            return;
        }
        std::vector<T> mine;
        mine.reserve(fSize);
        std::move(begin(), end(), std::back_inserter(mine));
        clear();
        reserve(ioOther.size());
        for (T& value : ioOther)
        {
            ::new (static_cast<void*>(data() + fSize)) T(std::move(value));
            ++fSize;
        }
        ioOther.swap(mine);
    }
    // NOLINTEND(readability-identifier-naming)
    // Copies of the members.
    std::vector<T> ToVector() const { return std::vector<T>(begin(), end()); }

private:
    // A member from the arguments: by a constructor where T has one for them, else as an aggregate
    // (braces, which every compiler of the project's tools takes for aggregates). The result is a
    // prvalue, so it is made in place.
    template <class... TArgs>
    static T _Make(TArgs&&... inArgs)
    {
        if constexpr (std::is_constructible_v<T, TArgs&&...>)
        {
            return T(std::forward<TArgs>(inArgs)...);
        }
        else
        {
            return T{std::forward<TArgs>(inArgs)...};
        }
    }

    T* _Inline() { return reinterpret_cast<T*>(this + 1); }
    const T* _Inline() const { return reinterpret_cast<const T*>(this + 1); }
    void _Grow()
    {
        reserve(std::min<size_t>(std::max<size_t>(4, 2 * size_t{fCapacity}), kMaxSize));
        if (fSize == fCapacity)
        {
            throw std::length_error("VJSONInlineVector");
        }
    }

    T* fHeap = nullptr;
    uint32_t fSize = 0;
    uint32_t fCapacity = 0;
};

} // namespace zorn
