// XIdleMessage: idling driven by messages. Run on a task, it calls its idler's DoIdle while the
// idler is idling, then posts a new one for the same idler to the same task, due 16 ms later; so
// the idler keeps being called about 60 times a second for as long as it idles, whether or not
// the task ever finds its queue empty. The chain ends when the idler stops idling or is
// destroyed (the message holds the idler's handle, not the idler).
#pragma once

#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/tasks/IIdleable.h"

namespace zorn
{

class XIdleMessage : public VMessage
{
public:
    static constexpr int kRepostDelayMs = 16;

    explicit XIdleMessage(IIdleable* inIdler);

protected:
    void DoExecute() override;

private:
    IIdleable::Handle fIdler;
};

} // namespace zorn
