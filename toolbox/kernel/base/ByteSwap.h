// Byte-order reversal of single numbers and of arrays of them, for the stream and raw forms of
// values. Works on any trivially copyable type of 1, 2, 4 or 8 bytes (reals included) without
// reinterpreting its bits as another type.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace zorn
{

template <class T>
T ByteSwapped(T inValue)
{
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
    if constexpr (sizeof(T) == 1)
    {
        return inValue;
    }
    else
    {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &inValue, sizeof(T));
        std::reverse(bytes, bytes + sizeof(T));
        T swapped;
        std::memcpy(&swapped, bytes, sizeof(T));
        return swapped;
    }
}

template <class T>
void ByteSwapArray(T* ioValues, size_t inCount)
{
    for (size_t i = 0; i < inCount; ++i)
    {
        ioValues[i] = ByteSwapped(ioValues[i]);
    }
}

} // namespace zorn
