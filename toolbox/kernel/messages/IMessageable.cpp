#include "toolbox/kernel/messages/IMessageable.h"

#include "toolbox/kernel/tasks/VTaskMgr.h"

namespace zorn
{

VMessagingContext::VMessagingContext(IMessageable* inTarget, int32_t inTaskID)
    : fTarget(inTarget), fTaskID(inTaskID)
{
}

IMessageable::IMessageable() : fContext(new VMessagingContext(this, VTaskMgr::GetCurrentTaskID())) {}

IMessageable::~IMessageable()
{
    fContext->fTarget.store(nullptr, std::memory_order_release);
    fContext->Release();
}

void IMessageable::StartMessaging()
{
    fContext->fActive.store(true, std::memory_order_release);
}

void IMessageable::StopMessaging()
{
    fContext->fActive.store(false, std::memory_order_release);
}

void IMessageable::SetMessagingTask(int32_t inTaskID)
{
    fContext->fTaskID.store(inTaskID, std::memory_order_release);
}

VMessagingContext* IMessageable::RetainMessagingContext() const
{
    fContext->Retain();
    return fContext;
}

void IMessageable::DoMessage(VMessage& /*inMessage*/) {}

} // namespace zorn
