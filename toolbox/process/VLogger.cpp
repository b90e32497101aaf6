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

VLogger::VLogger() = default;

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
        std::vector<const VValueBag*> pending;
        _TakePending(pending);
        for (const VValueBag* record : pending)
        {
            record->Release();
        }
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
    ioRecord->Retain();
    bool wake = false;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        wake = _File(ioRecord);
    }
    if (wake)
    {
        if (VTask* task = fTask.load(std::memory_order_acquire))
        {
            task->WakeUp();
        }
    }
}

void VLogger::LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource)
{
    if (!ShouldLog(inLevel))
    {
        return;
    }
    auto* record = new VValueBag();
    if (!inSource.IsEmpty())
    {
        record->SetString(ILoggerBagKeys::source(), inSource);
    }
    else
    {
        IProcessServices* process = IProcessServices::Get();
        record->SetString(ILoggerBagKeys::source(),
                          process != nullptr ? process->GetLogSourceIdentifier() : VString());
    }
    if (inLevel != ILoggerBagKeys::level().Get_Default())
    {
        record->SetLong(ILoggerBagKeys::level(), inLevel);
    }
    record->SetString(ILoggerBagKeys::message(), inMessage);
    LogBag(record);
    record->Release();
}

void VLogger::AddLogBag(VValueBag* inRecord)
{
    inRecord->Retain();
    _File(inRecord);
}

bool VLogger::_File(VValueBag* inRecord)
{
    bool wrapped = false;
    if (fCount >= kRingSize)
    {
        fWrapped = true;
        fCount = 0;
        wrapped = true;
    }
    if (VValueBag* oldest = fRing[static_cast<size_t>(fCount)])
    {
        oldest->Release();
        fDropped.fetch_add(1, std::memory_order_relaxed);
    }
    fRing[static_cast<size_t>(fCount)] = inRecord;
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

void VLogger::_TakePending(std::vector<const VValueBag*>& ioRecords)
{
    if (fCount == 0)
    {
        return;
    }
    auto take = [&](int32_t inFrom, int32_t inTo)
    {
        for (int32_t i = inFrom; i < inTo; ++i)
        {
            ioRecords.push_back(fRing[static_cast<size_t>(i)]);
            fRing[static_cast<size_t>(i)] = nullptr;
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

std::vector<const VValueBag*> VLogger::Read()
{
    std::vector<const VValueBag*> records;
    _TakePending(records);
    return records;
}

void VLogger::Flush()
{
    StLocker<VCriticalSection> order(&fFlushLock);
    std::vector<const VValueBag*> records;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        records.reserve(static_cast<size_t>(fWrapped ? kRingSize : fCount));
        _TakePending(records);
    }
    if (records.empty())
    {
        return;
    }
    StLocker<VCriticalSection> lock(&fListenerLock);
    for (ILogListener* listener : fListeners)
    {
        listener->Put(records);
    }
    for (const VValueBag* record : records)
    {
        record->Release();
    }
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
