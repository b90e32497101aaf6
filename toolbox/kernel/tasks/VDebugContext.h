// VDebugContext: a task's own state for the debug manager: whether the task is inside a report
// (so that an assertion or error raised while reporting is not reported again), its low-level
// mode counter (while above 0 the task's debug messages and reports are suppressed) and its
// no-break counter (while above 0 VDebugMgr::Break does not stop). Only the task's own thread
// touches it.
#pragma once

#include <cstdint>

namespace zorn
{

class VDebugContext
{
public:
    // Enters a report; false when the task is in one already.
    bool EnterReport()
    {
        if (fReporting)
        {
            return false;
        }
        fReporting = true;
        return true;
    }
    void LeaveReport() { fReporting = false; }
    bool IsReporting() const { return fReporting; }

    void StartLowLevelMode() { ++fLowLevelCount; }
    void StopLowLevelMode() { --fLowLevelCount; }
    bool IsLowLevelMode() const { return fLowLevelCount != 0; }
    int32_t GetLowLevelCount() const { return fLowLevelCount; }

    void DisableBreak() { ++fNoBreakCount; }
    void EnableBreak() { --fNoBreakCount; }
    bool IsBreakDisabled() const { return fNoBreakCount != 0; }

private:
    bool fReporting = false;
    int32_t fLowLevelCount = 0;
    int32_t fNoBreakCount = 0;
};

} // namespace zorn
