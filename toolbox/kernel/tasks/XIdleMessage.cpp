#include "toolbox/kernel/tasks/XIdleMessage.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/tasks/VTask.h"

namespace zorn
{

XIdleMessage::XIdleMessage(IIdleable* inIdler) : fIdler(inIdler != nullptr ? inIdler->GetHandle() : nullptr)
{
}

void XIdleMessage::DoExecute()
{
    IIdleable* idler = fIdler != nullptr ? fIdler->load(std::memory_order_acquire) : nullptr;
    if (idler == nullptr || !idler->IsIdling())
    {
        return;
    }
    idler->Idle();
    // A new message: this one is still pending while it runs.
    VRefPtr<XIdleMessage> next(new XIdleMessage(idler), true);
    next->PostTo(VTask::GetCurrent(), false, kRepostDelayMs);
}

} // namespace zorn
