// Linux back end of the sleep notifier. A plain Linux machine offers the process no sleep and wake
// source, so Init succeeds and nothing fires by itself. FeedPowerMessage takes the power messages
// such a source would send, for tests and for a future source:
// - 0xE0000280 (the system will sleep): the owner's sleep notification, then the change is allowed;
// - 0xE0000270 (the system can sleep): allowed at once, never vetoed;
// - 0xE0000300 (the system has powered on): the owner's wake-up notification;
// - anything else is ignored.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstdint>

namespace zorn
{

class VSleepNotifier;

class XLinuxSleepNotifier : public VObject
{
public:
    static constexpr uint32_t kSystemWillSleep = 0xE0000280;
    static constexpr uint32_t kCanSystemSleep = 0xE0000270;
    static constexpr uint32_t kSystemHasPoweredOn = 0xE0000300;

    VError Init() { return VE_OK; }
    // Not retained.
    void SetOwner(VSleepNotifier* inOwner) { fOwner = inOwner; }

    // Handles one power message; whether it allowed a power change. Nothing without an owner.
    bool FeedPowerMessage(uint32_t inMessageType);

private:
    VSleepNotifier* fOwner = nullptr;
};

} // namespace zorn
