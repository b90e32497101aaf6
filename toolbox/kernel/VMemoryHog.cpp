#include "toolbox/kernel/VMemoryHog.h"

#include "toolbox/kernel/VTaskMgr.h"

namespace zorn
{

VMemoryHog::VMemoryHog() : fOwnerTaskID(static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID())) {}

} // namespace zorn
