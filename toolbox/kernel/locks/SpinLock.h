// SpinLock: a lock in one bit (bit 31) of a 32-bit word, for sections of a few instructions
// inside the other locks. How a contended acquire waits is a process-wide strategy, chosen once
// at start from the optional settings file "spinlock.prm" while only the main task runs.
//
// Strategies ("mode"): "maxSpinsThenLoopYields" (default): up to maxSpins attempts, then yield
// between attempts; "loopMaxSpinsAndYields": bursts of maxSpins attempts with a yield between
// bursts; "alwaysSleep": sleep 0 ms between attempts, 1 ms once the attempts reach the number of
// logical processors (at least 8). The other 31 bits of the word are never changed.
#pragma once

#include <atomic>
#include <cstdint>

namespace zorn
{

class VString;

using SpinLockWord = std::atomic<uint32_t>;

class SpinLock
{
public:
    using AcquireProc = void (*)(SpinLockWord* ioWord);
    using ReleaseProc = void (*)(SpinLockWord* ioWord);

    static constexpr uint32_t kHeldBit = 0x80000000u;

    // Acquire and release through the process-wide strategy.
    static void Lock(SpinLockWord* ioWord) { sLock.load(std::memory_order_relaxed)(ioWord); }
    static void Unlock(SpinLockWord* ioWord) { sUnlock.load(std::memory_order_relaxed)(ioWord); }

    // Reads "spinlock.prm" beside the executable, when only the main task exists. The file is read
    // by the process layer (an entry of VKernelHooks), which hands the values to ApplySettings.
    static void Configure();

    // The settings of "spinlock.prm"; a null argument leaves that setting as it is. An unknown
    // mode changes neither strategy pointer; maxSpins is truncated to an integer.
    static void ApplySettings(const VString* inMode, const double* inMaxSpins,
                              const bool* inYieldAfterCheckEvent);

    static int32_t GetMaxSpins() { return sMaxSpins.load(std::memory_order_relaxed); }
    static bool GetYieldAfterCheckEvent() { return sYieldAfterCheckEvent.load(std::memory_order_relaxed); }
    static AcquireProc GetAcquireProc() { return sLock.load(std::memory_order_relaxed); }

    // The strategies and the release, for configuration and tests.
    static void AcquireMaxSpinsThenLoopYields(SpinLockWord* ioWord);
    static void AcquireLoopMaxSpinsAndYields(SpinLockWord* ioWord);
    static void AcquireAlwaysSleep(SpinLockWord* ioWord);
    static void Release(SpinLockWord* ioWord);

    // Restores the defaults (tests).
    static void ResetSettings();

    // One attempt: true when the caller set bit 31 itself.
    static bool TryAcquire(SpinLockWord* ioWord)
    {
        uint32_t previous = ioWord->fetch_or(kHeldBit, std::memory_order_acquire);
        return (previous & kHeldBit) == 0;
    }

private:
    // Atomic only so that a late Configure cannot tear a pointer another thread is reading.
    static std::atomic<AcquireProc> sLock;
    static std::atomic<ReleaseProc> sUnlock;
    static std::atomic<int32_t> sMaxSpins;
    static std::atomic<bool> sYieldAfterCheckEvent;
};

// Holds a spin lock for its scope.
class StSpinLocker
{
public:
    explicit StSpinLocker(SpinLockWord* ioWord) : fWord(ioWord) { SpinLock::Lock(fWord); }
    ~StSpinLocker() { SpinLock::Unlock(fWord); }
    StSpinLocker(const StSpinLocker&) = delete;
    StSpinLocker& operator=(const StSpinLocker&) = delete;

private:
    SpinLockWord* fWord;
};

} // namespace zorn
