// The updater's entry point as library functions: main only hands its arguments to UpdaterMain.
// The steps are apart so that a harness can take the same road as the program (the command line
// stored for the process, the memory manager, the engine's start-up with the program's flags) and
// stop once the command line is read and checked, before anything is waited for or changed.
//
// Exit status: 0 the update succeeded, or help or the version was printed; 1 the program could not
// start or its command line was refused; 2 the update failed.
#pragma once

#include <cstdint>

namespace zorn
{

class VUpdateEngine;

// How far StartAndRunUpdater goes.
enum class EUpdaterStop
{
    kNever,        // the whole update
    kBeforeTheRun, // start-up and command line only: the run (waits, swap, restart) is not started
};

// Stores the command line for the process and makes sure the memory manager exists; false when
// it cannot be made (nothing can run then).
bool PrepareUpdaterProcess(int inArgc, char** inArgv);

// Starts the engine with the program's flags (the process logger and the file-system notifier)
// and, unless told to stop before, runs the update; the exit status. The engine is not destroyed.
int32_t StartAndRunUpdater(VUpdateEngine& ioEngine, EUpdaterStop inStop = EUpdaterStop::kNever);

// The program's whole entry: prepare, build the engine, start and run it.
int32_t UpdaterMain(int inArgc, char** inArgv);

} // namespace zorn
