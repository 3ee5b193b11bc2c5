// section-owner: the process on the other side of the start signal.
//
// It creates the shared-memory section that a temporary copy of yygate
// writes to, fills its page with a pattern that holds no zero byte, copies
// the program to a temporary file name, starts that copy and watches the
// first three bytes of the section until they turn to zero. Then it reports,
// as "key: value" lines on stdout, what it saw, ends or waits for the copy
// and removes the file it made. Every failure has its own exit code.
#include "../common/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// "Ｌｕｍｅｎ－ＴＱ" in code page 936.
static const char kSectionName[] =
    "\xA3\xCC\xA3\xF5\xA3\xED\xA3\xE5\xA3\xEE\xA3\xAD\xA3\xD4\xA3\xD1";
static_assert(sizeof(kSectionName) - 1 == 16);

static const char kDefaultProgram[] = "yygate.exe";
static const char kDefaultCopyName[] = "yygate.tmp";
static const DWORD kDefaultSignalWaitMs = 10000;
static const size_t kSignalBytes = 3;
static const size_t kShownBytes = 8;

enum ExitCode {
    kExitSignalled = 0,
    kExitUsage = 1,
    kExitNoProgram = 2,
    kExitNameTaken = 3,
    kExitNoSection = 4,
    kExitCopyFailed = 5,
    kExitStartFailed = 6,
    kExitTimeLimit = 7,
    kExitEndedWithoutSignal = 8,
    kExitPageChanged = 9,
    kExitNotRemoved = 10,
};

static const char kUsage[] =
    "Usage: section-owner [options] [PROGRAM]\n"
    "\n"
    "Creates the shared-memory section named by the 16 bytes\n"
    "A3 CC A3 F5 A3 ED A3 E5 A3 EE A3 AD A3 D4 A3 D1 (\"Lumen-TQ\" in full-width\n"
    "letters, code page 936), one page filled with 01 02 03 ... FF 01 02 ...,\n"
    "copies PROGRAM to a temporary file, starts the copy and waits until it sets\n"
    "the first three bytes of the section to zero. Then it waits for the copy to\n"
    "end, removes the copy and reports what it saw as \"key: value\" lines.\n"
    "\n"
    "  PROGRAM            the program to copy (default: yygate.exe beside this\n"
    "                     tool, else in the folder above it)\n"
    "  --dir FOLDER       folder for the copy (default: the folder of PROGRAM)\n"
    "  --name NAME        file name of the copy (default: yygate.tmp); a name\n"
    "                     that does not end in .tmp gives no signal\n"
    "  --signal-wait MS   time limit for the signal (default: 10000)\n"
    "  --exit-wait MS     how long to wait for the copy to end: milliseconds,\n"
    "                     0 for not at all, or \"forever\" (default). A copy\n"
    "                     outside the YY folder shows a notice and runs until\n"
    "                     the notice is dismissed.\n"
    "  --leave-running    a copy still running after the exit wait is left\n"
    "                     running and its file kept (default: end it, remove it)\n"
    "  --help             this text\n"
    "\n"
    "signal_time_us counts from the CreateProcess call that starts the copy to\n"
    "the moment the three zero bytes were seen.\n"
    "\n"
    "Exit codes:\n"
    "   0  the signal came and the bytes from offset 3 on are unchanged\n"
    "   1  wrong usage\n"
    "   2  no program to copy\n"
    "   3  the section name is taken (by a section or another kind of object)\n"
    "   4  the section could not be created or mapped\n"
    "   5  the copy could not be made\n"
    "   6  the copy could not be started\n"
    "   7  time limit reached: no signal\n"
    "   8  the copy ended without giving the signal\n"
    "   9  the signal came but bytes from offset 3 on changed\n"
    "  10  the copy could not be removed\n";

struct Options {
    const char* program = nullptr;
    const char* folder = nullptr;
    const char* copyName = kDefaultCopyName;
    DWORD signalWaitMs = kDefaultSignalWaitMs;
    DWORD exitWaitMs = INFINITE;
    bool leaveRunning = false;
};

// Paths may hold code page 936 bytes; the report stays ASCII.
static void ReportPath(const char* key, const char* path)
{
    char shown[4 * MAX_PATH + 1];
    size_t out = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
         *p != 0 && out + 5 < sizeof(shown); ++p) {
        if (*p >= 0x20 && *p < 0x7F)
            shown[out++] = static_cast<char>(*p);
        else
            out += std::snprintf(shown + out, sizeof(shown) - out, "\\x%02X", *p);
    }
    shown[out] = '\0';
    Report(key, "%s", shown);
}

static int Fail(int code, const char* format, ...)
{
    std::printf("error: ");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    Report("exit_code", "%d", code);
    return code;
}

static bool ParseMilliseconds(const char* text, bool foreverAllowed, DWORD* value)
{
    if (foreverAllowed && std::strcmp(text, "forever") == 0) {
        *value = INFINITE;
        return true;
    }
    char* end = nullptr;
    unsigned long parsed = std::strtoul(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || parsed >= INFINITE)
        return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

static bool ParseOptions(int argc, char** argv, Options* options, bool* help)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0) {
            *help = true;
        } else if (std::strcmp(arg, "--dir") == 0 && hasValue) {
            options->folder = argv[++i];
        } else if (std::strcmp(arg, "--name") == 0 && hasValue) {
            options->copyName = argv[++i];
        } else if (std::strcmp(arg, "--signal-wait") == 0 && hasValue) {
            if (!ParseMilliseconds(argv[++i], false, &options->signalWaitMs))
                return false;
        } else if (std::strcmp(arg, "--exit-wait") == 0 && hasValue) {
            if (!ParseMilliseconds(argv[++i], true, &options->exitWaitMs))
                return false;
        } else if (std::strcmp(arg, "--leave-running") == 0) {
            options->leaveRunning = true;
        } else if (arg[0] == '-' && arg[1] == '-') {
            return false;
        } else if (options->program == nullptr) {
            options->program = arg;
        } else {
            return false;
        }
    }
    return options->copyName[0] != '\0';
}

// Position of the last path separator, or -1. The trail byte of a
// double-byte character may be 0x5C and is not a separator.
static int LastSeparator(const char* path)
{
    int last = -1;
    for (int i = 0; path[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i]))) {
            if (path[i + 1] == '\0')
                break;
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            last = i;
        }
    }
    return last;
}

// The folder part of a full path, without its final separator.
static void FolderOf(const char* path, char* folder, size_t size)
{
    std::snprintf(folder, size, "%s", path);
    int split = LastSeparator(folder);
    folder[split < 0 ? 0 : split] = '\0';
}

static bool IsFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program to copy as a full path: the one given, or yygate.exe beside
// this tool or in the folder above it (the layout of the build tree).
static bool FindProgram(const char* given, char* path, size_t size)
{
    if (given != nullptr)
        return GetFullPathNameA(given, static_cast<DWORD>(size), path, nullptr) - 1 < size - 1 && IsFile(path);

    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
    if (length == 0 || length >= sizeof(self))
        return false;
    char folder[MAX_PATH];
    FolderOf(self, folder, sizeof(folder));
    std::snprintf(path, size, "%s\\%s", folder, kDefaultProgram);
    if (IsFile(path))
        return true;
    char parent[MAX_PATH];
    FolderOf(folder, parent, sizeof(parent));
    std::snprintf(path, size, "%s\\%s", parent, kDefaultProgram);
    if (IsFile(path))
        return true;
    std::snprintf(path, size, "%s\\%s", folder, kDefaultProgram);
    return false;
}

// The page size: the section is one page, and the rest of it is checked.
static SIZE_T PageSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// 01 02 ... FF 01 02 ...: no zero anywhere, so a signal cannot be mistaken
// for the pattern and a stray write shows.
static BYTE PatternByte(SIZE_T offset)
{
    return static_cast<BYTE>(offset % 255 + 1);
}

static bool SignalSeen(const volatile BYTE* page)
{
    return page[0] == 0 && page[1] == 0 && page[2] == 0;
}

// The first offset from 3 on that no longer holds the pattern, or 0.
static SIZE_T FirstChangedOffset(const volatile BYTE* page, SIZE_T size)
{
    for (SIZE_T offset = kSignalBytes; offset < size; ++offset)
        if (page[offset] != PatternByte(offset))
            return offset;
    return 0;
}

static LONGLONG Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

enum class SignalOutcome { Seen, TimeLimit, CopyEnded };

// Watches the first three bytes until they are zero, the copy ends or the
// time limit passes. The bytes are read in a tight loop that yields the
// processor between reads; whether the copy has ended is asked about once a
// millisecond.
static SignalOutcome WaitForSignal(const volatile BYTE* page, HANDLE process, LARGE_INTEGER started,
                                   DWORD limitMs, LARGE_INTEGER* seenAt)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG limit = static_cast<LONGLONG>(limitMs) * 1000;
    LONGLONG nextProcessCheck = 0;
    for (;;) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if (SignalSeen(page)) {
            *seenAt = now;
            return SignalOutcome::Seen;
        }
        LONGLONG elapsed = Microseconds(started, now, frequency);
        if (elapsed >= nextProcessCheck) {
            nextProcessCheck = elapsed + 1000;
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
                // The copy may have written just before it ended.
                QueryPerformanceCounter(seenAt);
                return SignalSeen(page) ? SignalOutcome::Seen : SignalOutcome::CopyEnded;
            }
        }
        if (elapsed >= limit)
            return SignalOutcome::TimeLimit;
        SwitchToThread();
    }
}

// Waits for the copy as the options say; ends it when it is still running
// and may not be left. Reports what happened; true when it is no longer
// running.
static bool FinishCopy(HANDLE process, const Options& options)
{
    if (options.exitWaitMs == INFINITE)
        Report("note", "waiting for the copy to end (a copy outside the YY folder waits for its notice to be dismissed)");
    if (WaitForSingleObject(process, options.exitWaitMs) != WAIT_OBJECT_0) {
        if (options.leaveRunning) {
            Report("copy_state", "still running after %lu ms, left running", options.exitWaitMs);
            return false;
        }
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        Report("copy_state", "still running after %lu ms, ended by section-owner", options.exitWaitMs);
        return true;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    Report("copy_state", "ended");
    Report("copy_exit_code", "%lu (0x%08lX)", exitCode, exitCode);
    return true;
}

// Wine and Windows may hold an image file for a moment after its process
// has ended, so removal is retried for up to a second.
static bool RemoveCopy(const char* path)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        Sleep(50);
    }
    return false;
}

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (!ParseOptions(argc, argv, &options, &help)) {
        std::fputs(kUsage, stdout);
        return Fail(kExitUsage, "wrong usage");
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    char program[MAX_PATH];
    if (!FindProgram(options.program, program, sizeof(program))) {
        ReportPath("program", options.program != nullptr ? options.program : program);
        return Fail(kExitNoProgram, "no program to copy: the file does not exist");
    }
    ReportPath("program", program);

    char folder[MAX_PATH];
    if (options.folder != nullptr)
        std::snprintf(folder, sizeof(folder), "%s", options.folder);
    else
        FolderOf(program, folder, sizeof(folder));
    char copy[MAX_PATH];
    if (std::snprintf(copy, sizeof(copy), "%s\\%s", folder, options.copyName) >= static_cast<int>(sizeof(copy)))
        return Fail(kExitCopyFailed, "copy failed: the path of the copy is too long");
    ReportPath("copy", copy);

    SIZE_T pageSize = PageSize();
    Report("section_name", "A3 CC A3 F5 A3 ED A3 E5 A3 EE A3 AD A3 D4 A3 D1");
    SetLastError(0);
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(pageSize), kSectionName);
    DWORD sectionError = GetLastError();
    if (section != nullptr && sectionError == ERROR_ALREADY_EXISTS) {
        CloseHandle(section);
        return Fail(kExitNameTaken, "section name taken: a section of this name exists already");
    }
    if (section == nullptr && sectionError == ERROR_INVALID_HANDLE)
        return Fail(kExitNameTaken, "section name taken: another kind of object has this name");
    if (section == nullptr)
        return Fail(kExitNoSection, "section could not be created (error %lu)", sectionError);
    auto* page = static_cast<volatile BYTE*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, pageSize));
    if (page == nullptr)
        return Fail(kExitNoSection, "section could not be mapped (error %lu)", GetLastError());
    for (SIZE_T offset = 0; offset < pageSize; ++offset)
        page[offset] = PatternByte(offset);
    Report("section_size", "%lu", static_cast<unsigned long>(pageSize));
    ReportHex("bytes_before", page, kShownBytes);

    // An existing file is never overwritten: it is not this tool's to remove.
    if (!CopyFileA(program, copy, TRUE)) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return Fail(kExitCopyFailed, "copy failed: the file exists already");
        return Fail(kExitCopyFailed, "copy failed (error %lu)", error);
    }

    char commandLine[MAX_PATH + 3];
    std::snprintf(commandLine, sizeof(commandLine), "\"%s\"", copy);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!CreateProcessA(copy, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        DWORD error = GetLastError();
        RemoveCopy(copy);
        return Fail(kExitStartFailed, "start failed: the copy could not be started (error %lu)", error);
    }
    CloseHandle(child.hThread);
    Report("copy_pid", "%lu", child.dwProcessId);

    LARGE_INTEGER seenAt;
    SignalOutcome outcome = WaitForSignal(page, child.hProcess, started, options.signalWaitMs, &seenAt);
    int result = kExitSignalled;
    if (outcome == SignalOutcome::Seen) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        Report("signal", "yes");
        Report("signal_time_us", "%lld", Microseconds(started, seenAt, frequency));
    } else if (outcome == SignalOutcome::TimeLimit) {
        Report("signal", "no");
        result = kExitTimeLimit;
    } else {
        Report("signal", "no");
        result = kExitEndedWithoutSignal;
    }

    bool ended = FinishCopy(child.hProcess, options);
    CloseHandle(child.hProcess);

    // Read once the copy is done with the section (or left running).
    ReportHex("bytes_after", page, kShownBytes);
    SIZE_T changed = FirstChangedOffset(page, pageSize);
    if (changed == 0) {
        Report("rest_unchanged", "yes");
    } else {
        Report("rest_unchanged", "no, first change at offset %lu", static_cast<unsigned long>(changed));
        if (result == kExitSignalled)
            result = kExitPageChanged;
    }

    if (!ended) {
        Report("copy_removed", "no, the copy is still running");
    } else if (RemoveCopy(copy)) {
        Report("copy_removed", "yes");
    } else {
        Report("copy_removed", "no (error %lu)", GetLastError());
        if (result == kExitSignalled)
            result = kExitNotRemoved;
    }
    UnmapViewOfFile(const_cast<BYTE*>(page));
    CloseHandle(section);

    switch (result) {
    case kExitTimeLimit:
        return Fail(result, "time limit reached: no signal within %lu ms", options.signalWaitMs);
    case kExitEndedWithoutSignal:
        return Fail(result, "the copy ended without giving the signal");
    case kExitPageChanged:
        return Fail(result, "the signal came, but bytes from offset 3 on changed");
    case kExitNotRemoved:
        return Fail(result, "the copy could not be removed");
    default:
        Report("exit_code", "0");
        return 0;
    }
}
