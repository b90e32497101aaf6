#include "toolbox/kernel/VFunctionMessage.h"

#include "toolbox/kernel/VRefPtr.h"
#include "toolbox/kernel/VTask.h"
#include "toolbox/kernel/VTaskMgr.h"

namespace zorn
{

void VFunctionMessage::DoExecute()
{
    if (fFunction)
    {
        fFunction();
    }
}

bool VFunctionMessage::PostFunctionTo(VTask* inTask, std::function<void()>&& inFunction)
{
    VRefPtr<VFunctionMessage> message(new VFunctionMessage(std::move(inFunction)), true);
    return message->PostTo(inTask);
}

bool VFunctionMessage::PostToAndWait(VTask* inTask, std::function<void()>&& inFunction)
{
    VRefPtr<VFunctionMessage> message(new VFunctionMessage(std::move(inFunction)), true);
    return message->PostToAndWaitExecutingMessages(inTask);
}

bool VFunctionMessage::PostToAndWait(VTask* inTask, std::function<void()>&& inFunction, int inTimeoutMs)
{
    VRefPtr<VFunctionMessage> message(new VFunctionMessage(std::move(inFunction)), true);
    return message->PostToAndWaitExecutingMessages(inTask, inTimeoutMs);
}

bool VFunctionMessage::PostToMainTask(std::function<void()>&& inFunction, bool inQueueOnMainTask)
{
    VTask* main = VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
    if (main == nullptr)
    {
        return false;
    }
    if (!inQueueOnMainTask && VTask::GetCurrent() == main)
    {
        if (inFunction)
        {
            inFunction();
        }
        return true;
    }
    return PostFunctionTo(main, std::move(inFunction));
}

bool VFunctionMessage::PostToMainTaskAndWait(std::function<void()>&& inFunction, bool inQueueOnMainTask)
{
    VTask* main = VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
    if (main == nullptr)
    {
        return false;
    }
    if (!inQueueOnMainTask && VTask::GetCurrent() == main)
    {
        if (inFunction)
        {
            inFunction();
        }
        return true;
    }
    return PostToAndWait(main, std::move(inFunction));
}

} // namespace zorn
