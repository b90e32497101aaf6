#include "toolbox/kernel/tasks/IIdleable.h"

#include "toolbox/kernel/messages/VFunctionMessage.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <utility>

namespace zorn
{

IIdleable::IIdleable() : fHandle(std::make_shared<std::atomic<IIdleable*>>(this)) {}

IIdleable::~IIdleable()
{
    fHandle->store(nullptr, std::memory_order_release);
    StopIdling();
}

void IIdleable::StartIdling()
{
    StartIdling(VTask::GetCurrent());
}

void IIdleable::StartIdling(VTask* inTask)
{
    if (inTask == nullptr || IsIdling())
    {
        return;
    }
    inTask->Retain();
    fTask = inTask;
    fIdling.store(true, std::memory_order_release);
    inTask->RegisterIdler(this);
}

void IIdleable::StopIdling()
{
    if (!fIdling.exchange(false, std::memory_order_acq_rel))
    {
        return;
    }
    VTask* task = std::exchange(fTask, nullptr);
    if (task == VTask::GetCurrent())
    {
        task->UnregisterIdler(this);
    }
    else
    {
        // Only the task knows when no pass of its idlers holds this one. When it takes no more
        // messages it has ended and calls no idler again.
        VFunctionMessage::PostToAndWait(task, [task, this] { task->UnregisterIdler(this); });
    }
    task->Release();
}

void IIdleable::Idle()
{
    if (IsIdling())
    {
        DoIdle();
    }
}

} // namespace zorn
