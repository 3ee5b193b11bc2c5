// Where the program's own executable lies: recorded once at start-up, handed
// out as fresh copies afterwards.
#pragma once

#include "text/ansi_text.h"

// Records the run directory (the executable's folder, no trailing backslash)
// and the executable file name from the module path, then makes the run
// directory the current directory. When the module path cannot be had, both
// stay empty and the current directory is left as it was.
void InitProgramLocation();

// New copies of the recorded fields; absent when empty.
AnsiText GetExeFileName();
AnsiText GetRunDirectory();
