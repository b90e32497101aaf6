#include "toolbox/process/VLogger.h"

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>

namespace zorn
{

// ---- Life ----

VLogger::VLogger() : fRing(std::make_unique<Ring>()), fSpare(std::make_unique<Ring>()) {}

VLogger::~VLogger()
{
    {
        StLocker<VCriticalSection> lock(&fListenerLock);
        for (ILogListener* listener : fListeners)
        {
            listener->Release();
        }
        fListeners.clear();
    }
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        std::vector<const VLogRecord*> pending;
        _TakePending(pending);
        _ClearTaken(pending);
    }
    Stop();
    if (VTask* task = fTask.exchange(nullptr))
    {
        task->Release();
    }
}

void VLogger::Start()
{
    fStarted.store(true, std::memory_order_release);
}

void VLogger::Stop()
{
    if (VTask* task = fTask.load(std::memory_order_acquire))
    {
        task->Kill();
        task->WaitForDeath(kStopWaitMs);
    }
}

bool VLogger::IsStarted() const
{
    return fStarted.load(std::memory_order_acquire);
}

// ---- Levels ----

bool VLogger::ShouldLog(EMessageLevel inLevel) const
{
    if (!fStarted.load(std::memory_order_relaxed))
    {
        return false;
    }
    return ((fLevelMask.load(std::memory_order_relaxed) >> (static_cast<uint32_t>(inLevel) % 32)) & 1u) != 0;
}

bool VLogger::WithTag(uint32_t inBit, bool inOn)
{
    const uint32_t bit = 1u << (inBit % 32);
    const uint32_t old = inOn ? fLevelMask.fetch_or(bit) : fLevelMask.fetch_and(~bit);
    return (old & bit) != 0;
}

// ---- Filing ----

void VLogger::LogBag(VValueBag* ioRecord)
{
    int32_t level = EML_Information;
    ioRecord->GetLong(ILoggerBagKeys::level(), level);
    if (!ShouldLog(static_cast<EMessageLevel>(level)))
    {
        return;
    }
    if (!ioRecord->AttributeExists(ILoggerBagKeys::time()))
    {
        ioRecord->SetTime(ILoggerBagKeys::time(), VTime(eInitWithCurrentTime));
    }
    if (!ioRecord->AttributeExists(ILoggerBagKeys::sequence()))
    {
        ioRecord->SetLong8(ILoggerBagKeys::sequence(), GetSequenceNumber());
    }
    VLogRecord record;
    record.SetBag(ioRecord);
    _FileLocked(record);
}

void VLogger::LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource)
{
    if (!ShouldLog(inLevel))
    {
        return;
    }
    // The record a bag would carry (source, level, message, time, sequence), kept as fields: the
    // bag is made at delivery only for a listener that asks for one.
    VLogRecord record;
    if (!inSource.IsEmpty())
    {
        record.SetFields(inLevel, inSource, inMessage, VLogRecord::NowMilliseconds(), GetSequenceNumber());
    }
    else
    {
        IProcessServices* process = IProcessServices::Get();
        record.SetFields(inLevel, process != nullptr ? process->GetLogSourceIdentifier() : VString(),
                         inMessage, VLogRecord::NowMilliseconds(), GetSequenceNumber());
    }
    _FileLocked(record);
}

void VLogger::_FileLocked(VLogRecord& ioRecord)
{
    bool wake = false;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        wake = _File(ioRecord);
    }
    // ioRecord now holds what the slot held: a dropped record, released here, outside the lock.
    if (wake)
    {
        if (VTask* task = fTask.load(std::memory_order_acquire))
        {
            task->WakeUp();
        }
    }
}

void VLogger::AddLogBag(VValueBag* inRecord)
{
    VLogRecord record;
    record.SetBag(inRecord);
    _File(record);
}

bool VLogger::_File(VLogRecord& ioRecord)
{
    bool wrapped = false;
    if (fCount >= kRingSize)
    {
        fWrapped = true;
        fCount = 0;
        wrapped = true;
    }
    VLogRecord& slot = (*fRing)[static_cast<size_t>(fCount)];
    if (!slot.IsEmpty())
    {
        fDropped.fetch_add(1, std::memory_order_relaxed);
    }
    slot.Swap(ioRecord);
    ++fCount;
    return wrapped || (!fWrapped && fCount == kWakeCount);
}

void VLogger::GetRingState(int32_t& outCount, bool& outWrapped)
{
    StLocker<VCriticalSection> lock(&fRingLock);
    outCount = fCount;
    outWrapped = fWrapped;
}

// ---- Delivery ----

void VLogger::_TakePending(std::vector<const VLogRecord*>& ioRecords)
{
    if (fCount == 0)
    {
        return;
    }
    fRing.swap(fSpare);
    const Ring& taken = *fSpare;
    auto take = [&](int32_t inFrom, int32_t inTo)
    {
        for (int32_t i = inFrom; i < inTo; ++i)
        {
            ioRecords.push_back(&taken[static_cast<size_t>(i)]);
        }
    };
    if (fWrapped)
    {
        take(fCount, kRingSize);
    }
    take(0, fCount);
    fCount = 0;
    fWrapped = false;
}

void VLogger::_ClearTaken(const std::vector<const VLogRecord*>& inRecords)
{
    for (const VLogRecord* record : inRecords)
    {
        const_cast<VLogRecord*>(record)->Clear();
    }
}

std::vector<const VValueBag*> VLogger::Read()
{
    std::vector<const VLogRecord*> taken;
    _TakePending(taken);
    std::vector<const VValueBag*> records;
    records.reserve(taken.size());
    for (const VLogRecord* record : taken)
    {
        const VValueBag* bag = record->GetBag();
        bag->Retain();
        records.push_back(bag);
    }
    _ClearTaken(taken);
    return records;
}

void VLogger::Flush()
{
    StLocker<VCriticalSection> order(&fFlushLock);
    std::vector<const VLogRecord*> records;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        records.reserve(static_cast<size_t>(fWrapped ? kRingSize : fCount));
        _TakePending(records);
    }
    if (records.empty())
    {
        return;
    }
    {
        StLocker<VCriticalSection> lock(&fListenerLock);
        for (ILogListener* listener : fListeners)
        {
            listener->PutRecords(records);
        }
    }
    // The spare ring is this flush's alone until its records are emptied (the flush lock).
    _ClearTaken(records);
}

// ---- Listeners ----

bool VLogger::AddLogListener(ILogListener* inListener)
{
    if (inListener == nullptr)
    {
        return false;
    }
    {
        StLocker<VCriticalSection> lock(&fListenerLock);
        if (std::find(fListeners.begin(), fListeners.end(), inListener) != fListeners.end())
        {
            return false;
        }
        inListener->Retain();
        fListeners.insert(fListeners.begin(), inListener);
    }
    if (fTask.load(std::memory_order_acquire) == nullptr)
    {
        auto* task = new VTask(kTaskStackSize, eTaskStylePreemptive, [this] { _Run(); });
        VTask* expected = nullptr;
        if (fTask.compare_exchange_strong(expected, task, std::memory_order_acq_rel))
        {
            task->SetName(VString("Logger"));
            task->SetKind(0x4C4F4747); // 'LOGG'
            task->Run();
        }
        else
        {
            task->Release(); // another task made it meanwhile
        }
    }
    return true;
}

bool VLogger::RemoveLogListener(ILogListener* inListener)
{
    Flush();
    if (inListener == nullptr)
    {
        return false;
    }
    StLocker<VCriticalSection> lock(&fListenerLock);
    auto found = std::find(fListeners.begin(), fListeners.end(), inListener);
    if (found == fListeners.end())
    {
        return false;
    }
    fListeners.erase(found);
    inListener->Release();
    return true;
}

void VLogger::_Run()
{
    VTask::ReleaseCurrentActivityToken();
    while (!VTask::IsDying(VTask::GetCurrent()))
    {
        Flush();
        VTask::Sleep(kFlushPeriodMs);
    }
}

} // namespace zorn
