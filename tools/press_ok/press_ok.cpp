// press-ok: finds a message box, reports its caption and text as hex bytes
// and clicks its OK button, as a user dismissing the notice would.
//
// A message box is a visible top-level window of class "#32770"; its text is
// the static control 0xFFFF. With --pid only that process's boxes count.
#include "../common/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

enum ExitCode {
    kExitPressed = 0,
    kExitUsage = 1,
    kExitNoDialog = 2,
    kExitNotClosed = 3,
};

static const char kUsage[] =
    "Usage: press-ok [--pid PID] [--wait MS]\n"
    "\n"
    "Waits up to MS milliseconds (default 10000) for a visible message box\n"
    "(window class #32770), of process PID if given, reports its caption and\n"
    "its text as hex bytes and clicks OK. Report lines:\n"
    "  dialog_pid, dialog_caption, dialog_text, pressed, dialog_closed\n"
    "\n"
    "Exit codes: 0 pressed and the box closed, 1 wrong usage, 2 no message box\n"
    "within the wait, 3 the box has no OK button or did not close.\n";

struct DialogSearch {
    DWORD processId; // 0: any process
    HWND found;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(window) &&
        std::strcmp(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static bool ParseNumber(const char* text, DWORD* value)
{
    char* end = nullptr;
    *value = std::strtoul(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0';
}

int main(int argc, char** argv)
{
    DWORD processId = 0;
    DWORD waitMs = 10000;
    for (int i = 1; i < argc; ++i) {
        bool ok = false;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitPressed;
        } else if (std::strcmp(argv[i], "--pid") == 0 && i + 1 < argc) {
            ok = ParseNumber(argv[++i], &processId);
        } else if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
            ok = ParseNumber(argv[++i], &waitMs);
        }
        if (!ok) {
            std::fputs(kUsage, stdout);
            return kExitUsage;
        }
    }

    DialogSearch search = {processId, nullptr};
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || GetTickCount() - start >= waitMs)
            break;
        Sleep(20);
    }
    if (search.found == nullptr) {
        Report("error", "no message box appeared within %lu ms", waitMs);
        return kExitNoDialog;
    }
    HWND dialog = search.found;
    DWORD owner = 0;
    GetWindowThreadProcessId(dialog, &owner);
    Report("dialog_pid", "%lu", owner);
    char text[512];
    int captionLength = GetWindowTextA(dialog, text, sizeof(text));
    ReportHex("dialog_caption", text, captionLength > 0 ? static_cast<size_t>(captionLength) : 0);
    UINT textLength = GetDlgItemTextA(dialog, 0xFFFF, text, sizeof(text));
    ReportHex("dialog_text", text, textLength);

    HWND button = GetDlgItem(dialog, IDOK);
    if (button == nullptr) {
        Report("error", "the message box has no OK button");
        return kExitNotClosed;
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    Report("pressed", "OK");
    start = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - start < waitMs)
        Sleep(20);
    if (IsWindow(dialog)) {
        Report("dialog_closed", "no");
        return kExitNotClosed;
    }
    Report("dialog_closed", "yes");
    return kExitPressed;
}
