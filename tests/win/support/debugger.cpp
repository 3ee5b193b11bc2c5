// TracedRun: the debug-event loop, the breakpoints and the recorded calls.
#include "win/support/debugger.h"

#include <chrono>
#include <cstring>

namespace yytest {

static const uint8_t kInt3 = 0xCC;
static const DWORD kTrapFlag = 0x100;
static const size_t kCodeCheckBytes = 16;
static const size_t kTextLimit = 1024;
static const size_t kBytesKept = 32;

struct TracedRun::Target {
    CallSite site;
    std::string exportName;    // the DLL's own name from its export directory
    uint64_t offset = 0;       // of the function within that DLL
    uint32_t imageSize = 0;
    uint32_t timeStamp = 0;
    uint8_t code[kCodeCheckBytes] = {};
};

struct TracedRun::Breakpoint {
    const Target* target;
    uint64_t address;
    uint8_t original;
};

// Reads `size` bytes at `address` of `process`; the test's own process when
// `process` is null.
static bool ReadMemory(HANDLE process, uint64_t address, void* into, size_t size)
{
    if (process == nullptr) {
        std::memcpy(into, reinterpret_cast<const void*>(address), size);
        return true;
    }
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), into, size, &got) && got == size;
}

// Name, size and time stamp of the PE image at `base`.
struct ImageFacts {
    std::string exportName;
    uint32_t imageSize = 0;
    uint32_t timeStamp = 0;
};

static bool ReadImageFacts(HANDLE process, uint64_t base, ImageFacts* facts)
{
    IMAGE_DOS_HEADER dos;
    if (!ReadMemory(process, base, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    IMAGE_NT_HEADERS64 nt;
    if (!ReadMemory(process, base + static_cast<uint64_t>(dos.e_lfanew), &nt, sizeof(nt)) ||
        nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return false;
    facts->imageSize = nt.OptionalHeader.SizeOfImage;
    facts->timeStamp = nt.FileHeader.TimeDateStamp;
    facts->exportName.clear();
    const IMAGE_DATA_DIRECTORY& exports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exports.VirtualAddress == 0)
        return true;
    IMAGE_EXPORT_DIRECTORY directory;
    if (!ReadMemory(process, base + exports.VirtualAddress, &directory, sizeof(directory)))
        return false;
    char name[64];
    for (size_t i = 0; i < sizeof(name); ++i) {
        if (!ReadMemory(process, base + directory.Name + i, &name[i], 1))
            return false;
        if (name[i] == '\0') {
            facts->exportName = name;
            break;
        }
    }
    return true;
}

static bool SameName(const std::string& a, const std::string& b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

TracedRun::TracedRun(const std::string& exe, const StartOptions& options, std::vector<CallSite> sites,
                     CallHandler onCall)
    : sites_(std::move(sites)), onCall_(std::move(onCall))
{
    PrepareTargets();
    server_ = std::thread(&TracedRun::Serve, this, exe, options);
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::seconds(30), [this] { return startDone_; });
}

TracedRun::~TracedRun()
{
    Terminate();
    {
        std::unique_lock<std::mutex> hold(lock_);
        stopRequested_ = true;
    }
    if (server_.joinable())
        server_.join();
    if (process_ != nullptr)
        CloseHandle(process_);
}

// Where each site lies in the test's own copy of its DLL.
void TracedRun::PrepareTargets()
{
    for (const CallSite& site : sites_) {
        HMODULE module = LoadLibraryA(site.module.c_str());
        FARPROC function = module != nullptr ? GetProcAddress(module, site.function.c_str()) : nullptr;
        HMODULE holder = nullptr;
        if (function == nullptr ||
            !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(function), &holder)) {
            Note("cannot find " + site.module + "!" + site.function + " in the test process");
            continue;
        }
        ImageFacts facts;
        uint64_t base = reinterpret_cast<uint64_t>(holder);
        if (!ReadImageFacts(nullptr, base, &facts) || facts.exportName.empty()) {
            Note("cannot read the image holding " + site.function);
            continue;
        }
        Target target;
        target.site = site;
        target.exportName = facts.exportName;
        target.offset = reinterpret_cast<uint64_t>(function) - base;
        target.imageSize = facts.imageSize;
        target.timeStamp = facts.timeStamp;
        std::memcpy(target.code, reinterpret_cast<const void*>(function), kCodeCheckBytes);
        targets_.push_back(target);
    }
}

bool TracedRun::Started() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return started_;
}

bool TracedRun::IsRunning() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return started_ && !finished_;
}

std::optional<DWORD> TracedRun::WaitForExit(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return finished_; });
    return finished_ ? exitCode_ : std::nullopt;
}

void TracedRun::Terminate()
{
    std::unique_lock<std::mutex> hold(lock_);
    if (!started_ || finished_)
        return;
    TerminateProcess(process_, kTerminatedByTest);
    changed_.wait_for(hold, std::chrono::seconds(10), [this] { return finished_; });
}

std::string TracedRun::Problems() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return problems_;
}

std::vector<std::string> TracedRun::ArmedSites() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return armed_;
}

std::vector<TracedCall> TracedRun::Calls() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
}

std::vector<TracedCall> TracedRun::CallsTo(const std::string& function) const
{
    std::vector<TracedCall> matching;
    for (const TracedCall& call : Calls())
        if (call.function == function)
            matching.push_back(call);
    return matching;
}

void TracedRun::Note(const std::string& problem)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!problems_.empty())
        problems_ += "; ";
    problems_ += problem;
}

// The debugger thread: starts the copy, then serves its events until it
// has ended. Debug events go to the thread that created the process, so
// everything that touches the copy's threads happens here.
void TracedRun::Serve(std::string exe, StartOptions options)
{
    PROCESS_INFORMATION info;
    bool created = CreateProcessWith(exe, options, DEBUG_ONLY_THIS_PROCESS, &info);
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> hold(lock_);
        startDone_ = true;
        if (created) {
            started_ = true;
            process_ = info.hProcess;
            pid_ = info.dwProcessId;
            CloseHandle(info.hThread);
        } else {
            problems_ += "CreateProcessA failed with error " + std::to_string(error);
        }
    }
    changed_.notify_all();
    if (!created)
        return;

    auto lastEvent = std::chrono::steady_clock::now();
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 100)) {
            // A copy that neither ends nor reports anything for a long time
            // is ended, so the test can never hang on it.
            bool stop;
            {
                std::lock_guard<std::mutex> hold(lock_);
                stop = stopRequested_;
            }
            if (stop || std::chrono::steady_clock::now() - lastEvent > std::chrono::minutes(2))
                TerminateProcess(process_, kTerminatedByTest);
            continue;
        }
        lastEvent = std::chrono::steady_clock::now();
        DWORD status = DBG_CONTINUE;
        bool ended = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            imageBase_ = reinterpret_cast<uint64_t>(event.u.CreateProcessInfo.lpBaseOfImage);
            ImageFacts facts;
            if (ReadImageFacts(process_, imageBase_, &facts))
                imageEnd_ = imageBase_ + facts.imageSize;
            if (event.u.CreateProcessInfo.hFile != nullptr)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            ArmModule(reinterpret_cast<uint64_t>(event.u.LoadDll.lpBaseOfDll));
            if (event.u.LoadDll.hFile != nullptr)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            status = OnException(event);
            break;
        case EXIT_PROCESS_DEBUG_EVENT: {
            std::lock_guard<std::mutex> hold(lock_);
            exitCode_ = event.u.ExitProcess.dwExitCode;
            ended = true;
            break;
        }
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (ended)
            break;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        finished_ = true;
    }
    changed_.notify_all();
}

// Sets the breakpoints that fall into the DLL just mapped at `base`.
void TracedRun::ArmModule(uint64_t base)
{
    ImageFacts facts;
    if (!ReadImageFacts(process_, base, &facts) || facts.exportName.empty())
        return;
    for (const Target& target : targets_) {
        if (!SameName(target.exportName, facts.exportName))
            continue;
        std::string label = target.site.module + "!" + target.site.function;
        if (facts.imageSize != target.imageSize || facts.timeStamp != target.timeStamp) {
            Note(label + ": the copy's " + facts.exportName + " differs from the test's");
            continue;
        }
        uint64_t address = base + target.offset;
        uint8_t code[kCodeCheckBytes];
        if (!ReadMemory(process_, address, code, sizeof(code)) || std::memcmp(code, target.code, sizeof(code)) != 0) {
            Note(label + ": unexpected code at the breakpoint address");
            continue;
        }
        if (!WriteCode(address, kInt3)) {
            Note(label + ": cannot write the breakpoint");
            continue;
        }
        breakpoints_.push_back(Breakpoint{&target, address, code[0]});
        std::lock_guard<std::mutex> hold(lock_);
        armed_.push_back(label);
    }
}

bool TracedRun::WriteCode(uint64_t address, uint8_t byte)
{
    void* at = reinterpret_cast<void*>(address);
    DWORD oldProtection = 0;
    bool unprotected = VirtualProtectEx(process_, at, 1, PAGE_EXECUTE_READWRITE, &oldProtection) != 0;
    SIZE_T written = 0;
    bool ok = WriteProcessMemory(process_, at, &byte, 1, &written) && written == 1;
    if (unprotected)
        VirtualProtectEx(process_, at, 1, oldProtection, &oldProtection);
    FlushInstructionCache(process_, at, 1);
    return ok;
}

DWORD TracedRun::OnException(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    uint64_t at = reinterpret_cast<uint64_t>(record.ExceptionAddress);
    if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
        for (Breakpoint& breakpoint : breakpoints_) {
            // The reported address is the int3 itself; accept the byte after
            // it too, in case a system reports where execution stopped.
            if (breakpoint.address == at || breakpoint.address + 1 == at) {
                OnBreakpoint(breakpoint, event.dwThreadId);
                return DBG_CONTINUE;
            }
        }
        if (!sawInitialBreak_) {
            sawInitialBreak_ = true; // the loader's breakpoint for a new debuggee
            return DBG_CONTINUE;
        }
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    if (record.ExceptionCode == EXCEPTION_SINGLE_STEP) {
        for (auto it = rearm_.begin(); it != rearm_.end(); ++it) {
            if (it->first == event.dwThreadId) {
                WriteCode(it->second, kInt3);
                rearm_.erase(it);
                return DBG_CONTINUE;
            }
        }
    }
    return DBG_EXCEPTION_NOT_HANDLED;
}

// Reads what argument `value` points at, if it points at readable memory.
static void ReadPointedBytes(HANDLE process, uint64_t value, bool* readable, std::string* text, std::string* bytes)
{
    *readable = false;
    if (value < 0x10000)
        return;
    char chunk[64];
    bool ended = false;
    uint64_t at = value;
    while (!ended && text->size() < kTextLimit) {
        // Chunks never cross a page: each read stops at a 64-byte boundary.
        size_t size = sizeof(chunk) - static_cast<size_t>(at % sizeof(chunk));
        if (!ReadMemory(process, at, chunk, size))
            break;
        *readable = true;
        for (size_t i = 0; i < size; ++i) {
            if (bytes->size() < kBytesKept)
                bytes->push_back(chunk[i]);
            if (!ended && chunk[i] == '\0')
                ended = true;
            else if (!ended)
                text->push_back(chunk[i]);
        }
        at += size;
    }
    if (bytes->size() < kBytesKept && *readable) {
        char more[kBytesKept];
        size_t missing = kBytesKept - bytes->size();
        if (ReadMemory(process, at, more, missing))
            bytes->append(more, missing);
    }
}

void TracedRun::OnBreakpoint(Breakpoint& breakpoint, DWORD threadId)
{
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (thread == nullptr) {
        Note("cannot open a thread that hit " + breakpoint.target->site.function);
        WriteCode(breakpoint.address, breakpoint.original);
        return;
    }
    alignas(16) CONTEXT context;
    std::memset(&context, 0, sizeof(context));
    context.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &context)) {
        Note("cannot read the context at " + breakpoint.target->site.function);
        WriteCode(breakpoint.address, breakpoint.original);
        CloseHandle(thread);
        return;
    }

    TracedCall call;
    call.function = breakpoint.target->site.function;
    call.argument[0] = context.Rcx;
    call.argument[1] = context.Rdx;
    call.argument[2] = context.R8;
    call.argument[3] = context.R9;
    ReadMemory(process_, context.Rsp, &call.returnAddress, sizeof(call.returnAddress));
    call.fromProgram = call.returnAddress >= imageBase_ && call.returnAddress < imageEnd_;
    if (call.fromProgram || !breakpoint.target->site.programCallsOnly) {
        for (int i = 0; i < 4; ++i)
            ReadPointedBytes(process_, call.argument[i], &call.readable[i], &call.textAt[i], &call.bytesAt[i]);
        {
            std::lock_guard<std::mutex> hold(lock_);
            calls_.push_back(call);
        }
        if (onCall_)
            onCall_(call);
    }

    // Run the real instruction once, then set the breakpoint again.
    WriteCode(breakpoint.address, breakpoint.original);
    context.Rip = breakpoint.address;
    context.EFlags |= kTrapFlag;
    if (SetThreadContext(thread, &context))
        rearm_.emplace_back(threadId, breakpoint.address);
    else
        Note("cannot step over " + breakpoint.target->site.function);
    CloseHandle(thread);
}

} // namespace yytest
