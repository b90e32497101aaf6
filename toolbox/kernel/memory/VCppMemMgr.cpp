#include "toolbox/kernel/memory/VCppMemMgr.h"

#include "platform/Bundle.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/IMemCppImpl.h"
#include "toolbox/kernel/memory/VMemCppImpl.h"
#include "toolbox/kernel/memory/VMemStats.h"
#include "toolbox/kernel/memory/VMemoryHog.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zorn
{

VCppMemMgr* VObject::sCppMemMgr = nullptr;
VCppMemMgr* VObject::sAlternateCppMemMgr = nullptr;

namespace
{
constexpr OsType kTagGrow = MakeOsType('g', 'r', 'o', 'w');

IMemCppImpl* MakeOwnBackEnd(int inIndex)
{
    return new (std::nothrow) VMemCppImpl(inIndex);
}

// Constant-initialised, so that it can be read by the static initialiser below.
constinit std::atomic<VCppMemMgr::BackEndFactory> sBackEndFactory{&MakeOwnBackEnd};

bool EqualsIgnoringASCIICase(const std::string& inText, const char* inExpected)
{
    size_t length = std::strlen(inExpected);
    if (inText.size() != length)
    {
        return false;
    }
    for (size_t i = 0; i < length; ++i)
    {
        char c = inText[i];
        if (c >= 'A' && c <= 'Z')
        {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != inExpected[i])
        {
            return false;
        }
    }
    return true;
}

// Builds the manager before any ordinary static object and deletes it after the last one is
// destroyed, so that statics of the toolbox can allocate while they are built.
struct MemMgrLifetime
{
    MemMgrLifetime()
    {
        if (VObject::sCppMemMgr == nullptr)
        {
            VObject::sCppMemMgr = new VCppMemMgr(VCppMemMgr::eAllocatorDefault);
        }
    }
    ~MemMgrLifetime()
    {
        delete VObject::sCppMemMgr;
        VObject::sCppMemMgr = nullptr;
        VObject::sAlternateCppMemMgr = nullptr;
    }
};
__attribute__((init_priority(101))) MemMgrLifetime sMemMgrLifetime;
} // namespace

VCppMemMgr::VCppMemMgr(EAllocatorKind inKind)
{
    _Init(inKind, false, false);
}

VCppMemMgr::VCppMemMgr(EAllocatorKind inKind, bool inOption1, bool inOption2)
{
    _Init(inKind, inOption1, inOption2);
}

VCppMemMgr::~VCppMemMgr()
{
    for (IMemCppImpl* backEnd : fBackEnds)
    {
        delete backEnd;
    }
    delete fStdLibBackEnd;
    for (VMemoryHog* hog : fHogs)
    {
        delete hog;
    }
}

void* VCppMemMgr::operator new(size_t inSize) noexcept
{
    static_assert(alignof(VCppMemMgr) <= sizeof(size_t), "the size header would misalign the object");
    size_t total = inSize + sizeof(size_t);
    void* block = VSystem::VirtualAlloc(total, nullptr);
    if (block == nullptr)
    {
        return nullptr;
    }
    *static_cast<size_t*>(block) = total;
    return static_cast<char*>(block) + sizeof(size_t);
}

void VCppMemMgr::operator delete(void* inBlock) noexcept
{
    if (inBlock == nullptr)
    {
        return;
    }
    void* block = static_cast<char*>(inBlock) - sizeof(size_t);
    VSystem::VirtualFree(block, *static_cast<size_t*>(block), false);
}

VCppMemMgr::BackEndFactory VCppMemMgr::SetBackEndFactory(BackEndFactory inFactory)
{
    return sBackEndFactory.exchange(inFactory);
}

VCppMemMgr::EAllocatorKind VCppMemMgr::ResolveAllocatorKind(EAllocatorKind inKind)
{
    if (inKind != eAllocatorDefault)
    {
        return inKind;
    }
    std::optional<std::string> choice;
    const char* variable = std::getenv("ZORN_MEMORY_ALLOCATOR");
    if (variable != nullptr && variable[0] != 0)
    {
        choice = variable;
    }
    else
    {
        choice = platform::GetMainBundleInfoString("MemoryAllocator");
    }
    return choice && EqualsIgnoringASCIICase(*choice, "zorn") ? eAllocatorOwn : eAllocatorStdLib;
}

void VCppMemMgr::_Init(EAllocatorKind inKind, bool inOption1, bool inOption2)
{
    fPurgedBackEnd = -1;
    fPurgeHandler = nullptr;
    fOption1 = inOption1;
    fOption2 = inOption2;
    fMaxObjectSize = kMaxObjectSize;

    EAllocatorKind kind = ResolveAllocatorKind(inKind);
    if (kind == eAllocatorOwn)
    {
        BackEndFactory factory = sBackEndFactory.load();
        if (factory != nullptr)
        {
            for (int i = 0; i < kOwnBackEndCount; ++i)
            {
                IMemCppImpl* backEnd = factory(i);
                if (backEnd == nullptr)
                {
                    break;
                }
                fBackEnds.push_back(backEnd);
            }
        }
        if (fBackEnds.size() == kOwnBackEndCount)
        {
            fStdLib = false;
            fCurrentBackEnd = 0;
            for (IMemCppImpl* backEnd : fBackEnds)
            {
                backEnd->Init(this);
                // Without it no back end would hold memory until AddVirtualAllocation, and every
                // request, those of start-up included, would fail.
                backEnd->SetAutoAllocationState(true);
            }
            for (int i = 0; i < kOwnBackEndCount; ++i)
            {
                fOwnBackEnds[i] = dynamic_cast<VMemCppImpl*>(fBackEnds[static_cast<size_t>(i)]);
            }
            if (std::find(std::begin(fOwnBackEnds), std::end(fOwnBackEnds), nullptr) !=
                std::end(fOwnBackEnds))
            {
                std::fill(std::begin(fOwnBackEnds), std::end(fOwnBackEnds), nullptr);
            }
            fMaxBlockSize = fMaxObjectSize;
            return;
        }
        // No own allocator in this program: C-library mode serves instead.
        for (IMemCppImpl* backEnd : fBackEnds)
        {
            delete backEnd;
        }
        fBackEnds.clear();
        kind = eAllocatorStdLib;
    }
    if (kind == eAllocatorStdLib)
    {
        fStdLibBackEnd = new (std::nothrow) VMemCppImpl_stdlib();
        fStdLib = fStdLibBackEnd != nullptr;
    }
    else
    {
        // An undefined kind sets up no back end: every request fails.
        fStdLib = false;
    }
}

void* VCppMemMgr::Malloc(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd)
{
    void* block = fStdLib ? fStdLibBackEnd->Malloc(inSize, 0, inVirtual ? 1 : 0, static_cast<int>(inTag))
                          : _MallocOwn(inSize, inVirtual, inTag, inPreferredBackEnd, true);
    return fRecording.load(std::memory_order_relaxed) ? _RecordBlock(block, inSize, inTag) : block;
}

void* VCppMemMgr::TryToMalloc(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd)
{
    void* block = fStdLib ? fStdLibBackEnd->Malloc(inSize, 0, inVirtual ? 1 : 0, static_cast<int>(inTag))
                          : _MallocOwn(inSize, inVirtual, inTag, inPreferredBackEnd, false);
    return fRecording.load(std::memory_order_relaxed) ? _RecordBlock(block, inSize, inTag) : block;
}

void* VCppMemMgr::_RecordBlock(void* inBlock, size_t inSize, OsType inTag)
{
    if (inBlock == nullptr)
    {
        return inBlock;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    VDebugBlockInfo info;
    info.fSize = inSize;
    info.fTag = static_cast<int32_t>(inTag);
    fLeaksChecker.RegisterBlock(info.fCrawl);
    if (info.fCrawl.GetCount() >= 1)
    {
        fDebugBlocks.Add(inBlock, info);
        fHasDebugBlocks.store(!fDebugBlocks.IsEmpty());
    }
    return inBlock;
}

void VCppMemMgr::_ForgetBlock(void* inBlock)
{
    StLocker<VMemMgrLock> lock(&fLock);
    VDebugBlockInfo info;
    if (fDebugBlocks.Remove(inBlock, info))
    {
        fLeaksChecker.UnregisterBlock(info.fCrawl);
        fHasDebugBlocks.store(!fDebugBlocks.IsEmpty());
    }
}

bool VCppMemMgr::SetLeaksCheck(bool inEnabled)
{
    StLocker<VMemMgrLock> lock(&fLock);
    fRecording.store(inEnabled);
    return fLeaksChecker.SetLeaksCheck(inEnabled);
}

void VCppMemMgr::SetLeaksStackFramesToSkip(int inCount)
{
    StLocker<VMemMgrLock> lock(&fLock);
    fLeaksChecker.SetStackFramesToSkip(inCount);
}

int32_t VCppMemMgr::GetRecordedBlockCount()
{
    StLocker<VMemMgrLock> lock(&fLock);
    return fLeaksChecker.GetRecordedBlockCount();
}

bool VCppMemMgr::DumpLeaks(const char* inName)
{
    StLocker<VMemMgrLock> lock(&fLock);
    FILE* file = fLeaksChecker.OpenDumpFile(inName);
    if (file == nullptr)
    {
        return false;
    }
    fDebugBlocks.Dump(file);
    return std::fclose(file) == 0;
}

bool VCppMemMgr::CheckBackEnds()
{
    if (fStdLib)
    {
        return true;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    for (IMemCppImpl* backEnd : fBackEnds)
    {
        if (!backEnd->Check(nullptr))
        {
            return false;
        }
    }
    return true;
}

void* VCppMemMgr::_Walk(size_t inSize, bool inVirtual, OsType inTag, int inSkip)
{
    int count = static_cast<int>(fBackEnds.size());
    int index = fCurrentBackEnd;
    for (int i = 0; i < count; ++i, index = index + 1 == count ? 0 : index + 1)
    {
        if (index == inSkip || index == fPurgedBackEnd)
        {
            continue;
        }
        if (void* block = fBackEnds[index]->Malloc(inSize, 0, inVirtual ? 1 : 0, static_cast<int>(inTag)))
        {
            return block;
        }
    }
    return nullptr;
}

void VCppMemMgr::_EndPurge()
{
    fPurgedBackEnd = -1;
    fPurgeThread = std::thread::id();
    fPurgeGeneration.fetch_add(1, std::memory_order_relaxed);
    fPurgeGeneration.notify_all();
}

void VCppMemMgr::_WaitForPurge()
{
    uint64_t generation = fPurgeGeneration.load(std::memory_order_relaxed);
    fLock.Unlock();
    fPurgeGeneration.wait(generation, std::memory_order_relaxed);
    fLock.Lock();
}

void* VCppMemMgr::_MallocOwn(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd,
                             bool inMayPurge)
{
    StLocker<VMemMgrLock> lock(&fLock);
    // The common case: the current back end, the own block allocator, serves at once.
    int tried = -1;
    if (fOwnBackEnds[0] != nullptr && inPreferredBackEnd < 0 && fPurgedBackEnd == -1 &&
        inSize <= fMaxBlockSize)
    {
        tried = fCurrentBackEnd;
        if (void* block = fOwnBackEnds[tried]->Malloc(inSize, 0, inVirtual ? 1 : 0, static_cast<int>(inTag)))
        {
            return block;
        }
    }
    return _MallocOwnLocked(inSize, inVirtual, inTag, inPreferredBackEnd, inMayPurge, tried);
}

void* VCppMemMgr::_MallocOwnLocked(size_t inSize, bool inVirtual, OsType inTag, int inPreferredBackEnd,
                                   bool inMayPurge, int inTried)
{
    int count = static_cast<int>(fBackEnds.size());
    if (count == 0 || inSize > fMaxBlockSize)
    {
        return nullptr;
    }
    void* block = nullptr;
    int skip = inTried;
    if (inPreferredBackEnd >= 0 && inPreferredBackEnd < count && inPreferredBackEnd != fPurgedBackEnd)
    {
        block = fBackEnds[inPreferredBackEnd]->Malloc(inSize, 0, inVirtual ? 1 : 0, static_cast<int>(inTag));
        skip = inPreferredBackEnd;
    }
    int purges = 0;
    while (block == nullptr)
    {
        block = _Walk(inSize, inVirtual, inTag, skip);
        // A purge may have freed memory in the preferred back end: later walks ask it too.
        skip = -1;
        if (block != nullptr || !inMayPurge)
        {
            break;
        }
        std::thread::id self = std::this_thread::get_id();
        if (fPurgedBackEnd == -1)
        {
            // One purge per back end, each followed by a walk, then give up.
            if (purges == count)
            {
                break;
            }
            int index = fCurrentBackEnd;
            fPurgedBackEnd = index;
            fPurgeThread = self;
            if (fPurgeHandler != nullptr)
            {
                fPurgeHandler(index, inSize, purges == 0);
            }
            ++purges;
            _EndPurge();
            fCurrentBackEnd = (index + 1) % count;
        }
        else if (fPurgeThread == self)
        {
            // Called from this thread's own purge handler: waiting for the purge would never end.
            break;
        }
        else
        {
            _WaitForPurge();
        }
    }
    return block;
}

void* VCppMemMgr::Calloc(int inCount, size_t inSize, OsType inTag)
{
    if (inCount < 0 || (inSize != 0 && static_cast<size_t>(inCount) > SIZE_MAX / inSize))
    {
        return nullptr;
    }
    size_t size = static_cast<size_t>(inCount) * inSize;
    void* block = Malloc(size, false, inTag, -1);
    if (block != nullptr)
    {
        std::memset(block, 0, size);
    }
    return block;
}

void VCppMemMgr::Free(void* inBlock)
{
    if (fHasDebugBlocks.load(std::memory_order_relaxed) && inBlock != nullptr)
    {
        _ForgetBlock(inBlock);
    }
    if (fStdLib)
    {
        fStdLibBackEnd->Free(inBlock);
        return;
    }
    if (inBlock == nullptr)
    {
        return;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    if (fOwnBackEnds[0] != nullptr)
    {
        fOwnBackEnds[0]->Free(inBlock);
    }
    else if (!fBackEnds.empty())
    {
        fBackEnds.front()->Free(inBlock);
    }
}

void* VCppMemMgr::Realloc(void* inBlock, size_t inSize)
{
    if (inBlock == nullptr)
    {
        return Malloc(inSize, false, 0, -1);
    }
    if (inSize == 0)
    {
        Free(inBlock);
        return nullptr;
    }
    size_t oldSize = GetPtrSize(inBlock);
    if (!fStdLib && oldSize == 0)
    {
        return nullptr; // no live block of the back ends: nothing to move
    }
    void* block = Malloc(inSize, false, kTagGrow, -1);
    if (block == nullptr)
    {
        return nullptr;
    }
    std::memcpy(block, inBlock, std::min(oldSize, inSize));
    Free(inBlock);
    return block;
}

size_t VCppMemMgr::GetPtrSize(const void* inBlock) const
{
    if (fStdLib)
    {
        return fStdLibBackEnd->GetPtrSize(inBlock);
    }
    StLocker<VMemMgrLock> lock(&fLock);
    return inBlock == nullptr || fBackEnds.empty() ? 0 : fBackEnds.front()->GetPtrSize(inBlock);
}

bool VCppMemMgr::CheckPtr(const void* inBlock) const
{
    if (fStdLib)
    {
        return fStdLibBackEnd->CheckPtr(inBlock);
    }
    StLocker<VMemMgrLock> lock(&fLock);
    return inBlock != nullptr && !fBackEnds.empty() && fBackEnds.front()->CheckPtr(inBlock);
}

bool VCppMemMgr::CheckVObject(const void* inObject) const
{
    if (inObject == nullptr || reinterpret_cast<uintptr_t>(inObject) % alignof(void*) != 0)
    {
        return false;
    }
    if (fStdLib || fBackEnds.empty())
    {
        return true;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    auto* backEnd = dynamic_cast<VMemCppImpl*>(fBackEnds.front());
    if (backEnd == nullptr || !backEnd->OwnsAddress(inObject))
    {
        return true;
    }
    return backEnd->IsLiveVirtualBlock(inObject);
}

void VCppMemMgr::PurgeMem(int inBackEndIndex)
{
    if (fStdLib)
    {
        return;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    std::thread::id self = std::this_thread::get_id();
    if (fPurgedBackEnd != -1 && fPurgeThread == self)
    {
        return; // from this thread's own purge handler
    }
    while (fPurgedBackEnd != -1)
    {
        _WaitForPurge();
    }
    int index = inBackEndIndex == -1 ? 0 : inBackEndIndex;
    fPurgedBackEnd = index;
    fPurgeThread = self;
    PurgeHandlerProc handler = fPurgeHandler;
    // Other threads go on allocating from the other back ends meanwhile.
    fLock.Unlock();
    if (handler != nullptr)
    {
        handler(index, 0, true);
    }
    fLock.Lock();
    _EndPurge();
}

VCppMemMgr::PurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(PurgeHandlerProc inProc)
{
    StLocker<VMemMgrLock> lock(&fLock);
    PurgeHandlerProc previous = fPurgeHandler;
    fPurgeHandler = inProc;
    return previous;
}

bool VCppMemMgr::AddVirtualAllocation(size_t inSize, const void* inAddress, bool inPhysical)
{
    if (fStdLib)
    {
        return false;
    }
    if (inSize < kMinVirtualAllocation)
    {
        return true;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    if (fBackEnds.empty())
    {
        return false;
    }
    // Page-aligned slices placed one after the other, so that a given address serves them all.
    size_t slice = VSystem::RoundUpVMPageSize(inSize / fBackEnds.size());
    for (size_t i = 0; i < fBackEnds.size(); ++i)
    {
        const void* address =
            inAddress == nullptr
                ? nullptr
                : reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(inAddress) + i * slice);
        void* region = inPhysical ? VSystem::VirtualAllocPhysicalMemory(slice, address, nullptr)
                                  : VSystem::VirtualAlloc(slice, address);
        if (region == nullptr)
        {
            return false;
        }
        if (!fBackEnds[i]->AddAlreadyAllocatedMem(region, slice, inPhysical))
        {
            VSystem::VirtualFree(region, slice, inPhysical);
            return false;
        }
        fMaxBlockSize = std::max(fMaxBlockSize, slice);
    }
    return true;
}

int32_t VCppMemMgr::CountVirtualAllocations()
{
    if (fStdLib)
    {
        return fStdLibBackEnd->CountAllocations();
    }
    StLocker<VMemMgrLock> lock(&fLock);
    int32_t count = 0;
    for (IMemCppImpl* backEnd : fBackEnds)
    {
        count += backEnd->CountAllocations();
    }
    return count;
}

size_t VCppMemMgr::GetAllocatedMem()
{
    if (fStdLib)
    {
        return fStdLibBackEnd->GetTotalAllocation();
    }
    StLocker<VMemMgrLock> lock(&fLock);
    size_t total = 0;
    for (IMemCppImpl* backEnd : fBackEnds)
    {
        total += backEnd->GetTotalAllocation();
    }
    return total;
}

void VCppMemMgr::GetMemStatistics(size_t& outA, size_t& outB, size_t& outAllocated, size_t& outC,
                                  size_t& outD, size_t& outE, size_t& outF, size_t& outG, size_t& outH)
{
    outA = outB = outC = outD = outE = outF = outG = outH = 0;
    outAllocated = GetAllocatedMem();
}

void VCppMemMgr::GetMemUsageInfo(size_t& outTotal, size_t& outUsed)
{
    if (fStdLib)
    {
        fStdLibBackEnd->GetMemUsageInfo(outTotal, outUsed);
        return;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    outTotal = 0;
    outUsed = 0;
    for (IMemCppImpl* backEnd : fBackEnds)
    {
        size_t total = 0;
        size_t used = 0;
        backEnd->GetMemUsageInfo(total, used);
        outTotal += total;
        outUsed += used;
    }
}

void VCppMemMgr::GetStatistics(VMemStats& ioStats, int inBackEnd)
{
    StLocker<VMemMgrLock> lock(&fLock);
    ioStats.Clear();
    if (fStdLib)
    {
        fStdLibBackEnd->GetStats(ioStats, 0);
        return;
    }
    int count = static_cast<int>(fBackEnds.size());
    if (inBackEnd >= 0 && inBackEnd < count)
    {
        fBackEnds[inBackEnd]->GetStats(ioStats, static_cast<short>(inBackEnd));
        return;
    }
    for (int i = 0; i < count; ++i)
    {
        fBackEnds[i]->GetStats(ioStats, static_cast<short>(i));
    }
}

int32_t VCppMemMgr::GetAllocationBlockNumber(void* inBlock)
{
    if (fStdLib)
    {
        return 0;
    }
    StLocker<VMemMgrLock> lock(&fLock);
    return fBackEnds.empty() ? 0 : fBackEnds.front()->GetAllocationBlockNumber(inBlock);
}

VMemoryHog* VCppMemMgr::RegisterMemHog()
{
    VMemoryHog* hog = new (std::nothrow) VMemoryHog();
    if (hog == nullptr)
    {
        return nullptr;
    }
    StLocker<VCriticalSection> lock(&fHogLock);
    try
    {
        fHogs.push_back(hog);
    }
    catch (const std::bad_alloc&)
    {
        delete hog;
        return nullptr;
    }
    return hog;
}

bool VCppMemMgr::UnRegisterMemHog(VMemoryHog* inHog)
{
    StLocker<VCriticalSection> lock(&fHogLock);
    auto found = std::find(fHogs.begin(), fHogs.end(), inHog);
    if (found == fHogs.end())
    {
        return false;
    }
    fHogs.erase(found);
    delete inHog;
    return true;
}

void* VMemory::NewPtr(size_t inSize, OsType inTag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? nullptr : manager->Malloc(inSize, false, inTag);
}

void* VMemory::NewPtrClear(size_t inSize, OsType inTag)
{
    void* block = NewPtr(inSize, inTag);
    if (block != nullptr)
    {
        std::memset(block, 0, inSize);
    }
    return block;
}

void VMemory::DisposePtr(void* inBlock)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (inBlock != nullptr && manager != nullptr)
    {
        manager->Free(inBlock);
    }
}

void* VMemory::SetPtrSize(void* inBlock, size_t inSize)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? nullptr : manager->Realloc(inBlock, inSize);
}

size_t VMemory::GetPtrSize(const void* inBlock)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager == nullptr ? 0 : manager->GetPtrSize(inBlock);
}

} // namespace zorn
