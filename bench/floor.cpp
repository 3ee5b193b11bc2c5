// The floor of the benchmark: a GUI program that does nothing at all. It is
// built with the program's own compiler and linker options (no runtime, its
// own entry point, the same entry name) and only ends the process, so its
// start-to-exit time and memory are what any such program costs before it
// does anything.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI ProgramEntry()
{
    ExitProcess(0);
}
