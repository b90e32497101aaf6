// XLinuxSystem: Linux services that callers reach by this name rather than through VSystem.
#pragma once

#include <cstddef>

namespace zorn
{

class XLinuxSystem
{
public:
    XLinuxSystem() = delete;

    // Fills inCount bytes from the kernel's cryptographic random source (getrandom). It cannot
    // fail: where the kernel gives no random bytes at all the process is aborted, since random
    // identifiers made from anything weaker would collide.
    static void Random(void* outBuffer, size_t inCount);
};

} // namespace zorn
