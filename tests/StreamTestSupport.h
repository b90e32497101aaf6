// Helpers shared by the test suites that build stream forms byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace zorn::test
{

using Bytes = std::vector<uint8_t>;

// A 32-bit integer in the machine's byte order.
inline Bytes Int32(int32_t inValue)
{
    Bytes bytes(4);
    std::memcpy(bytes.data(), &inValue, 4);
    return bytes;
}

// The bytes of both, one after the other.
inline Bytes operator+(Bytes inFirst, const Bytes& inSecond)
{
    inFirst.insert(inFirst.end(), inSecond.begin(), inSecond.end());
    return inFirst;
}

} // namespace zorn::test
