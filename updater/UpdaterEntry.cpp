#include "updater/UpdaterEntry.h"

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "updater/VUpdateEngine.h"

namespace zorn
{

namespace
{
// The process logger (16) and the file-system notifier (64).
constexpr uint32_t kStartUpFlags = 0x50;
} // namespace

bool PrepareUpdaterProcess(int inArgc, char** inArgv)
{
    VProcessIPC::SetCommandLine(inArgc, inArgv);
    // The toolbox builds its memory manager before main (and deletes whichever is set at exit);
    // should it be missing, build it here, and without one nothing can run.
    if (VObject::sCppMemMgr == nullptr)
    {
        VObject::sCppMemMgr = new VCppMemMgr(VCppMemMgr::eAllocatorDefault);
    }
    return VObject::sCppMemMgr != nullptr;
}

int32_t StartAndRunUpdater(VUpdateEngine& ioEngine, EUpdaterStop inStop)
{
    if (!ioEngine.Init(kStartUpFlags))
    {
        return ioEngine.GetExitCode();
    }
    if (inStop == EUpdaterStop::kBeforeTheRun)
    {
        return 0;
    }
    ioEngine.Run();
    // A failed update leaves its errors on the main task; a start-up failure inside Run leaves
    // ('zorn', 4).
    const VError last = VTask::GetCurrent() != nullptr ? VTask::GetCurrent()->GetLastError() : VE_OK;
    if (last == VE_OK)
    {
        return 0;
    }
    return last == MakeVError(kCOMPONENT_ZORN, 4) ? 1 : 2;
}

int32_t UpdaterMain(int inArgc, char** inArgv)
{
    if (!PrepareUpdaterProcess(inArgc, inArgv))
    {
        return 1;
    }
    VUpdateEngine engine;
    return StartAndRunUpdater(engine);
}

} // namespace zorn
