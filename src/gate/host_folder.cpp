// The host-folder check, the launch lock and the two notices.
//
// "YY.exe" is looked for beside the executable, "yylauncher.exe" by its bare
// name in the current directory (which start-up made the executable's
// folder). A run in the right folder looks for "YY.exe" once more just before
// it takes the lock.
#include "gate/host_folder.h"

#include "frame/lifetime.h"
#include "gate/repeat_run.h"
#include "text/ansi_text.h"
#include "text/file_exists.h"
#include "text/program_location.h"

static const char kHostExeSuffix[] = "\\YY.exe";         // 5C 59 59 2E 65 78 65
static const char kLauncherName[] = "yylauncher.exe";    // 79 79 6C 61 75 6E 63 68 65 72 2E 65 78 65
static const char kLaunchLockName[] = "yy2";             // 79 79 32

// "提示:" (CC E1 CA BE 3A)
static const char kNoticeTitle[] = "\xCC\xE1\xCA\xBE:";

// "请放到YY目录下运行!" (C7 EB B7 C5 B5 BD 59 59 C4 BF C2 BC CF C2 D4 CB D0 D0 21),
// shown when "YY.exe" is missing.
static const char kShortNotice[] =
    "\xC7\xEB\xB7\xC5\xB5\xBD" "YY" "\xC4\xBF\xC2\xBC\xCF\xC2\xD4\xCB\xD0\xD0" "!";

// "请放到YY目录下运行!-yylauncher.exe这个目录下！": the short notice, then
// 2D, "yylauncher.exe", D5 E2 B8 F6 C4 BF C2 BC CF C2 A3 A1; shown when
// "yylauncher.exe" is missing.
static const char kLongNotice[] =
    "\xC7\xEB\xB7\xC5\xB5\xBD" "YY" "\xC4\xBF\xC2\xBC\xCF\xC2\xD4\xCB\xD0\xD0" "!"
    "-yylauncher.exe"
    "\xD5\xE2\xB8\xF6\xC4\xBF\xC2\xBC\xCF\xC2\xA3\xA1";

static_assert(sizeof(kHostExeSuffix) - 1 == 7);
static_assert(sizeof(kLauncherName) - 1 == 14);
static_assert(sizeof(kNoticeTitle) - 1 == 5);
static_assert(sizeof(kShortNotice) - 1 == 19);
static_assert(sizeof(kLongNotice) - 1 == 46);

static const UINT kNoticeStyle = MB_OK | MB_ICONINFORMATION; // 64

static int HostExeExists()
{
    AnsiText runDirectory = GetRunDirectory();
    AnsiText path = ConcatText(runDirectory, kHostExeSuffix);
    ReleaseText(runDirectory);
    int found = FileExists(path);
    ReleaseText(path);
    return found;
}

// The guard first: a copy that finds another copy's notice up ends inside it.
static void TellUser(const char* notice)
{
    PreventRepeatRun(0, "");
    ShowNotice(notice, kNoticeStyle, kNoticeTitle);
}

void CheckHostFolder()
{
    if (!HostExeExists()) {
        TellUser(kShortNotice);
        return;
    }
    if (!FileExists(kLauncherName)) {
        TellUser(kLongNotice);
        return;
    }
    if (HostExeExists())
        CreateLaunchLock(kLaunchLockName);
}

void CreateLaunchLock(const char* name)
{
    CreateMutexA(LockAttributes, TRUE, name);
}

void ShowNotice(const char* text, UINT style, const char* title)
{
    if ((style & MB_SYSTEMMODAL) == 0)
        style |= MB_TASKMODAL;
    MessageBoxA(nullptr, text, title, style);
}
