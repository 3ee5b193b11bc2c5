// Globals, the exit clean-up slot and the ends of the process.
#include "frame/lifetime.h"

#include "frame/heap.h"

SECURITY_ATTRIBUTES* LockAttributes = nullptr;

static void (*ExitCleanup)() = nullptr;

#ifdef _WIN64
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);
#else
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12);
#endif

// "运行时错误" (D4 CB D0 D0 CA B1 B4 ED CE F3)
static const char kRunTimeErrorTitle[] = "\xD4\xCB\xD0\xD0\xCA\xB1\xB4\xED\xCE\xF3";

// "内存不足：无法分配 %u 字节的内存，程序将退出。" as a wsprintfA format:
// C4 DA B4 E6 B2 BB D7 E3 A3 BA CE DE B7 A8 B7 D6 C5 E4 20 25 75 20 D7 D6 BD
// DA B5 C4 C4 DA B4 E6 A3 AC B3 CC D0 F2 BD AB CD CB B3 F6 A1 A3
static const char kRunTimeErrorFormat[] =
    "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xBA\xCE\xDE\xB7\xA8\xB7\xD6\xC5\xE4"
    " %u "
    "\xD7\xD6\xBD\xDA\xB5\xC4\xC4\xDA\xB4\xE6\xA3\xAC\xB3\xCC\xD0\xF2\xBD\xAB"
    "\xCD\xCB\xB3\xF6\xA1\xA3";

static const UINT kRunTimeErrorStyle = MB_OK | MB_ICONERROR; // 0x10

void InitGlobals()
{
    LockAttributes = static_cast<SECURITY_ATTRIBUTES*>(NewBlock(sizeof(SECURITY_ATTRIBUTES)));
    LockAttributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    LockAttributes->lpSecurityDescriptor = nullptr;
    LockAttributes->bInheritHandle = FALSE;
}

void ReleaseGlobals()
{
    FreeBlock(LockAttributes);
    LockAttributes = nullptr;
}

void SetExitCleanup(void (*routine)())
{
    ExitCleanup = routine;
}

void EndProgram(int exitCode)
{
    // The slot is emptied before the routine runs, so it runs once even if
    // the routine itself were to end the program.
    void (*routine)() = ExitCleanup;
    ExitCleanup = nullptr;
    if (routine != nullptr)
        routine();
    ExitProcess(static_cast<UINT>(exitCode));
}

void ReportRunTimeError(unsigned bytes)
{
    // The longest message is the format with %u grown to ten digits.
    char message[sizeof(kRunTimeErrorFormat) + 10];
    wsprintfA(message, kRunTimeErrorFormat, bytes);
    MessageBoxA(nullptr, message, kRunTimeErrorTitle, kRunTimeErrorStyle);
    ExitCleanup = nullptr;
    ExitProcess(static_cast<UINT>(-1));
}
