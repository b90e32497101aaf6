// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxFiber.h"

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/linux/XLinuxTask.h"

#include <cerrno>
#include <utility>

namespace zorn
{

void XLinuxFiber::Shared::Wait()
{
    while (::sem_wait(&fSemaphore) != 0 && errno == EINTR)
    {
    }
}

void XLinuxFiber::Shared::Post()
{
    ::sem_post(&fSemaphore);
}

void XLinuxFiber::Shared::Release()
{
    if (fOwners.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        ::sem_destroy(&fSemaphore);
        delete this;
    }
}

XLinuxFiber::Shared* XLinuxFiber::_MakeShared()
{
    auto* shared = new Shared();
    if (::sem_init(&shared->fSemaphore, 0, 0) != 0)
    {
        _ThrowError(MakeVErrorFromErrno(errno));
        delete shared;
        return nullptr;
    }
    return shared;
}

XLinuxFiber* XLinuxFiber::Create(size_t inStackSize, std::function<void()>&& inFunction)
{
    Shared* shared = _MakeShared();
    if (shared == nullptr)
    {
        return nullptr;
    }
    shared->fFunction = std::move(inFunction);
    // The thread's share, taken before it exists.
    shared->fOwners.store(2, std::memory_order_relaxed);
    pthread_attr_t attributes;
    int result = ::pthread_attr_init(&attributes);
    if (result == 0)
    {
        result = ::pthread_attr_setstacksize(&attributes, XLinuxTask::RoundStackSize(inStackSize));
        if (result == 0)
        {
            result = ::pthread_create(&shared->fThread, &attributes, &_ThreadProc, shared);
        }
        ::pthread_attr_destroy(&attributes);
    }
    if (result != 0)
    {
        _ThrowError(MakeVErrorFromErrno(result));
        shared->fOwners.store(1, std::memory_order_relaxed);
        shared->Release();
        return nullptr;
    }
    shared->fOwnsThread = true;
    return new XLinuxFiber(shared);
}

XLinuxFiber* XLinuxFiber::CreateFiberForThread()
{
    Shared* shared = _MakeShared();
    if (shared == nullptr)
    {
        return nullptr;
    }
    shared->fThread = ::pthread_self();
    shared->fStep.store(eRunning, std::memory_order_relaxed);
    return new XLinuxFiber(shared);
}

void* XLinuxFiber::_ThreadProc(void* inShared)
{
    auto* shared = static_cast<Shared*>(inShared);
    shared->Wait();
    int waiting = eWaitingForStart;
    if (shared->fStep.compare_exchange_strong(waiting, eRunning, std::memory_order_acq_rel))
    {
        shared->fFunction();
        // Its captures go on this thread, now that nothing runs it any more.
        shared->fFunction = nullptr;
        shared->fStep.store(eFinished, std::memory_order_release);
    }
    shared->Release();
    return nullptr;
}

XLinuxFiber::~XLinuxFiber()
{
    if (fShared->fOwnsThread)
    {
        int waiting = eWaitingForStart;
        if (::pthread_equal(fShared->fThread, ::pthread_self()))
        {
            ::pthread_detach(fShared->fThread);
        }
        else if (fShared->fStep.compare_exchange_strong(waiting, eAbandoned, std::memory_order_acq_rel))
        {
            // Never yielded to: the thread ends without calling the function.
            fShared->Post();
            ::pthread_join(fShared->fThread, nullptr);
        }
        else if (waiting == eFinished)
        {
            ::pthread_join(fShared->fThread, nullptr);
        }
        else
        {
            // Started and not finished: parked for good, or returning from its function just now.
            // Either way the thread lets go of the shared part itself.
            ::pthread_detach(fShared->fThread);
        }
    }
    fShared->Release();
}

void XLinuxFiber::YieldTo(XLinuxFiber* inTo)
{
    // Yielding to no fiber, or to oneself, would wait for good.
    if (inTo == nullptr || inTo == this)
    {
        return;
    }
    // Read before the target runs: it may destroy this fiber object while this thread waits (a
    // fiber dropped for good), but never the shared part that the thread holds.
    Shared* mine = fShared;
    inTo->fShared->Post();
    mine->Wait();
}

void XLinuxFiber::WakeUp()
{
    fShared->Post();
}

} // namespace zorn
