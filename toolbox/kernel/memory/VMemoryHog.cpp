#include "toolbox/kernel/memory/VMemoryHog.h"

#include "toolbox/kernel/tasks/VTaskMgr.h"

namespace zorn
{

VMemoryHog::VMemoryHog() : fOwnerTaskID(static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID())) {}

} // namespace zorn
