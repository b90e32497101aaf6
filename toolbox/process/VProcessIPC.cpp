#include "toolbox/process/VProcessIPC.h"

#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/process/VCommandLineParser.h"
#include "toolbox/process/VFileSystemNotifier.h"
#include "toolbox/process/VSleepNotifier.h"
#include "toolbox/process/posix/XPosixProcessIPC.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace zorn
{

namespace
{
std::atomic<VProcessIPC*> sIPCInstance{nullptr};
} // namespace

VProcessIPC::VProcessIPC()
{
    sIPCInstance.store(this, std::memory_order_release);
}

VProcessIPC::~VProcessIPC()
{
    fFileSystemNotifier.reset();
    fSleepNotifier.reset();
    fSignals.reset();
    VProcessIPC* self = this;
    sIPCInstance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

VProcessIPC* VProcessIPC::GetIPC()
{
    return sIPCInstance.load(std::memory_order_acquire);
}

void VProcessIPC::SetCommandLine(int inArgc, char** inArgv)
{
    sProcessCommandLineArgc = inArgv != nullptr ? inArgc : 0;
    sProcessCommandLineArgv = inArgv;
}

bool VProcessIPC::Init(uint32_t inFlags)
{
    if (fInitDone)
    {
        return fInitResult;
    }
    fInitResult = VProcess::Init(inFlags);
    if (!fInitResult)
    {
        fExitCode = 1;
        return false;
    }
    fInitDone = true;

    int32_t parsed = 0;
    {
        std::vector<VString> arguments;
        for (int i = 0; i < sProcessCommandLineArgc; ++i)
        {
            const char* argument = sProcessCommandLineArgv[i];
            if (argument == nullptr || std::strncmp(argument, "-psn_", 5) == 0)
            {
                continue;
            }
            arguments.emplace_back().FromBlock(argument, std::strlen(argument), CharSet::VTC_UTF_8);
        }
        VCommandLineParser parser(arguments);
        parsed = DoParseCommandLine(parser);
    }
    fExitCode = parsed == 0 || parsed == 2 ? 0 : 1;
    fInitResult = parsed == 0;
    if (!fInitResult)
    {
        // The process will not run, and its destruction follows: what the framework's start-up
        // set running must stop first.
        StopLoggerTask();
        return false;
    }

    fSignals = std::make_unique<XPosixProcessIPC>();
    if (!fSignals->Init())
    {
        fInitResult = false;
        fExitCode = 1;
        StopLoggerTask();
        return false;
    }
    if ((inFlags & 64) != 0)
    {
        fFileSystemNotifier = std::make_unique<VFileSystemNotifier>();
    }
    fSleepNotifier = std::make_unique<VSleepNotifier>();
    // Linux sends no sleep events: the notifier is there for the handlers that register with it.
    fSleepNotifier->Init();
    return true;
}

int32_t VProcessIPC::DoParseCommandLine(VCommandLineParser& /*ioParser*/)
{
    return 0;
}

void VProcessIPC::DoRun()
{
    VTask* task = VTask::GetCurrent();
    while (task != nullptr && IsRunning())
    {
        task->ExecuteMessagesWithTimeout(100, true);
    }
}

} // namespace zorn
