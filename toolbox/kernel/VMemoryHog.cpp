#include "toolbox/kernel/VMemoryHog.h"

#include <unistd.h>

namespace zorn
{

VMemoryHog::VMemoryHog() : fOwnerThreadID(::gettid()) {}

} // namespace zorn
