#include "toolbox/process/VProgressLockOrder.h"

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

namespace zorn
{

#ifndef NDEBUG
namespace
{
// The ranked locks the thread holds, one entry per level taken, in the order taken.
std::vector<std::pair<const VCriticalSection*, int>>& HeldLocks()
{
    thread_local std::vector<std::pair<const VCriticalSection*, int>> tHeld;
    return tHeld;
}

bool IsHeld(const VCriticalSection& inLock)
{
    const auto& held = HeldLocks();
    return std::any_of(held.begin(), held.end(), [&](const auto& entry) { return entry.first == &inLock; });
}

void CheckOrder(const VCriticalSection& inLock, int inRank)
{
    if (IsHeld(inLock))
    {
        return; // taken again by its holder
    }
    for (const auto& entry : HeldLocks())
    {
        // A reversal of the progress lock order: this lock must be taken before the held one.
        assert(entry.second < inRank && "progress locks taken out of order");
        (void)entry;
    }
}

void Record(const VCriticalSection& inLock, int inRank)
{
    HeldLocks().emplace_back(&inLock, inRank);
}

void Forget(const VCriticalSection& inLock)
{
    auto& held = HeldLocks();
    auto found =
        std::find_if(held.rbegin(), held.rend(), [&](const auto& entry) { return entry.first == &inLock; });
    if (found != held.rend())
    {
        held.erase(std::next(found).base());
    }
}
} // namespace
#endif

bool VProgressLockOrder::Lock(VCriticalSection& ioLock, ERank inRank)
{
#ifndef NDEBUG
    CheckOrder(ioLock, inRank);
#endif
    bool locked = ioLock.Lock();
#ifndef NDEBUG
    Record(ioLock, inRank);
#else
    (void)inRank;
#endif
    return locked;
}

bool VProgressLockOrder::TryToLock(VCriticalSection& ioLock, ERank inRank)
{
    bool locked = ioLock.TryToLock();
#ifndef NDEBUG
    if (locked)
    {
        Record(ioLock, inRank);
    }
#else
    (void)inRank;
#endif
    return locked;
}

bool VProgressLockOrder::Unlock(VCriticalSection& ioLock)
{
#ifndef NDEBUG
    Forget(ioLock);
#endif
    return ioLock.Unlock();
}

int VProgressLockOrder::GetHeldCount()
{
#ifndef NDEBUG
    return static_cast<int>(HeldLocks().size());
#else
    return 0;
#endif
}

} // namespace zorn
