// VMetricsManager: records timed activities of the process (closed progress sessions) as JSON
// descriptions and hands them out as one JSON array. The process object owns one for its life;
// recording stays off until Start names the kinds to record.
//
// Choices made where several were possible:
// - A kind's bit in the mask is kind mod 32, so every kind maps to a bit.
// - Collect copies the descriptions deeply and leaves the records in place: two collections give
//   equal arrays, and a collector may change its array without touching the manager.
// - The manager's lock comes last in the progress lock order: pushes come from tasks that may hold
//   an indicator's state lock or the progress manager's lock.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VJSONArray;
class VJSONObject;

enum EMetricsKind : uint32_t
{
    // A closed progress session: the only kind the toolbox pushes.
    eMetricsKind_Progress = 2
};

class VMetricsManager : public VObject
{
public:
    struct Metric
    {
        EMetricsKind fKind;
        uint64_t fDurationMs;
        VJSONObject* fData; // one reference, or null
    };

    VMetricsManager() = default;
    ~VMetricsManager() override;
    VMetricsManager(const VMetricsManager&) = delete;
    VMetricsManager& operator=(const VMetricsManager&) = delete;

    // Records activities of at least inMinDurationMs whose kind has its bit in inKindMask. The
    // result of releasing the lock (true).
    bool Start(uint64_t inMinDurationMs, uint32_t inKindMask);
    // Records the activity when it lasted at least the minimum and its kind is recorded, taking a
    // reference on inData (which may be null); otherwise nothing is kept and no reference taken.
    void Push(EMetricsKind inKind, uint64_t inDurationMs, VJSONObject* inData);
    // Stops recording (mask 0) and drops the records, last first; the minimum stays.
    void Reset();
    // A new array (one reference, the caller's) of {"activityKind": 2^kind, "activityDuration":
    // seconds, "activityData": a deep copy of the description, when there is one}, in push order.
    VJSONArray* Collect() const;

    // Whether a push of the kind would be kept for a long enough activity.
    bool IsKindEnabled(EMetricsKind inKind) const;
    size_t GetCount() const;

private:
    static uint32_t _KindBit(EMetricsKind inKind) { return uint32_t{1} << (inKind % 32); }

    mutable VCriticalSection fLock;
    std::vector<Metric> fMetrics;
    uint64_t fMinDurationMs = 0;
    uint32_t fKindMask = 0;
};

} // namespace zorn
