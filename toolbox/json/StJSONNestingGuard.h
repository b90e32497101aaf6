// StJSONNestingGuard: the one bound on the depth of every recursive walk of JSON containers
// (text, comparison, cloning, and the writers and readers built on the object model). A walk
// holds one guard per container level it enters. A level fails, raising 'zorn' 108
// (VE_JSON_NESTING_TOO_DEEP) once, when the thread is already kMaxDepth levels deep, or when it
// runs a task and less than kMinFreeStack bytes of its stack are left (checked every few levels).
// The depth cap is the real bound: a thread without a task cannot know its free stack
// (VTaskMgr::GetCurrentFreeStackSize gives its stack limit there), and kMaxDepth levels of any
// guarded walk fit the 8 MiB main stack and a task's default stack even with the sanitizers' larger
// frames. The free-stack check keeps smaller task stacks safe. The depth is per thread.
#pragma once

#include "toolbox/json/VJSONErrors.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class StJSONNestingGuard
{
public:
    static constexpr uint32_t kMaxDepth = 1000;
    static constexpr size_t kMinFreeStack = 128 * 1024;

    StJSONNestingGuard();
    ~StJSONNestingGuard();
    StJSONNestingGuard(const StJSONNestingGuard&) = delete;
    StJSONNestingGuard& operator=(const StJSONNestingGuard&) = delete;

    // Whether this level may not be entered ('zorn' 108 was raised).
    bool Failed() const { return fFailed; }
    VError GetError() const { return fFailed ? VE_JSON_NESTING_TOO_DEEP : VE_OK; }
    // The calling thread's current depth (levels entered and not yet left).
    static uint32_t GetDepth();

private:
    bool fFailed;
};

} // namespace zorn
