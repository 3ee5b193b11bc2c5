// watch-run: starts a program and reports, from outside, what it showed and
// which launch lock it held when it ended.
//
// The program runs as the debuggee of this tool. Once its imports are
// loaded, a breakpoint goes on kernel32's ExitProcess; when the program gets
// there, it stands still while this tool asks whether a mutex named "yy2"
// exists and which windows the program has. Then the original byte is put
// back and the program ends normally. Between debug events the program's
// visible top-level windows are listed as they appear. The report is
// "key: value" lines on stdout, with texts as hex bytes.
#include "../common/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char kLaunchLockName[] = "yy2";
static const DWORD kPollMs = 5;
static const int kMaxWindows = 32;

enum ExitCode {
    kExitWatched = 0,
    kExitUsage = 1,
    kExitStartFailed = 2,
    kExitTimeLimit = 3,
};

static const char kUsage[] =
    "Usage: watch-run [--timeout MS] PROGRAM\n"
    "\n"
    "Starts PROGRAM and reports, as \"key: value\" lines:\n"
    "  yy2_before     whether a mutex named \"yy2\" existed before the start\n"
    "  pid            the process id of the program\n"
    "  window         each visible top-level window the program showed: its\n"
    "                 class, and its caption and message text as hex bytes\n"
    "  yy2_at_exit    whether a mutex named \"yy2\" existed while the program\n"
    "                 stood at its call to ExitProcess\n"
    "  windows_at_exit  how many visible windows it had at that moment\n"
    "  exit_code      the program's exit code\n"
    "\n"
    "  --timeout MS   end the program if it runs longer (default: no limit)\n"
    "\n"
    "Exit codes: 0 watched to its end, 1 wrong usage, 2 the program could not\n"
    "be started, 3 the time limit was reached and the program was ended.\n";

static bool MutexExists(const char* name)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (mutex == nullptr)
        return false;
    CloseHandle(mutex);
    return true;
}

struct WindowList {
    DWORD processId;
    HWND windows[kMaxWindows];
    int count;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    auto* list = reinterpret_cast<WindowList*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == list->processId && IsWindowVisible(window) && list->count < kMaxWindows)
        list->windows[list->count++] = window;
    return TRUE;
}

static void VisibleWindowsOf(DWORD processId, WindowList* list)
{
    list->processId = processId;
    list->count = 0;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(list));
}

// One line per window: class, caption and, for a message box, the text of
// its static control 0xFFFF.
static void ReportWindow(HWND window)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    char caption[512];
    int captionLength = GetWindowTextA(window, caption, sizeof(caption));
    char line[4096];
    std::snprintf(line, sizeof(line), "class \"%s\" caption ", className);
    AppendHex(line, sizeof(line), caption, captionLength > 0 ? static_cast<size_t>(captionLength) : 0);
    if (std::strcmp(className, "#32770") == 0) {
        char text[512];
        UINT textLength = GetDlgItemTextA(window, 0xFFFF, text, sizeof(text));
        std::strncat(line, " text ", sizeof(line) - std::strlen(line) - 1);
        AppendHex(line, sizeof(line), text, textLength);
    }
    Report("window", "%s", line);
}

// Windows are reported once each, in the order they were first seen.
struct SeenWindows {
    HWND windows[kMaxWindows];
    int count = 0;
};

static void ReportNewWindows(DWORD processId, SeenWindows* seen)
{
    WindowList list;
    VisibleWindowsOf(processId, &list);
    for (int i = 0; i < list.count; ++i) {
        bool known = false;
        for (int j = 0; j < seen->count; ++j)
            known = known || seen->windows[j] == list.windows[i];
        if (!known && seen->count < kMaxWindows) {
            seen->windows[seen->count++] = list.windows[i];
            ReportWindow(list.windows[i]);
        }
    }
}

// The breakpoint on ExitProcess. Its address is taken from this tool's own
// kernel32, which the system maps at the same address in every process; the
// first code bytes are compared in the program before the breakpoint goes in.
struct ExitBreakpoint {
    BYTE* address = nullptr;
    BYTE original = 0;
    bool armed = false;
    bool hit = false;
};

static void ArmExitBreakpoint(HANDLE process, ExitBreakpoint* breakpoint)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    auto* address = reinterpret_cast<BYTE*>(GetProcAddress(kernel32, "ExitProcess"));
    BYTE theirs[16];
    SIZE_T got = 0;
    if (address == nullptr || !ReadProcessMemory(process, address, theirs, sizeof(theirs), &got) ||
        got != sizeof(theirs) || std::memcmp(theirs, address, sizeof(theirs)) != 0) {
        Report("note", "ExitProcess could not be watched in the program");
        return;
    }
    static const BYTE kBreak = 0xCC;
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, address, &kBreak, 1, &written) || written != 1) {
        Report("note", "ExitProcess could not be watched in the program");
        return;
    }
    FlushInstructionCache(process, address, 1);
    breakpoint->address = address;
    breakpoint->original = theirs[0];
    breakpoint->armed = true;
}

// The program stands at ExitProcess: look, then let the call run.
static void OnExitBreakpoint(HANDLE process, DWORD processId, DWORD threadId, ExitBreakpoint* breakpoint)
{
    breakpoint->hit = true;
    Report("yy2_at_exit", MutexExists(kLaunchLockName) ? "yes" : "no");
    WindowList list;
    VisibleWindowsOf(processId, &list);
    Report("windows_at_exit", "%d", list.count);

    SIZE_T written = 0;
    WriteProcessMemory(process, breakpoint->address, &breakpoint->original, 1, &written);
    FlushInstructionCache(process, breakpoint->address, 1);
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    if (thread != nullptr) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context);
#ifdef _WIN64
        context.Rip = reinterpret_cast<DWORD64>(breakpoint->address);
#else
        context.Eip = reinterpret_cast<DWORD>(breakpoint->address);
#endif
        SetThreadContext(thread, &context);
        CloseHandle(thread);
    }
    breakpoint->armed = false;
}

int main(int argc, char** argv)
{
    const char* program = nullptr;
    DWORD timeoutMs = INFINITE;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitWatched;
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            char* end = nullptr;
            timeoutMs = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || timeoutMs == INFINITE) {
                std::fputs(kUsage, stdout);
                return kExitUsage;
            }
        } else if (program == nullptr && argv[i][0] != '-') {
            program = argv[i];
        } else {
            std::fputs(kUsage, stdout);
            return kExitUsage;
        }
    }
    if (program == nullptr) {
        std::fputs(kUsage, stdout);
        return kExitUsage;
    }

    Report("yy2_before", MutexExists(kLaunchLockName) ? "yes" : "no");
    char commandLine[MAX_PATH + 3];
    std::snprintf(commandLine, sizeof(commandLine), "\"%s\"", program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &startup, &child)) {
        Report("error", "the program could not be started (error %lu)", GetLastError());
        return kExitStartFailed;
    }
    CloseHandle(child.hThread);
    Report("pid", "%lu", child.dwProcessId);

    ExitBreakpoint breakpoint;
    bool initialBreakSeen = false;
    SeenWindows seen;
    DWORD started = GetTickCount();
    int result = kExitWatched;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, kPollMs)) {
            ReportNewWindows(child.dwProcessId, &seen);
            if (timeoutMs != INFINITE && GetTickCount() - started >= timeoutMs) {
                TerminateProcess(child.hProcess, 1);
                Report("error", "time limit of %lu ms reached: the program was ended", timeoutMs);
                // Serve the remaining events until the exit event.
                timeoutMs = INFINITE;
                result = kExitTimeLimit;
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !initialBreakSeen) {
                // The loader's breakpoint: every import is in place now.
                initialBreakSeen = true;
                ArmExitBreakpoint(child.hProcess, &breakpoint);
            } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && breakpoint.armed &&
                       record.ExceptionAddress == breakpoint.address) {
                ReportNewWindows(child.dwProcessId, &seen);
                OnExitBreakpoint(child.hProcess, child.dwProcessId, event.dwThreadId, &breakpoint);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            if (!breakpoint.hit)
                Report("yy2_at_exit", "unknown (the program did not stop at ExitProcess)");
            Report("exit_code", "%lu (0x%08lX)", event.u.ExitProcess.dwExitCode, event.u.ExitProcess.dwExitCode);
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            CloseHandle(child.hProcess);
            return result;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}
