// VMemoryHog: a critical section registered with the memory manager by a task that uses much
// memory (VCppMemMgr::RegisterMemHog), remembering which task registered it.
#pragma once

#include "toolbox/kernel/locks/VCriticalSection.h"

#include <cstdint>

namespace zorn
{

class VMemoryHog : public VCriticalSection
{
public:
    VMemoryHog();

    // The ID of the task (or, on a thread without a task, the thread's own ID) that registered it.
    uint32_t GetOwnerTaskID() const { return fOwnerTaskID; }

private:
    uint32_t fOwnerTaskID;
};

} // namespace zorn
