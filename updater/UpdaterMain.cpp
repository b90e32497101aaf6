// The updater's entry point: it hands the command line to the process object, builds the engine,
// starts it, runs the update and turns the outcome into the exit status: 0 done (or help and
// version shown), 1 the program could not start or its command line was refused, 2 the update
// failed.
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "updater/VUpdateEngine.h"

using namespace zorn;

namespace
{
int RunUpdater()
{
    // The toolbox builds its memory manager before main (and deletes whichever is set at exit);
    // should it be missing, build it here, and without one nothing can run.
    if (VObject::sCppMemMgr == nullptr)
    {
        VObject::sCppMemMgr = new VCppMemMgr(VCppMemMgr::eAllocatorDefault);
        if (VObject::sCppMemMgr == nullptr)
        {
            return 1;
        }
    }
    VUpdateEngine engine;
    if (!engine.Init(0x50))
    {
        return engine.GetExitCode();
    }
    engine.Run();
    // A failed update leaves its errors on the main task; a start-up failure inside Run leaves
    // ('zorn', 4).
    const VError last = VTask::GetCurrent() != nullptr ? VTask::GetCurrent()->GetLastError() : VE_OK;
    if (last == VE_OK)
    {
        return 0;
    }
    return last == MakeVError(kCOMPONENT_ZORN, 4) ? 1 : 2;
}
} // namespace

int main(int argc, char** argv)
{
    VProcessIPC::SetCommandLine(argc, argv);
    return RunUpdater();
}
