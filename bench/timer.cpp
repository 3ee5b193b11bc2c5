// bench-timer: starts programs again and again and measures each run from
// inside Windows (or Wine), so that the start-up of this timer itself is not
// counted.
//
// Time: QueryPerformanceCounter, CreateProcessA, WaitForSingleObject on the
// process, QueryPerformanceCounter.
//
// Peak memory: the process is started under this timer as its debugger, with
// a breakpoint on ExitProcess. When the process reaches it, it has done all
// its work but not yet begun to tear down, and GetProcessMemoryInfo gives its
// peak working set and peak pagefile usage so far. (Asked after the process
// has ended, Wine reports zeros, since the process behind the handle is
// gone.) The breakpoint is then taken out and the process goes on to end.
// Memory runs are separate from the timed runs, which run without a debugger.
//
// Cases run interleaved, round by round, so that slow drifts of the machine
// fall on every case alike. Optionally a holder is started first and kept
// running through all rounds: a copy of the program that shows its notice and
// holds the single-instance guard, so that the measured copies take the
// guard's path and end at once.
//
// usage: bench-timer [--runs N] [--memory-runs N] [--warmup N] [--timeout-ms MS]
//                    [--hold EXE DIR] case NAME EXE DIR [case NAME EXE DIR ...]
// Output (stdout), one line a run, tab-separated:
//   time   <case> <round> <microseconds> <exit code>
//   memory <case> <round> <peak working set> <peak pagefile usage> <exit code>
// Rounds below 0 are warm-up runs. Exit code 1 on any failure (a run that
// does not end within the time limit, a start that fails, an exit that the
// memory breakpoint missed), with a message on stderr.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Case {
    std::string name, exe, dir;
};

// "禁止重复运行:" in code page 936: the event that the guard's first copy holds.
const char kGuardEvent[] = "\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0:";

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "bench-timer: %s: %s (error %lu)\n", what, detail.c_str(), GetLastError());
    std::exit(1);
}

PROCESS_INFORMATION Start(const std::string& exe, const std::string& dir, DWORD flags = 0)
{
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        dir.c_str(), &startup, &process))
        Fail("cannot start", exe);
    return process;
}

struct Window {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Window*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && std::strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND DialogOf(DWORD processId)
{
    Window search = {processId, nullptr};
    EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Starts the holder and waits until it holds the guard's event and shows
// its notice: from then on every copy outside the folder ends at the guard.
PROCESS_INFORMATION StartHolder(const std::string& exe, const std::string& dir, DWORD timeoutMs)
{
    HANDLE before = OpenEventA(EVENT_ALL_ACCESS, FALSE, kGuardEvent);
    if (before != nullptr)
        Fail("the guard's event exists before the holder starts", "another copy is running");
    PROCESS_INFORMATION holder = Start(exe, dir);
    CloseHandle(holder.hThread);
    for (DWORD waited = 0;; waited += 20) {
        HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, kGuardEvent);
        if (event != nullptr)
            CloseHandle(event);
        if (event != nullptr && DialogOf(holder.dwProcessId) != nullptr)
            return holder;
        if (WaitForSingleObject(holder.hProcess, 20) == WAIT_OBJECT_0)
            Fail("the holder ended before showing its notice", exe);
        if (waited > timeoutMs) {
            TerminateProcess(holder.hProcess, 1);
            Fail("the holder shows no notice within the time limit", exe);
        }
    }
}

void StopHolder(PROCESS_INFORMATION holder, DWORD timeoutMs)
{
    HWND dialog = DialogOf(holder.dwProcessId);
    if (dialog != nullptr)
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    if (WaitForSingleObject(holder.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(holder.hProcess, 1);
        Fail("the holder did not end after its notice was dismissed", "terminated");
    }
    DWORD code = 0;
    GetExitCodeProcess(holder.hProcess, &code);
    CloseHandle(holder.hProcess);
    std::fprintf(stderr, "bench-timer: holder dismissed, exit code %lu\n", code);
}

void MeasureTime(const Case& target, int round, DWORD timeoutMs, double ticksPerMicrosecond)
{
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    PROCESS_INFORMATION process = Start(target.exe, target.dir);
    DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
    QueryPerformanceCounter(&end);
    CloseHandle(process.hThread);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        Fail("a run did not end within the time limit (a notice shown?)", target.name);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    std::printf("time\t%s\t%d\t%.1f\t%ld\n", target.name.c_str(), round,
                double(end.QuadPart - begin.QuadPart) / ticksPerMicrosecond, long(code));
    std::fflush(stdout);
}

// Where ExitProcess lies: the same address in every process, since system
// DLLs load at the same base everywhere; checked against the child's module
// base when that module loads.
struct ExitBreakpoint {
    BYTE* address;
    BYTE* moduleBase;
    BYTE original;
    bool armed, hit;
};

ExitBreakpoint LocateExitProcess()
{
    ExitBreakpoint breakpoint = {};
    breakpoint.address = reinterpret_cast<BYTE*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitProcess"));
    HMODULE module = nullptr;
    if (breakpoint.address == nullptr ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(breakpoint.address), &module))
        Fail("cannot locate ExitProcess", "kernel32.dll");
    breakpoint.moduleBase = reinterpret_cast<BYTE*>(module);
    breakpoint.original = *breakpoint.address;
    return breakpoint;
}

void Arm(HANDLE process, ExitBreakpoint& breakpoint)
{
    BYTE there = 0;
    const BYTE trap = 0xCC;
    if (!ReadProcessMemory(process, breakpoint.address, &there, 1, nullptr) || there != breakpoint.original ||
        !WriteProcessMemory(process, breakpoint.address, &trap, 1, nullptr))
        Fail("cannot set the breakpoint on ExitProcess", "the child's kernel32 differs");
    FlushInstructionCache(process, breakpoint.address, 1);
    breakpoint.armed = true;
}

// Takes the breakpoint out and sets the thread back onto the original byte.
void Disarm(HANDLE process, HANDLE thread, ExitBreakpoint& breakpoint)
{
    WriteProcessMemory(process, breakpoint.address, &breakpoint.original, 1, nullptr);
    FlushInstructionCache(process, breakpoint.address, 1);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
#ifdef _WIN64
    context.Rip = reinterpret_cast<DWORD64>(breakpoint.address);
#else
    context.Eip = reinterpret_cast<DWORD>(breakpoint.address);
#endif
    SetThreadContext(thread, &context);
    breakpoint.armed = false;
}

void MeasureMemory(const Case& target, int round, DWORD timeoutMs)
{
    PROCESS_INFORMATION process = Start(target.exe, target.dir, DEBUG_ONLY_THIS_PROCESS);
    ExitBreakpoint breakpoint = LocateExitProcess();
    PROCESS_MEMORY_COUNTERS memory = {};
    DWORD code = 0;
    for (bool running = true; running;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, timeoutMs)) {
            TerminateProcess(process.hProcess, 1);
            Fail("a run did not end within the time limit (a notice shown?)", target.name);
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
            if (event.u.LoadDll.lpBaseOfDll == breakpoint.moduleBase && !breakpoint.armed && !breakpoint.hit)
                Arm(process.hProcess, breakpoint);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            bool ours = record.ExceptionCode == EXCEPTION_BREAKPOINT &&
                        record.ExceptionAddress == breakpoint.address && breakpoint.armed;
            if (ours) {
                memory.cb = sizeof memory;
                if (!GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory))
                    Fail("GetProcessMemoryInfo failed", target.name);
                HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
                Disarm(process.hProcess, thread, breakpoint);
                CloseHandle(thread);
                breakpoint.hit = true;
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            code = event.u.ExitProcess.dwExitCode;
            running = false;
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    WaitForSingleObject(process.hProcess, timeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!breakpoint.hit)
        Fail("the process ended without reaching ExitProcess", target.name);
    std::printf("memory\t%s\t%d\t%llu\t%llu\t%ld\n", target.name.c_str(), round,
                static_cast<unsigned long long>(memory.PeakWorkingSetSize),
                static_cast<unsigned long long>(memory.PeakPagefileUsage), long(code));
    std::fflush(stdout);
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: bench-timer [--runs N] [--memory-runs N] [--warmup N] [--timeout-ms MS]\n"
                 "                   [--hold EXE DIR] case NAME EXE DIR [case NAME EXE DIR ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 20, memoryRuns = 0, warmup = 2;
    DWORD timeoutMs = 10000;
    std::string holdExe, holdDir;
    std::vector<Case> cases;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--memory-runs" && i + 1 < argc)
            memoryRuns = std::atoi(argv[++i]);
        else if (arg == "--warmup" && i + 1 < argc)
            warmup = std::atoi(argv[++i]);
        else if (arg == "--timeout-ms" && i + 1 < argc)
            timeoutMs = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--hold" && i + 2 < argc) {
            holdExe = argv[++i];
            holdDir = argv[++i];
        } else if (arg == "case" && i + 3 < argc) {
            cases.push_back({argv[i + 1], argv[i + 2], argv[i + 3]});
            i += 3;
        } else
            return Usage();
    }
    if (cases.empty() || runs < 1)
        return Usage();

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double ticksPerMicrosecond = double(frequency.QuadPart) / 1e6;

    PROCESS_INFORMATION holder = {};
    if (!holdExe.empty())
        holder = StartHolder(holdExe, holdDir, timeoutMs);
    for (int round = -warmup; round < runs; ++round)
        for (const Case& target : cases)
            MeasureTime(target, round, timeoutMs, ticksPerMicrosecond);
    for (int round = 0; round < memoryRuns; ++round)
        for (const Case& target : cases)
            MeasureMemory(target, round, timeoutMs);
    if (!holdExe.empty())
        StopHolder(holder, timeoutMs);
    return 0;
}
