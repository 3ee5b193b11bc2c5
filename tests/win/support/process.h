// Starting copies of the program and waiting for their ends.
//
// A ChildProcess owns the process it started: when the object goes, a copy
// that is still running is terminated, so a failed test leaves nothing
// behind. Every wait takes a timeout.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace yytest {

struct StartOptions {
    // What follows the quoted program path on the command line.
    std::string arguments;
    // The current directory of the new process; empty: the test's own.
    std::string currentDirectory;
    // STARTUPINFO wShowWindow (SW_HIDE, SW_MINIMIZE, ...); -1: not given.
    int showWindow = -1;
    // Variables added to (or replacing those of) the test's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // Start with the main thread suspended; Resume() lets it run.
    bool suspended = false;
};

// The exit code of a process ended by the test itself.
constexpr DWORD kTerminatedByTest = 0xDEAD;

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const std::string& exe, const StartOptions& options);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    // GetLastError of a failed CreateProcessA.
    DWORD StartError() const { return startError_; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }

    void Resume();
    bool IsRunning() const;
    // The exit code, or nothing when the process is still running after
    // `timeoutMs`.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const;
    // Ends the process (exit code kTerminatedByTest) if it still runs.
    void Terminate();

private:
    void Release();

    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

// CreateProcessA for `exe` with the options' arguments, current directory,
// show-window request and environment, and the creation `flags`
// (`options.suspended` is left to the caller's flags).
bool CreateProcessWith(const std::string& exe, const StartOptions& options, DWORD flags,
                       PROCESS_INFORMATION* info);

// The command line CreateProcessA gets: the quoted path, then the arguments.
std::string CommandLineFor(const std::string& exe, const std::string& arguments);

// An ANSI environment block: the test's environment with `changes` applied.
std::vector<char> EnvironmentBlockWith(const std::vector<std::pair<std::string, std::string>>& changes);

} // namespace yytest
