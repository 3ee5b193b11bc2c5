// What the program-level tests share: the bytes the program shows and the
// names it uses, folders laid out as the program expects (or not), and a
// traced run that notes the named objects at the moment the program ends.
#pragma once

#include "win/support/debugger.h"
#include "win/support/dialogs.h"
#include "win/support/process.h"
#include "win/support/registry.h"
#include "win/support/scratch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace yytest {

// "提示:"
inline const std::string kNoticeCaption = "\xCC\xE1\xCA\xBE\x3A";
// "请放到YY目录下运行!"
inline const std::string kShortNotice =
    "\xC7\xEB\xB7\xC5\xB5\xBD\x59\x59\xC4\xBF\xC2\xBC\xCF\xC2\xD4\xCB\xD0\xD0\x21";
// "请放到YY目录下运行!-yylauncher.exe这个目录下！"
inline const std::string kLongNotice =
    "\xC7\xEB\xB7\xC5\xB5\xBD\x59\x59\xC4\xBF\xC2\xBC\xCF\xC2\xD4\xCB\xD0\xD0\x21\x2D\x79\x79\x6C\x61\x75\x6E\x63"
    "\x68\x65\x72\x2E\x65\x78\x65\xD5\xE2\xB8\xF6\xC4\xBF\xC2\xBC\xCF\xC2\xA3\xA1";
inline const std::string kLaunchLockName = "yy2";
// "禁止重复运行:"
inline const std::string kGuardEventName = "\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0\x3A";
// "Software\qv\禁止重复运行", whose default value the guard writes.
inline const std::string kGuardKey = "Software\\qv\\\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0";

constexpr UINT kNoticeStyle = MB_TASKMODAL | MB_ICONINFORMATION; // 0x2040
constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR;               // 0x10
constexpr DWORD kEndedByMemory = 0xFFFFFFFF;                     // exit code -1

constexpr char kHostExe[] = "YY.exe";
constexpr char kLauncherExe[] = "yylauncher.exe";
constexpr char kProgramName[] = "yygate.exe";

// Generous bounds for a Wine process to show its box or end; a run that
// takes longer counts as hung.
constexpr DWORD kBoxWait = 30000;
constexpr DWORD kEndWait = 30000;

// What a folder holds beside the program.
struct FolderState {
    bool hostExe;        // "YY.exe"
    bool launcher;       // "yylauncher.exe"
    bool asDirectories;  // both made as directories instead of files
};

// Makes folder `relative` in `scratch` hold the program (a copy of `source`
// named `programName`) and the entries of `state`; returns the program's
// path, empty on failure.
std::string PlaceScene(const ScratchFolder& scratch, const std::string& relative, FolderState state,
                       const std::string& source = ProgramPath(), const std::string& programName = kProgramName);

// Whether a named object exists; the handle opened to look is closed at
// once, so the object's life is not lengthened.
bool EventExists(const std::string& name);
enum class MutexSeen { Missing, HeldByAnother, Free };
MutexSeen LookAtMutex(const std::string& name);

// The calls a traced run records.
std::vector<CallSite> ProgramCallSites();

// A copy of the program under the debugger. When the program calls
// ExitProcess, the state of its named objects is noted while it still runs.
class WatchedRun {
public:
    WatchedRun(const std::string& exe, const StartOptions& options = {});

    TracedRun& Trace() { return run_; }
    bool Started() const { return run_.Started(); }
    DWORD Id() const { return run_.Id(); }
    HANDLE Handle() const { return run_.Handle(); }
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = kEndWait) { return run_.WaitForExit(timeoutMs); }

    struct AtExit {
        bool seen = false;
        DWORD code = 0;                       // ExitProcess's argument
        MutexSeen launchLock = MutexSeen::Missing;
        bool guardEvent = false;
    };
    // Valid once WaitForExit has returned an exit code.
    AtExit Exit() const { return exit_; }

private:
    AtExit exit_;
    TracedRun run_;
};

// A number in hex ("0xFFFFFFFF"), so failed checks of codes read plainly.
std::string Hex(uint64_t value);

// What a run in a given folder leads to.
enum class Outcome { Lock, ShortNotice, LongNotice };

// Checks a message box of the program against the notice it should be:
// caption, text, one OK button, an icon, no owner.
void ExpectNoticeBox(const DialogContents& box, const std::string& notice);

// Checks the program's one MessageBoxA call: no owner, `text`, `caption`,
// uType `style`.
void ExpectOneMessageBoxCall(const TracedRun& run, const std::string& text, const std::string& caption, UINT style);

// The whole notice path of a watched run: the box appears, is read and
// checked, OK is pressed, and the copy ends with exit code 0 without
// having taken the launch lock.
void ExpectNoticeRun(WatchedRun& run, const std::string& notice);

// The whole right-folder path: no window at any moment, no message box, the
// guard never met, the mutex "yy2" created initially owned and still held
// when the copy ends, exit code 0.
void ExpectLockRun(WatchedRun& run);

// ExpectLockRun or ExpectNoticeRun with the notice of `outcome`.
void ExpectOutcome(WatchedRun& run, Outcome outcome);

// Every test starts from a clean slate: its own scratch folder, no guard
// left by another copy, and the guard's registry value put back afterwards.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;

    ScratchFolder scratch_;
    SavedRegistryValue savedGuardValue_{HKEY_CURRENT_USER, kGuardKey, ""};
};

} // namespace yytest
