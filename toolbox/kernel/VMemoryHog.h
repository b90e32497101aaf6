// VMemoryHog: a recursive lock registered with the memory manager by a task that uses much memory
// (VCppMemMgr::RegisterMemHog), remembering which thread registered it.
//
// It locks with a recursive mutex of its own; the toolbox's VCriticalSection takes its place once
// the lock classes exist.
#pragma once

#include <mutex>
#include <sys/types.h>

namespace zorn
{

class VMemoryHog
{
public:
    VMemoryHog();
    VMemoryHog(const VMemoryHog&) = delete;
    VMemoryHog& operator=(const VMemoryHog&) = delete;

    void Lock() { fMutex.lock(); }
    bool TryToLock() { return fMutex.try_lock(); }
    void Unlock() { fMutex.unlock(); }

    // The system id (gettid) of the thread that registered the hog.
    pid_t GetOwnerThreadID() const { return fOwnerThreadID; }

private:
    std::recursive_mutex fMutex;
    pid_t fOwnerThreadID;
};

} // namespace zorn
