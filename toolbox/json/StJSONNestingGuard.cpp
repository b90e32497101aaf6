#include "toolbox/json/StJSONNestingGuard.h"

#include "toolbox/kernel/tasks/VTaskMgr.h"

namespace zorn
{

namespace
{

thread_local uint32_t tDepth = 0;

// The stack is measured on the first level and then every this many levels: fewer levels than
// that never use kMinFreeStack.
constexpr uint32_t kStackCheckInterval = 8;

} // namespace

StJSONNestingGuard::StJSONNestingGuard() : fFailed(false)
{
    uint32_t depth = ++tDepth;
    if (depth > kMaxDepth ||
        (depth % kStackCheckInterval == 1 && VTaskMgr::GetCurrentFreeStackSize() < kMinFreeStack))
    {
        fFailed = true;
        _ThrowError(VE_JSON_NESTING_TOO_DEEP);
    }
}

StJSONNestingGuard::~StJSONNestingGuard()
{
    --tDepth;
}

uint32_t StJSONNestingGuard::GetDepth()
{
    return tDepth;
}

} // namespace zorn
