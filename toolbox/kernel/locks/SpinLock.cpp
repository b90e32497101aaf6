#include "toolbox/kernel/locks/SpinLock.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <cmath>
#include <limits>

namespace zorn
{

std::atomic<SpinLock::AcquireProc> SpinLock::sLock{&SpinLock::AcquireMaxSpinsThenLoopYields};
std::atomic<SpinLock::ReleaseProc> SpinLock::sUnlock{&SpinLock::Release};
std::atomic<int32_t> SpinLock::sMaxSpins{1};
std::atomic<bool> SpinLock::sYieldAfterCheckEvent{false};

namespace
{

// Up to inMaxSpins attempts in a row (at least one).
bool Spin(SpinLockWord* ioWord, int32_t inMaxSpins)
{
    for (int32_t i = 0; i < inMaxSpins || i == 0; ++i)
    {
        if (SpinLock::TryAcquire(ioWord))
        {
            return true;
        }
    }
    return false;
}
} // namespace

void SpinLock::AcquireMaxSpinsThenLoopYields(SpinLockWord* ioWord)
{
    if (Spin(ioWord, GetMaxSpins()))
    {
        return;
    }
    do
    {
        VTaskMgr::YieldNow();
    } while (!TryAcquire(ioWord));
}

void SpinLock::AcquireLoopMaxSpinsAndYields(SpinLockWord* ioWord)
{
    for (;;)
    {
        if (Spin(ioWord, GetMaxSpins()))
        {
            return;
        }
        VTaskMgr::YieldNow();
        if (TryAcquire(ioWord))
        {
            return;
        }
    }
}

void SpinLock::AcquireAlwaysSleep(SpinLockWord* ioWord)
{
    if (TryAcquire(ioWord))
    {
        return;
    }
    static const int32_t sLimit = []
    {
        int32_t processors = VSystem::GetNumberOfLogicalProcessors();
        return processors >= 9 ? processors : 8;
    }();
    for (int32_t n = 1;; ++n)
    {
        VTask::Sleep(n < sLimit ? 0 : 1);
        if (TryAcquire(ioWord))
        {
            return;
        }
        if (n == std::numeric_limits<int32_t>::max())
        {
            n = sLimit; // keep sleeping 1 ms without overflowing the counter
        }
    }
}

void SpinLock::Release(SpinLockWord* ioWord)
{
    // Release ordering publishes the guarded writes to the next holder; the other bits stay.
    ioWord->fetch_and(~kHeldBit, std::memory_order_release);
}

void SpinLock::Configure()
{
    // The strategy pointers change without synchronisation of their users: only while the main
    // task is the only task.
    if (VTaskMgr::Get()->GetTaskCount(false) != 1)
    {
        return;
    }
    detail::ReadSpinLockSettings();
}

void SpinLock::ApplySettings(const VString* inMode, const double* inMaxSpins,
                             const bool* inYieldAfterCheckEvent)
{
    if (inMode != nullptr)
    {
        struct Mode
        {
            const char16_t* fName;
            AcquireProc fProc;
        };
        const Mode modes[] = {{u"alwaysSleep", &AcquireAlwaysSleep},
                              {u"loopMaxSpinsAndYields", &AcquireLoopMaxSpinsAndYields},
                              {u"maxSpinsThenLoopYields", &AcquireMaxSpinsThenLoopYields}};
        for (const Mode& mode : modes)
        {
            if (inMode->EqualTo(CVSTR_struct(mode.fName), false))
            {
                sLock.store(mode.fProc);
                sUnlock.store(&Release);
                break;
            }
        }
    }
    if (inMaxSpins != nullptr && std::isfinite(*inMaxSpins))
    {
        double spins = std::trunc(*inMaxSpins);
        // Out-of-range counts saturate instead of overflowing the conversion.
        spins = std::fmin(std::fmax(spins, static_cast<double>(std::numeric_limits<int32_t>::min())),
                          static_cast<double>(std::numeric_limits<int32_t>::max()));
        sMaxSpins.store(static_cast<int32_t>(spins));
    }
    if (inYieldAfterCheckEvent != nullptr)
    {
        sYieldAfterCheckEvent.store(*inYieldAfterCheckEvent);
    }
}

void SpinLock::ResetSettings()
{
    sLock.store(&AcquireMaxSpinsThenLoopYields);
    sUnlock.store(&Release);
    sMaxSpins.store(1);
    sYieldAfterCheckEvent.store(false);
}

} // namespace zorn
