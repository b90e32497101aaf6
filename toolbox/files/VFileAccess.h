// FileAccess: how a file is opened (VFile::Open), which its descriptor remembers (VFileDesc).
#pragma once

#include <cstdint>

namespace zorn
{

// How a file is opened: 0 read only; 1 read-write with an exclusive lock; 2 read-write with a
// shared lock; 3 read-write with an exclusive lock when it can be had, else read only.
enum FileAccess : int32_t
{
    FA_READ = 0,
    FA_READ_WRITE = 1,
    FA_SHARED = 2,
    FA_MAX = 3,
};

} // namespace zorn
