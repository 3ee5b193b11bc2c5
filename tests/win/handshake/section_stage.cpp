// The test-owned section and section-owner runs.
#include "section_stage.h"

#include "win/support/process.h"
#include "win/support/scratch.h"

namespace handshake {

static const size_t kPageSize = 4096;

Section::Section()
{
    SetLastError(0);
    handle_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kPageSize, kSectionName);
    if (handle_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        return; // someone else's: left alone, Created() stays false
    view_ = static_cast<volatile unsigned char*>(MapViewOfFile(handle_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kPageSize));
    if (view_ == nullptr)
        return;
    size_ = kPageSize;
    for (size_t offset = 0; offset < size_; ++offset)
        view_[offset] = Pattern(offset);
}

Section::~Section()
{
    if (view_ != nullptr)
        UnmapViewOfFile(const_cast<unsigned char*>(view_));
    if (handle_ != nullptr)
        CloseHandle(handle_);
}

std::string Section::Bytes(size_t count) const
{
    std::string bytes;
    for (size_t i = 0; i < count && i < size_; ++i)
        bytes += static_cast<char>(view_[i]);
    return bytes;
}

size_t Section::FirstChangeFromOffset3() const
{
    for (size_t offset = 3; offset < size_; ++offset)
        if (view_[offset] != Pattern(offset))
            return offset;
    return 0;
}

bool SectionExists()
{
    HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
    if (handle == nullptr)
        return false;
    CloseHandle(handle);
    return true;
}

std::string ToolRun::Value(const std::string& key) const
{
    auto entry = report.find(key);
    return entry == report.end() ? std::string("<absent>") : entry->second;
}

// "key: value" lines; a key is one word.
static void ParseReport(ToolRun* run)
{
    size_t start = 0;
    while (start < run->output.size()) {
        size_t end = run->output.find('\n', start);
        if (end == std::string::npos)
            end = run->output.size();
        std::string line = run->output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(": ");
        if (colon != std::string::npos && colon > 0 && line.find(' ') == colon + 1)
            run->report.emplace(line.substr(0, colon), line.substr(colon + 2));
        start = end + 1;
    }
}

static void Drain(HANDLE pipe, std::string* output)
{
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) || got == 0)
            return;
        output->append(buffer, got);
    }
}

ToolRun RunSectionOwner(const std::vector<std::string>& arguments, DWORD timeoutMs)
{
    ToolRun run;
    std::string tool = yytest::JoinPath(yytest::EnvironmentValue("YYGATE_TOOLS_DIR"), "section-owner.exe");
    std::string quoted;
    for (const std::string& argument : arguments)
        quoted += (quoted.empty() ? "\"" : " \"") + argument + "\"";
    std::string commandLine = yytest::CommandLineFor(tool, quoted);

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessA(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    CloseHandle(info.hThread);

    // The pipe is drained while the tool runs, so a long report never
    // blocks it; a tool that outlives the time is ended.
    DWORD start = GetTickCount();
    for (;;) {
        Drain(readEnd, &run.output);
        if (WaitForSingleObject(info.hProcess, 10) == WAIT_OBJECT_0) {
            Drain(readEnd, &run.output);
            run.finished = true;
            GetExitCodeProcess(info.hProcess, &run.exitCode);
            break;
        }
        if (GetTickCount() - start >= timeoutMs) {
            TerminateProcess(info.hProcess, yytest::kTerminatedByTest);
            WaitForSingleObject(info.hProcess, 5000);
            Drain(readEnd, &run.output);
            break;
        }
    }
    CloseHandle(info.hProcess);
    CloseHandle(readEnd);
    ParseReport(&run);
    return run;
}

} // namespace handshake
