#include "toolbox/process/VMetricsManager.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/process/VProgressLockOrder.h"

namespace zorn
{

namespace
{
const VString& ActivityKindKey()
{
    static const VString sKey("activityKind");
    return sKey;
}
const VString& ActivityDurationKey()
{
    static const VString sKey("activityDuration");
    return sKey;
}
const VString& ActivityDataKey()
{
    static const VString sKey("activityData");
    return sKey;
}
} // namespace

VMetricsManager::~VMetricsManager()
{
    Reset();
}

bool VMetricsManager::Start(uint64_t inMinDurationMs, uint32_t inKindMask)
{
    VProgressLockOrder::Lock(fLock, VProgressLockOrder::eRank_Metrics);
    fMinDurationMs = inMinDurationMs;
    fKindMask = inKindMask;
    return VProgressLockOrder::Unlock(fLock);
}

void VMetricsManager::Push(EMetricsKind inKind, uint64_t inDurationMs, VJSONObject* inData)
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Metrics);
    if (inDurationMs < fMinDurationMs || (fKindMask & _KindBit(inKind)) == 0)
    {
        return;
    }
    fMetrics.push_back(Metric{inKind, inDurationMs, RetainRefCountable(inData)});
}

void VMetricsManager::Reset()
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Metrics);
    fKindMask = 0;
    for (auto metric = fMetrics.rbegin(); metric != fMetrics.rend(); ++metric)
    {
        ReleaseRefCountable(&metric->fData);
    }
    fMetrics.clear();
}

VJSONArray* VMetricsManager::Collect() const
{
    auto* array = new VJSONArray();
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Metrics);
    for (const Metric& metric : fMetrics)
    {
        VRefPtr<VJSONObject> record(new VJSONObject(), true);
        record->SetProperty(ActivityKindKey(), VJSONValue(static_cast<double>(_KindBit(metric.fKind))));
        record->SetProperty(ActivityDurationKey(),
                            VJSONValue(static_cast<double>(metric.fDurationMs) / 1000.0));
        if (metric.fData != nullptr)
        {
            VJSONCloner cloner;
            VJSONValue copy;
            cloner.CloneObject(metric.fData, copy);
            record->SetProperty(ActivityDataKey(), std::move(copy));
        }
        array->Push(VJSONValue(record.Get()));
    }
    return array;
}

bool VMetricsManager::IsKindEnabled(EMetricsKind inKind) const
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Metrics);
    return (fKindMask & _KindBit(inKind)) != 0;
}

size_t VMetricsManager::GetCount() const
{
    StProgressLocker locker(fLock, VProgressLockOrder::eRank_Metrics);
    return fMetrics.size();
}

} // namespace zorn
