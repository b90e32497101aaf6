#include "toolbox/kernel/linux/XLinuxSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/random.h>

namespace zorn
{

void XLinuxSystem::Random(void* outBuffer, size_t inCount)
{
    auto* bytes = static_cast<unsigned char*>(outBuffer);
    while (inCount > 0)
    {
        // Blocks only until the kernel's pool is first initialised, early at boot.
        ssize_t count = ::getrandom(bytes, inCount, 0);
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            std::fprintf(stderr, "zorn: getrandom failed (errno %d)\n", errno);
            std::abort();
        }
        bytes += count;
        inCount -= static_cast<size_t>(count);
    }
}

} // namespace zorn
