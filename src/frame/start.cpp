// The process entry and the fixed order of the start-up steps.
//
// The executable has no C or C++ runtime: the linker makes ProgramEntry the
// entry point, nothing runs before it, and the process ends inside it.
#include "frame/lifetime.h"
#include "gate/host_folder.h"
#include "handshake/temp_copy_signal.h"
#include "text/program_location.h"

static void StartRoutine()
{
    InitProgramLocation();
    InitGlobals();
    SetExitCleanup(ReleaseGlobals);
    SignalTempCopyStart();
    CheckHostFolder();
}

extern "C" [[noreturn]] void WINAPI ProgramEntry()
{
    StartRoutine();
    EndProgram(0);
}
