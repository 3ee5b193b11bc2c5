// ChildProcess: CreateProcessA with the options a test asks for.
#include "win/support/process.h"

#include <cstring>

namespace yytest {

std::string CommandLineFor(const std::string& exe, const std::string& arguments)
{
    std::string line = "\"" + exe + "\"";
    if (!arguments.empty())
        line += " " + arguments;
    return line;
}

static bool SameName(const std::string& entry, const std::string& name)
{
    return entry.size() > name.size() && entry[name.size()] == '=' &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(), static_cast<int>(name.size()),
                          name.data(), static_cast<int>(name.size())) == CSTR_EQUAL;
}

std::vector<char> EnvironmentBlockWith(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<char> block;
    char* current = GetEnvironmentStringsA();
    for (const char* entry = current; entry != nullptr && *entry != '\0'; entry += strlen(entry) + 1) {
        std::string text = entry;
        bool replaced = false;
        for (const auto& change : changes)
            replaced = replaced || SameName(text, change.first);
        if (!replaced)
            block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    if (current != nullptr)
        FreeEnvironmentStringsA(current);
    for (const auto& change : changes) {
        std::string text = change.first + "=" + change.second;
        block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    block.push_back('\0');
    return block;
}

bool CreateProcessWith(const std::string& exe, const StartOptions& options, DWORD flags,
                       PROCESS_INFORMATION* info)
{
    std::string commandLine = CommandLineFor(exe, options.arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (options.showWindow >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(options.showWindow);
    }
    std::vector<char> environment;
    if (!options.environment.empty())
        environment = EnvironmentBlockWith(options.environment);
    *info = {};
    return CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags,
                          environment.empty() ? nullptr : environment.data(),
                          options.currentDirectory.empty() ? nullptr : options.currentDirectory.c_str(),
                          &startup, info) != FALSE;
}

ChildProcess::ChildProcess(const std::string& exe, const StartOptions& options)
{
    PROCESS_INFORMATION info;
    if (CreateProcessWith(exe, options, options.suspended ? CREATE_SUSPENDED : 0, &info)) {
        process_ = info.hProcess;
        thread_ = info.hThread;
        id_ = info.dwProcessId;
    } else {
        startError_ = GetLastError();
    }
}

ChildProcess::~ChildProcess()
{
    Release();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
{
    *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        Release();
        process_ = std::exchange(other.process_, nullptr);
        thread_ = std::exchange(other.thread_, nullptr);
        id_ = std::exchange(other.id_, 0);
        startError_ = std::exchange(other.startError_, 0);
    }
    return *this;
}

void ChildProcess::Release()
{
    Terminate();
    if (thread_ != nullptr)
        CloseHandle(thread_);
    if (process_ != nullptr)
        CloseHandle(process_);
    thread_ = process_ = nullptr;
}

void ChildProcess::Resume()
{
    if (thread_ != nullptr)
        ResumeThread(thread_);
}

bool ChildProcess::IsRunning() const
{
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::WaitForExit(DWORD timeoutMs) const
{
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code))
        return std::nullopt;
    return code;
}

void ChildProcess::Terminate()
{
    if (IsRunning()) {
        TerminateProcess(process_, kTerminatedByTest);
        WaitForSingleObject(process_, 5000);
    }
}

} // namespace yytest
