// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxFiber: a fiber made of a POSIX thread and a semaphore (sem_t). Control passes from fiber
// to fiber by YieldTo, which posts the target's semaphore and waits on the caller's own, so of
// the fibers that hand control to each other exactly one runs while the others wait. A created
// fiber runs its function on a thread of its own once something first yields to it; a thread's
// own fiber (CreateFiberForThread) stands for the calling thread, so that other fibers can hand
// control back to it.
//
// Choices and limits:
// - Every fiber is a real thread: a hand-off costs two semaphore operations and a wake of another
//   thread (see bench_tasks), far more than a user-space context switch, but each fiber keeps the
//   thread-local storage, the signal mask and the debugger view of a thread.
// - A stack size is raised to whole pages (and at least the system's minimum).
// - Destroying a created fiber ends a thread that never ran (its function is not called) and
//   joins one whose function returned. A fiber whose function started and never finished (it was
//   left waiting in YieldTo for good) is left parked: its thread stays blocked on its semaphore
//   for the rest of the process and its stack is not reclaimed; it never runs again.
// - No per-thread state of a windowing system is carried into fiber threads: Linux has no event
//   queue bound to the main thread that fibers would need to share.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <pthread.h>
#include <semaphore.h>

namespace zorn
{

class XLinuxFiber
{
public:
    // A fiber that runs inFunction on its own thread, with inStackSize bytes of stack raised to
    // whole pages, once first yielded to. Null when the semaphore or the thread cannot be made;
    // the error ('POSX', errno) is raised.
    static XLinuxFiber* Create(size_t inStackSize, std::function<void()>&& inFunction);
    // The calling thread as a fiber (no function). Null when the semaphore cannot be made.
    static XLinuxFiber* CreateFiberForThread();
    ~XLinuxFiber();
    XLinuxFiber(const XLinuxFiber&) = delete;
    XLinuxFiber& operator=(const XLinuxFiber&) = delete;

    // Called on this fiber's thread: lets inTo run, then waits until a fiber yields back here (or
    // WakeUp). Interrupted waits wait again. Nothing for a null target or this fiber itself.
    void YieldTo(XLinuxFiber* inTo);
    // Lets the fiber run without waiting for it (how a finishing fiber hands control back).
    void WakeUp();

    pthread_t GetThread() const { return fShared->fThread; }
    // Whether the fiber's function was called and has returned.
    bool IsFinished() const { return fShared->fStep.load(std::memory_order_acquire) == eFinished; }

private:
    enum EStep : int
    {
        eWaitingForStart, // the thread waits for the first YieldTo
        eRunning,         // the function was called
        eFinished,        // the function returned
        eAbandoned        // destroyed before it started: the thread ends without calling it
    };

    // What the fiber object and its thread share; the last of the two to let go deletes it, so a
    // parked thread keeps its semaphore.
    struct Shared
    {
        sem_t fSemaphore{};
        std::function<void()> fFunction;
        pthread_t fThread{};
        std::atomic<int> fStep{eWaitingForStart};
        std::atomic<int> fOwners{1};
        bool fOwnsThread = false;

        void Wait();
        void Post();
        void Release();
    };

    explicit XLinuxFiber(Shared* inShared) : fShared(inShared) {}
    static Shared* _MakeShared();
    static void* _ThreadProc(void* inShared);

    Shared* fShared;
};

} // namespace zorn
