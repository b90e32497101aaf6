// VBackEndStorage: room inside a portable object for its system back end, whose type the portable
// header only declares. The back end lives in place (no allocation of its own), so a file or
// folder handle costs what it cost when the header named the back end's type.
//
// Choices and limits:
// - The size and alignment are given by the portable header; every member that builds, reaches or
//   destroys the back end is instantiated in the portable source, which sees the back end's type
//   and checks at compile time that it fits. A header that grows past its room fails to build.
// - The back end is built with the storage and destroyed with it: there is no empty state.
// - Not copyable: the owner decides how its copy builds a back end of its own.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace zorn
{

template <class T, size_t kSize, size_t kAlign = alignof(std::max_align_t)>
class VBackEndStorage
{
public:
    template <class... Args>
    explicit VBackEndStorage(Args&&... inArgs)
    {
        static_assert(sizeof(T) <= kSize, "the back end outgrew the room its portable header gives it");
        static_assert(alignof(T) <= kAlign, "the back end needs a wider alignment than its room");
        ::new (static_cast<void*>(fBytes)) T(std::forward<Args>(inArgs)...);
    }
    ~VBackEndStorage() { Get().~T(); }
    VBackEndStorage(const VBackEndStorage&) = delete;
    VBackEndStorage& operator=(const VBackEndStorage&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(fBytes)); }
    const T& Get() const { return *std::launder(reinterpret_cast<const T*>(fBytes)); }
    T* operator->() { return &Get(); }
    const T* operator->() const { return &Get(); }

private:
    alignas(kAlign) std::byte fBytes[kSize];
};

} // namespace zorn
