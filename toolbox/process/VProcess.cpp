#include "toolbox/process/VProcess.h"

#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/process/VMetricsManager.h"

namespace zorn
{

namespace
{
std::atomic<VProcess*>& Instance()
{
    static std::atomic<VProcess*> sInstance{nullptr};
    return sInstance;
}
} // namespace

VProcess::VProcess()
    : fLastTokenRelease(VSystem::GetCurrentTime()), fMetricsManager(std::make_unique<VMetricsManager>())
{
    Instance().store(this, std::memory_order_release);
    IProcessServices::Set(this);
}

VProcess::~VProcess()
{
    VProcess* self = this;
    Instance().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    if (IProcessServices::Get() == this)
    {
        IProcessServices::Set(nullptr);
    }
}

VProcess* VProcess::Get()
{
    return Instance().load(std::memory_order_acquire);
}

VIntlMgr* VProcess::GetIntlMgr() const
{
    return nullptr;
}

ILogger* VProcess::GetLogger() const
{
    return nullptr;
}

ILocalizer* VProcess::GetLocalizer() const
{
    return fLocalizer.load(std::memory_order_acquire);
}

void VProcess::SetLocalizer(ILocalizer* inLocalizer)
{
    fLocalizer.store(inLocalizer, std::memory_order_release);
}

VJSONClassStore* VProcess::GetClassStore() const
{
    return nullptr;
}

bool VProcess::IsFibersEnabled() const
{
    return fFibers;
}

void VProcess::RegisterActivityToken(VActivityToken* inToken)
{
    std::lock_guard lock(fTokenMutex);
    fActivityTokens.insert(inToken);
}

void VProcess::UnregisterActivityToken(VActivityToken* inToken)
{
    std::lock_guard lock(fTokenMutex);
    if (fActivityTokens.erase(inToken) != 0 && fActivityTokens.empty())
    {
        fLastTokenRelease = VSystem::GetCurrentTime();
    }
}

bool VProcess::HasSomeActivityTokens(uint32_t inMilliseconds)
{
    std::lock_guard lock(fTokenMutex);
    // Unsigned difference: right across a wrap of the millisecond count.
    return !fActivityTokens.empty() || VSystem::GetCurrentTime() - fLastTokenRelease < inMilliseconds;
}

} // namespace zorn
