// A second floor: does nothing, like floor.cpp, but imports the same three
// DLLs as the program (KERNEL32, USER32, ADVAPI32), so that the system loads
// and initialises them at start-up. Set against floor.cpp it shows what
// loading those DLLs costs; set against the program, what the program's own
// steps cost.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI ProgramEntry()
{
    // Never true; the calls are there only so that the imports stay.
    if (GetCommandLineA() == nullptr) {
        IsWindow(nullptr);
        RegCloseKey(nullptr);
    }
    ExitProcess(0);
}
