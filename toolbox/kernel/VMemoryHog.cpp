#include "toolbox/kernel/VMemoryHog.h"

#include "toolbox/kernel/VTaskSeam.h"

namespace zorn
{

VMemoryHog::VMemoryHog() : fOwnerTaskID(detail::CurrentLockOwnerID()) {}

} // namespace zorn
