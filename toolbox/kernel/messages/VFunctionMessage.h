// VFunctionMessage: a message that runs a function object on the target task, with helpers that
// post a function to a task, or to the main task, and optionally wait until it ran (running the
// caller's own messages meanwhile).
#pragma once

#include "toolbox/kernel/messages/VMessage.h"

#include <functional>

namespace zorn
{

class VTask;

class VFunctionMessage : public VMessage
{
public:
    explicit VFunctionMessage(std::function<void()>&& inFunction) : fFunction(std::move(inFunction)) {}

    // Queues the function on inTask; false when the task takes no messages now.
    static bool PostFunctionTo(VTask* inTask, std::function<void()>&& inFunction);
    // Runs the function on inTask (at once when it is the calling task) and waits until it ran,
    // at most inTimeoutMs milliseconds in the second form; whether it ran.
    static bool PostToAndWait(VTask* inTask, std::function<void()>&& inFunction);
    static bool PostToAndWait(VTask* inTask, std::function<void()>&& inFunction, int inTimeoutMs);
    // The same for the main task. Called on the main task with inQueueOnMainTask false, they run the
    // function at once; with it true, PostToMainTask queues it behind the main task's messages.
    static bool PostToMainTask(std::function<void()>&& inFunction, bool inQueueOnMainTask = false);
    static bool PostToMainTaskAndWait(std::function<void()>&& inFunction, bool inQueueOnMainTask = false);

protected:
    void DoExecute() override;

private:
    std::function<void()> fFunction;
};

} // namespace zorn
