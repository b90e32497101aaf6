// VCppMemMgr: the process-wide memory manager (VObject::sCppMemMgr). It serves the toolbox's
// explicit block allocations: tagged buffers of strings, blobs, Base64 and memory buffers.
// Ordinary objects use the standard operator new. The process's manager is built before main by
// a static initialiser and deleted at exit; its own object lives in virtual memory
// (VSystem::VirtualAlloc), not on the heap it serves.
//
// Two modes, chosen once at construction:
//  - C-library mode: every call goes to malloc, free and malloc_usable_size, without a lock.
//  - Own-allocator mode: four back ends (IMemCppImpl) take requests in turn under one recursive
//    lock (VMemMgrLock), starting from a current back end; when none can serve, the purge handler is asked to
//    free memory in one back end after the other. The back ends are made by the factory installed
//    with SetBackEndFactory, the own block allocator (VMemCppImpl) by default; with no factory the
//    manager runs in C-library mode. Each back end gets auto-allocation from the start, so it can
//    obtain memory as soon as it is made, and requests up to the maximum object size are passed to
//    it; AddVirtualAllocation adds large regions ahead of need.
//
// The allocator kind eAllocatorDefault reads the environment variable ZORN_MEMORY_ALLOCATOR, then
// the main bundle's Info.plist key "MemoryAllocator": "zorn" in any case selects the own allocator;
// "stdlib" or anything else, C-library mode. The variable, when set and not empty, wins over
// Info.plist, so that a whole test run can use the own allocator.
//
// Leak checking (SetLeaksCheck, off by default) records the call stack of every block allocated
// while it is on, until the block is freed; DumpLeaks writes the blocks still recorded into the
// leak report beside the bundle (VLeaksChecker).
//
// Every allocation failure gives null; the manager raises no error of its own.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/memory/VLeaksChecker.h"
#include "toolbox/kernel/memory/VMemMgrLock.h"

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace zorn
{

class IMemCppImpl;
class VMemCppImpl;
class VMemCppImpl_stdlib;
class VMemoryHog;
class VMemStats;

class VCppMemMgr
{
public:
    enum EAllocatorKind
    {
        // Decided by the main bundle's Info.plist "MemoryAllocator"; C-library mode without it.
        eAllocatorDefault = 0,
        eAllocatorStdLib = 1,
        eAllocatorOwn = 2
    };

    // Asked with the index of the back end to purge, the size that could not be served (0 from
    // PurgeMem) and whether this is the first purge of the request; returns the bytes it freed.
    using PurgeHandlerProc = size_t (*)(int inBackEndIndex, size_t inSize, bool inFirstCall);
    // Makes the back end of the given index (0 to 3); null when it cannot.
    using BackEndFactory = IMemCppImpl* (*)(int inIndex);

    static constexpr int kOwnBackEndCount = 4;
    // A request of at least this size to AddVirtualAllocation adds regions; smaller ones are ignored.
    static constexpr size_t kMinVirtualAllocation = 0xA00000;
    static constexpr size_t kMaxObjectSize = 2147483647;

    explicit VCppMemMgr(EAllocatorKind inKind);
    // The two options are kept for the back ends; the manager does not read them.
    VCppMemMgr(EAllocatorKind inKind, bool inOption1, bool inOption2);
    virtual ~VCppMemMgr();
    VCppMemMgr(const VCppMemMgr&) = delete;
    VCppMemMgr& operator=(const VCppMemMgr&) = delete;

    // The manager's own memory comes from virtual memory, with its size kept in front; null when
    // that fails (the object is then not built).
    static void* operator new(size_t inSize) noexcept;
    static void operator delete(void* inBlock) noexcept;

    // Installs the factory of own-mode back ends and returns the previous one. Managers built
    // afterwards use it.
    static BackEndFactory SetBackEndFactory(BackEndFactory inFactory);
    // The mode the kind selects, reading Info.plist for eAllocatorDefault.
    static EAllocatorKind ResolveAllocatorKind(EAllocatorKind inKind);

    // A block of at least inSize bytes tagged inTag, or null. inPreferredBackEnd, when a valid
    // index, is asked first.
    void* Malloc(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd = -1);
    // Like Malloc without purging.
    void* TryToMalloc(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd = -1);
    // inCount x inSize bytes, zero-filled; null on failure or when the product does not fit.
    void* Calloc(int inCount, size_t inSize, OsType inTag);
    // Null inBlock allocates; size 0 frees and returns null; otherwise a new block tagged 'grow'
    // receives the old content (up to inSize bytes). On failure, null and the old block stays valid.
    void* Realloc(void* inBlock, size_t inSize);
    // A null block is ignored.
    void Free(void* inBlock);
    // The usable size of a block: malloc_usable_size in C-library mode, so possibly more than was
    // asked for.
    size_t GetPtrSize(const void* inBlock) const;
    // Whether inBlock looks like a live block of this manager (in C-library mode: not null).
    bool CheckPtr(const void* inBlock) const;
    // Whether inObject may be a live VObject: not null and aligned for a pointer. In own-allocator
    // mode a pointer into the back ends' memory must moreover be the start of a live block that was
    // asked for as virtual, so a freed object there is refused. Objects elsewhere (the standard
    // operator new, the stack) cannot be checked further: a dangling pointer to one still passes.
    bool CheckVObject(const void* inObject) const;
    // Runs every back end's consistency check; true in C-library mode.
    bool CheckBackEnds();

    // Turns the recording of allocation call stacks on or off; returns the previous state.
    bool SetLeaksCheck(bool inEnabled);
    void SetLeaksStackFramesToSkip(int inCount);
    // The number of blocks recorded and not yet freed.
    int32_t GetRecordedBlockCount();
    // Writes the leak report of inName: its head, then each recorded block with its call stack.
    // False when the report cannot be opened.
    bool DumpLeaks(const char* inName);

    // Runs the purge handler for one back end (0 for -1) outside the lock, after waiting for a
    // purge that another thread runs. Does nothing in C-library mode.
    void PurgeMem(int inBackEndIndex);
    PurgeHandlerProc SetPurgeHandlerProc(PurgeHandlerProc inProc);

    // Own mode: a size of kMinVirtualAllocation or more is split into one page-aligned slice per
    // back end, mapped at inAddress onwards (anywhere when null) and handed to the back ends.
    // Smaller sizes are accepted and ignored. False in C-library mode or when a mapping fails.
    bool AddVirtualAllocation(size_t inSize, const void* inAddress, bool inPhysical);
    // The number of regions the back ends hold.
    int32_t CountVirtualAllocations();

    size_t GetAllocatedMem();
    size_t GetMaxFree() { return 0; }
    // The third receives GetAllocatedMem(), the others 0.
    void GetMemStatistics(size_t& outA, size_t& outB, size_t& outAllocated, size_t& outC, size_t& outD,
                          size_t& outE, size_t& outF, size_t& outG, size_t& outH);
    void GetMemUsageInfo(size_t& outTotal, size_t& outUsed);
    // Clears the scalar counters of ioStats, then lets one back end (a valid index) or all of
    // them add their figures.
    void GetStatistics(VMemStats& ioStats, int inBackEnd);
    // The index of the back end holding the block; 0 in C-library mode.
    int32_t GetAllocationBlockNumber(void* inBlock);

    // A new memory hog for the calling thread, registered until UnRegisterMemHog.
    VMemoryHog* RegisterMemHog();
    // Removes and deletes the hog; false when it is not registered.
    bool UnRegisterMemHog(VMemoryHog* inHog);

    bool IsStdLibMode() const { return fStdLib; }
    int GetBackEndCount() const { return static_cast<int>(fBackEnds.size()); }
    // The back end of the index, or null.
    IMemCppImpl* GetBackEnd(int inIndex) const
    {
        return inIndex >= 0 && inIndex < GetBackEndCount() ? fBackEnds[static_cast<size_t>(inIndex)]
                                                           : nullptr;
    }
    size_t GetMaxObjectSize() const { return fMaxObjectSize; }

private:
    void _Init(EAllocatorKind inKind, bool inOption1, bool inOption2);
    void* _MallocOwn(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd, bool inMayPurge);
    // The walks and purges of _MallocOwn, with the lock held; inTried: a back end asked already.
    void* _MallocOwnLocked(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd,
                           bool inMayPurge, int inTried);
    // Asks the back ends in turn from the current one; called with the lock held.
    void* _Walk(size_t inSize, bool inVirtual, OsType inTag, int inSkip);
    bool _IsPurgeRunningElsewhere() const;
    void* _RecordBlock(void* inBlock, size_t inSize, OsType inTag);
    void _ForgetBlock(void* inBlock);
    void _EndPurge();
    // Lets the lock go until the running purge ends, then takes it again.
    void _WaitForPurge();

    // Guards everything of own mode below. A thread that finds another thread's purge running
    // lets it go and waits for fPurgeGeneration to change.
    mutable VMemMgrLock fLock;
    std::atomic<uint64_t> fPurgeGeneration{0};
    std::thread::id fPurgeThread;

    bool fStdLib = true;
    VMemCppImpl_stdlib* fStdLibBackEnd = nullptr;
    std::vector<IMemCppImpl*> fBackEnds;
    // The same back ends when all four are the own block allocator, called without the virtual
    // table on the common paths; null otherwise.
    VMemCppImpl* fOwnBackEnds[kOwnBackEndCount] = {};
    int fCurrentBackEnd = 0;
    int fPurgedBackEnd = -1;
    size_t fMaxBlockSize = 0;
    PurgeHandlerProc fPurgeHandler = nullptr;
    bool fOption1 = false;
    bool fOption2 = false;
    size_t fMaxObjectSize = kMaxObjectSize;

    VCriticalSection fHogLock;
    std::vector<VMemoryHog*> fHogs;

    // Guarded by fLock in both modes; fRecording mirrors the checker's state for the
    // allocation paths of C-library mode, which take no lock otherwise.
    VLeaksChecker fLeaksChecker;
    VDebugBlockInfoPool fDebugBlocks;
    std::atomic<bool> fRecording{false};
    std::atomic<bool> fHasDebugBlocks{false};
};

// Block allocation over the process memory manager; all answer null when it does not exist.
class VMemory
{
public:
    static void* NewPtr(size_t inSize, OsType inTag);
    static void* NewPtrClear(size_t inSize, OsType inTag);
    // A null block is ignored.
    static void DisposePtr(void* inBlock);
    // Realloc: the possibly moved block, or null.
    static void* SetPtrSize(void* inBlock, size_t inSize);
    static size_t GetPtrSize(const void* inBlock);
};

} // namespace zorn
