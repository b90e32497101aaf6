// VProgressManager: the process-wide registry of live progress indicators, by id. Process
// start-up makes it (Init) and the end of the process removes it (Deinit); indicators made
// outside that span are not registered. Viewers find indicators through it (by id, by user info)
// and collect the snapshots of every busy one.
//
// Choices made where several were possible:
// - The public operations are static and do nothing (or find nothing) without a manager.
// - An indicator leaves the registry when its last reference goes, before it is destroyed (and
//   again, harmlessly, from its destructor): a lookup that retains it under the manager's lock
//   therefore never hands out an indicator that is being destroyed; one that retained it just
//   before keeps it alive.
// - The standard-indicator factory is installed with SetStdProgressFactory (not owned).
// - The manager's lock comes first in the progress lock order: under it the manager takes
//   indicators' state and snapshot locks, and unregistering records metrics.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/values/VUUID.h"

#include <atomic>
#include <map>
#include <vector>

namespace zorn
{

class VProgressIndicator;
class VRefCountedSessionInfo;
class VString;
class VValueBag;

// Makes the process's standard indicators.
class IProgressIndicatorFactory
{
public:
    virtual ~IProgressIndicatorFactory() = default;
    // A new indicator (one reference, the caller's), or null.
    virtual VProgressIndicator* CreateProgressIndicator(int32_t inKind, uint32_t inOptions) = 0;
};

class VProgressManager : public VObject
{
public:
    VProgressManager(const VProgressManager&) = delete;
    VProgressManager& operator=(const VProgressManager&) = delete;

    // Makes the manager when missing; true.
    static bool Init();
    // Deletes it; true.
    static bool Deinit();
    static VProgressManager* Get() { return sProgressManager.load(std::memory_order_acquire); }

    // Called by the indicators. A second registration of an id keeps the first entry; leaving
    // records the indicator's current session as a metric first.
    static void RegisterProgress(VProgressIndicator* inIndicator);
    static void UnregisterProgress(VProgressIndicator* inIndicator);
    // For an indicator whose last reference went: leaves the registry and answers true, unless a
    // lookup retained it meanwhile (false: it lives on).
    static bool _UnregisterReleased(VProgressIndicator* inIndicator);

    // The indicator with that id, with a reference, or null.
    static VProgressIndicator* RetainProgress(const VUUID& inID);
    // The first indicator (in id order) whose user info equals the text, with a reference, or null.
    static VProgressIndicator* _RetainProgressIndicator(const VString& inUserInfo);
    // Asks every busy indicator for a fresh snapshot and appends its last published one; 0.
    static VError GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& ioInfos);
    // With a user info, the "ProgressInfo" element of the first indicator that carries it; with
    // null, one element per indicator in id order; 0.
    static VError _GetProgressInfo(VValueBag& ioBag, const VString* inUserInfo);
    // Adds an element "ProgressInfo" filled by the indicator's SaveInfoToBag.
    static void _ProgressInfoToBag(VValueBag& ioBag, VProgressIndicator* inIndicator);

    static void SetStdProgressFactory(IProgressIndicatorFactory* inFactory);
    // A new indicator from the factory; null without a manager or a factory.
    static VProgressIndicator* CreateStdProgress(int32_t inKind, uint32_t inOptions);

    size_t GetCount() const;

private:
    VProgressManager() = default;
    ~VProgressManager() override = default;

    void _RegisterProgress(VProgressIndicator* inIndicator);
    bool _UnregisterProgress(VProgressIndicator* inIndicator, bool inOnlyIfReleased);

    static std::atomic<VProgressManager*> sProgressManager;

    mutable VCriticalSection fLock;
    std::map<VUUID, VProgressIndicator*> fIndicators; // not owned
    IProgressIndicatorFactory* fFactory = nullptr;
};

} // namespace zorn
