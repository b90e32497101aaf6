#include "toolbox/kernel/messages/VFunctionMessage.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

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

namespace
{
// The main task when the function must go through its queue; null when there is no main task
// or, unless inQueueOnMainTask, when the caller is the main task and the function ran at once
// (outDone then tells which).
VTask* MainTaskToPostTo(std::function<void()>& ioFunction, bool inQueueOnMainTask, bool& outDone)
{
    VTask* main = VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
    outDone = false;
    if (main != nullptr && !inQueueOnMainTask && VTask::GetCurrent() == main)
    {
        if (ioFunction)
        {
            ioFunction();
        }
        outDone = true;
        return nullptr;
    }
    return main;
}
} // namespace

bool VFunctionMessage::PostToMainTask(std::function<void()>&& inFunction, bool inQueueOnMainTask)
{
    bool done = false;
    VTask* main = MainTaskToPostTo(inFunction, inQueueOnMainTask, done);
    return main != nullptr ? PostFunctionTo(main, std::move(inFunction)) : done;
}

bool VFunctionMessage::PostToMainTaskAndWait(std::function<void()>&& inFunction, bool inQueueOnMainTask)
{
    bool done = false;
    VTask* main = MainTaskToPostTo(inFunction, inQueueOnMainTask, done);
    return main != nullptr ? PostToAndWait(main, std::move(inFunction)) : done;
}

} // namespace zorn
