// Linux back end of the sleep notifier (see the header).
#include "toolbox/process/linux/XLinuxSleepNotifier.h"

#include "toolbox/process/VSleepNotifier.h"

namespace zorn
{

bool XLinuxSleepNotifier::FeedPowerMessage(uint32_t inMessageType)
{
    if (fOwner == nullptr)
    {
        return false;
    }
    switch (inMessageType)
    {
    case kSystemWillSleep:
        fOwner->HaveSleepNotification();
        return true; // once every handler returned
    case kCanSystemSleep:
        return true;
    case kSystemHasPoweredOn:
        fOwner->HaveWakeupNotification();
        return false;
    default:
        return false;
    }
}

} // namespace zorn
