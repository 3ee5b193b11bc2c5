// A small debugger that runs one copy of the program and records the calls
// it makes to chosen exported functions, with their arguments.
//
// The copy is started with DEBUG_ONLY_THIS_PROCESS by a thread of the test
// that then serves its debug events. When a system DLL is mapped into the
// copy, a breakpoint (int3) is written at each chosen export: the address is
// the DLL's base in the copy plus the export's offset in the test's own copy
// of the same DLL (checked: same image size and time stamp, same first code
// bytes). On a hit the x64 argument registers RCX, RDX, R8 and R9 are read,
// with the bytes they point at, while the copy stands still; then the byte
// is put back, the call runs on by one single step, and the breakpoint is
// set again. A handler may look at the system from outside at that moment:
// at ExitProcess, for example, every object the copy holds still exists.
// The copy's own exit code is not touched.
#pragma once

#include "win/support/process.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace yytest {

// An exported function to watch, e.g. {"kernel32.dll", "CreateMutexA"}.
struct CallSite {
    std::string module;
    std::string function;
    // Record only calls whose return address lies in the program's own
    // image; false: every call from anywhere in the process.
    bool programCallsOnly = true;
};

struct TracedCall {
    std::string function;
    uint64_t argument[4] = {};      // RCX, RDX, R8, R9 at the call
    uint64_t returnAddress = 0;
    bool fromProgram = false;       // the caller lies in the program's image
    // For each argument taken as a pointer: whether memory could be read
    // there, the bytes up to the first NUL (at most 1024), and the first 32
    // bytes.
    bool readable[4] = {};
    std::string textAt[4];
    std::string bytesAt[4];
};

class TracedRun {
public:
    using CallHandler = std::function<void(const TracedCall&)>;

    // Starts `exe` under the debugger. `onCall` runs on the debugger thread
    // for every recorded call while the copy is stopped at it.
    TracedRun(const std::string& exe, const StartOptions& options, std::vector<CallSite> sites,
              CallHandler onCall = {});
    ~TracedRun();
    TracedRun(const TracedRun&) = delete;
    TracedRun& operator=(const TracedRun&) = delete;

    bool Started() const;
    DWORD Id() const { return pid_; }
    bool IsRunning() const;
    // The exit code once the copy has ended and its last debug event is
    // served; nothing after `timeoutMs`.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs);
    void Terminate();

    // Problems met: a start that failed, a breakpoint that could not be set.
    std::string Problems() const;
    // "module!function" of each site whose breakpoint was set.
    std::vector<std::string> ArmedSites() const;
    std::vector<TracedCall> Calls() const;
    std::vector<TracedCall> CallsTo(const std::string& function) const;

    // The copy's process handle (owned by the run; valid while it lives).
    HANDLE Handle() const { return process_; }

private:
    struct Breakpoint;
    struct Target;

    void Serve(std::string exe, StartOptions options);
    void PrepareTargets();
    void ArmModule(uint64_t base);
    DWORD OnException(const DEBUG_EVENT& event);
    void OnBreakpoint(Breakpoint& breakpoint, DWORD threadId);
    bool WriteCode(uint64_t address, uint8_t byte);
    void Note(const std::string& problem);

    std::vector<CallSite> sites_;
    CallHandler onCall_;
    std::vector<Target> targets_;
    std::vector<Breakpoint> breakpoints_;
    std::vector<std::pair<DWORD, uint64_t>> rearm_;  // thread, breakpoint address

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    uint64_t imageBase_ = 0;
    uint64_t imageEnd_ = 0;
    bool sawInitialBreak_ = false;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool startDone_ = false;
    bool started_ = false;
    bool finished_ = false;
    std::optional<DWORD> exitCode_;
    bool stopRequested_ = false;
    std::string problems_;
    std::vector<std::string> armed_;
    std::vector<TracedCall> calls_;
    std::thread server_;
};

} // namespace yytest
