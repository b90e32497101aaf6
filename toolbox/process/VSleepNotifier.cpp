#include "toolbox/process/VSleepNotifier.h"

#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/linux/XLinuxSleepNotifier.h"

#include <vector>

namespace zorn
{

VSleepNotifier::VSleepNotifier() : fBackEnd(std::make_unique<XLinuxSleepNotifier>()) {}

VSleepNotifier::~VSleepNotifier()
{
    UnregisterSleepHandlers();
    if (fBackEnd != nullptr)
    {
        fBackEnd->SetOwner(nullptr);
    }
}

VError VSleepNotifier::Init()
{
    if (fBackEnd == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    VError error = fBackEnd->Init();
    if (error != VE_OK)
    {
        return _ThrowError(error);
    }
    fBackEnd->SetOwner(this);
    return VE_OK;
}

VError VSleepNotifier::RegisterSleepHandler(ISleepHandler* inHandler)
{
    if (inHandler == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    StLocker<VCriticalSection> lock(&fLock);
    if (fHandlers.insert(inHandler).second)
    {
        inHandler->Retain();
    }
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandler(ISleepHandler* inHandler)
{
    if (inHandler == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    StLocker<VCriticalSection> lock(&fLock);
    if (fHandlers.erase(inHandler) != 0)
    {
        inHandler->Release();
    }
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandlers()
{
    StLocker<VCriticalSection> lock(&fLock);
    for (ISleepHandler* handler : fHandlers)
    {
        handler->Release();
    }
    fHandlers.clear();
    return VE_OK;
}

size_t VSleepNotifier::CountSleepHandlers() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fHandlers.size();
}

void VSleepNotifier::HaveSleepNotification()
{
    _Notify(true);
}

void VSleepNotifier::HaveWakeupNotification()
{
    _Notify(false);
}

void VSleepNotifier::_Notify(bool inSleep)
{
    // An information record, as the process logger's LogMessage builds one: level 4 is the
    // default level, so the record carries no "level".
    IProcessServices* process = IProcessServices::Get();
    ILogger* logger = process != nullptr ? process->GetLogger() : nullptr;
    if (logger != nullptr && logger->ShouldLog(EML_Information))
    {
        VRefPtr<VValueBag> record(new VValueBag(), true);
        record->SetString(VValueBag::StKey("source"), VString("sleepNotifications"));
        record->SetString(VValueBag::StKey("message"),
                          VString(inSleep ? "System is going to sleep" : "System woke up from sleep"));
        logger->LogBag(record.Get());
    }
    VRefPtr<IFiberScheduler> scheduler(VTaskMgr::Get()->RetainFiberScheduler(), true);
    if (scheduler)
    {
        scheduler->SetSystemCallCFRunloop(true);
    }
    std::vector<VRefPtr<ISleepHandler>> handlers;
    {
        StLocker<VCriticalSection> lock(&fLock);
        for (ISleepHandler* handler : fHandlers)
        {
            handlers.emplace_back(handler);
        }
    }
    for (const auto& handler : handlers)
    {
        (void)handler->GetName();
        if (inSleep)
        {
            handler->WillSleep();
        }
        else
        {
            handler->DidWakeUp();
        }
    }
}

} // namespace zorn
