#include "toolbox/process/VProgressManager.h"

#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VProgressLockOrder.h"

namespace zorn
{

std::atomic<VProgressManager*> VProgressManager::sProgressManager{nullptr};

bool VProgressManager::Init()
{
    if (Get() == nullptr)
    {
        auto* manager = new VProgressManager();
        VProgressManager* expected = nullptr;
        if (!sProgressManager.compare_exchange_strong(expected, manager, std::memory_order_acq_rel))
        {
            delete manager;
        }
    }
    return true;
}

bool VProgressManager::Deinit()
{
    delete sProgressManager.exchange(nullptr, std::memory_order_acq_rel);
    return true;
}

// Registration

void VProgressManager::RegisterProgress(VProgressIndicator* inIndicator)
{
    if (VProgressManager* manager = Get())
    {
        manager->_RegisterProgress(inIndicator);
    }
}

void VProgressManager::UnregisterProgress(VProgressIndicator* inIndicator)
{
    if (VProgressManager* manager = Get())
    {
        manager->_UnregisterProgress(inIndicator, false);
    }
}

bool VProgressManager::_UnregisterReleased(VProgressIndicator* inIndicator)
{
    VProgressManager* manager = Get();
    return manager == nullptr || manager->_UnregisterProgress(inIndicator, true);
}

void VProgressManager::_RegisterProgress(VProgressIndicator* inIndicator)
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Manager);
    fIndicators.emplace(inIndicator->GetID(), inIndicator); // a present id keeps its entry
}

bool VProgressManager::_UnregisterProgress(VProgressIndicator* inIndicator, bool inOnlyIfReleased)
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Manager);
    if (inOnlyIfReleased && inIndicator->GetRefCount() != 0)
    {
        return false; // a lookup retained it after its last release: it lives on
    }
    auto found = fIndicators.find(inIndicator->GetID());
    if (found != fIndicators.end() && found->second == inIndicator)
    {
        inIndicator->DoMetrics();
        fIndicators.erase(found);
    }
    return true;
}

// Lookups

VProgressIndicator* VProgressManager::RetainProgress(const VUUID& inID)
{
    VProgressManager* manager = Get();
    if (manager == nullptr)
    {
        return nullptr;
    }
    StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
    auto found = manager->fIndicators.find(inID);
    return found != manager->fIndicators.end() ? RetainRefCountable(found->second) : nullptr;
}

VProgressIndicator* VProgressManager::_RetainProgressIndicator(const VString& inUserInfo)
{
    VProgressManager* manager = Get();
    if (manager == nullptr)
    {
        return nullptr;
    }
    StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
    VString userInfo;
    for (const auto& [id, indicator] : manager->fIndicators)
    {
        indicator->GetUserInfo(userInfo);
        if (userInfo.EqualToString(inUserInfo, false))
        {
            return RetainRefCountable(indicator);
        }
    }
    return nullptr;
}

VError VProgressManager::GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& ioInfos)
{
    VProgressManager* manager = Get();
    if (manager == nullptr)
    {
        return VE_OK;
    }
    StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
    for (const auto& [id, indicator] : manager->fIndicators)
    {
        if (indicator->GetSessionCount() >= 1)
        {
            indicator->UpdateSessionsInfos();
            VRefPtr<VRefCountedSessionInfo> snapshot(indicator->RetainSessionsInfos(), true);
            if (snapshot)
            {
                ioInfos.push_back(std::move(snapshot));
            }
        }
    }
    return VE_OK;
}

VError VProgressManager::_GetProgressInfo(VValueBag& ioBag, const VString* inUserInfo)
{
    VProgressManager* manager = Get();
    if (manager == nullptr)
    {
        return VE_OK;
    }
    StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
    if (inUserInfo == nullptr)
    {
        for (const auto& [id, indicator] : manager->fIndicators)
        {
            _ProgressInfoToBag(ioBag, indicator);
        }
        return VE_OK;
    }
    if (VRefPtr<VProgressIndicator> indicator(_RetainProgressIndicator(*inUserInfo), true); indicator)
    {
        _ProgressInfoToBag(ioBag, indicator.Get());
    }
    return VE_OK;
}

void VProgressManager::_ProgressInfoToBag(VValueBag& ioBag, VProgressIndicator* inIndicator)
{
    VRefPtr<VValueBag> element(new VValueBag(), true);
    inIndicator->SaveInfoToBag(*element);
    ioBag.AddElement(StPackedDictionaryKey("ProgressInfo"), element.Get());
}

// Standard indicators

void VProgressManager::SetStdProgressFactory(IProgressIndicatorFactory* inFactory)
{
    if (VProgressManager* manager = Get())
    {
        StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
        manager->fFactory = inFactory;
    }
}

VProgressIndicator* VProgressManager::CreateStdProgress(int32_t inKind, uint32_t inOptions)
{
    VProgressManager* manager = Get();
    if (manager == nullptr)
    {
        return nullptr;
    }
    IProgressIndicatorFactory* factory = nullptr;
    {
        StProgressLocker locker(manager->fLock, VProgressLockOrder::eRank_Manager);
        factory = manager->fFactory;
    }
    // Outside the lock: the new indicator registers itself.
    return factory != nullptr ? factory->CreateProgressIndicator(inKind, inOptions) : nullptr;
}

size_t VProgressManager::GetCount() const
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Manager);
    return fIndicators.size();
}

} // namespace zorn
