#include "toolbox/kernel/memory/VMemMgrLock.h"

#include "toolbox/kernel/linux/XLinuxSystem.h"

namespace zorn
{

namespace
{
// About a microsecond of polling: longer than the manager's sections, far shorter than a sleep.
constexpr int kSpins = 200;
} // namespace

void VMemMgrLock::_LockContended()
{
    for (int i = 0; i < kSpins; ++i)
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        uint32_t state = fState.load(std::memory_order_relaxed);
        if (state == kFree && fState.compare_exchange_weak(state, kLocked, std::memory_order_acquire,
                                                           std::memory_order_relaxed))
        {
            return;
        }
    }
    // Marks the lock as waited for, then sleeps until a release finds it free.
    while (fState.exchange(kLockedWithWaiters, std::memory_order_acquire) != kFree)
    {
        XLinuxSystem::FutexWait(&fState, kLockedWithWaiters);
    }
}

void VMemMgrLock::_WakeOne()
{
    XLinuxSystem::FutexWake(&fState, 1);
}

} // namespace zorn
