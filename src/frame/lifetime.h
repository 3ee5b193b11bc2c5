// The program's lifetime: its one global record, the exit clean-up slot and
// the three ways a run ends (StartRoutine returns, EndProgram, or
// ReportRunTimeError when memory runs out).
#pragma once

#include <windows.h>

// The security attributes of the launch lock: 12 bytes on the 32-bit build,
// default security, not inherited. Created by InitGlobals, released by
// ReleaseGlobals from the exit clean-up slot.
extern SECURITY_ATTRIBUTES* LockAttributes;

void InitGlobals();
void ReleaseGlobals();

// Puts the routine into the exit clean-up slot (it holds one at most).
void SetExitCleanup(void (*routine)());

// Runs the clean-up routine, if any, then ends the process with `exitCode`.
[[noreturn]] void EndProgram(int exitCode);

// Tells the user that `bytes` bytes of memory were refused and ends the
// process with -1, leaving the clean-up routine unrun.
[[noreturn]] void ReportRunTimeError(unsigned bytes);
