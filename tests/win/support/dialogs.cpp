// Message boxes of another process, seen through EnumWindows and the ANSI
// window-text calls.
#include "win/support/dialogs.h"

#include <algorithm>
#include <cstdio>

namespace yytest {

std::string ClassNameOf(HWND window)
{
    char name[256];
    int length = GetClassNameA(window, name, sizeof(name));
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace {
struct WindowSearch {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid && (!search->visibleOnly || IsWindowVisible(window)))
        search->found.push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool visibleOnly)
{
    WindowSearch search{pid, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> DialogsOf(DWORD pid)
{
    std::vector<HWND> dialogs;
    for (HWND window : TopLevelWindowsOf(pid, true))
        if (ClassNameOf(window) == kDialogClass)
            dialogs.push_back(window);
    return dialogs;
}

HWND WaitForDialog(DWORD pid, DWORD timeoutMs, HANDLE process)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> dialogs = DialogsOf(pid);
        if (!dialogs.empty())
            return dialogs.front();
        if (process != nullptr && WaitForSingleObject(process, 0) != WAIT_TIMEOUT)
            return nullptr;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(10);
    }
}

static std::string WindowTextOf(HWND window)
{
    char text[1024];
    int length = GetWindowTextA(window, text, sizeof(text));
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace {
struct ChildSearch {
    std::vector<int> buttonIds;
    bool showsIcon = false;
};

BOOL CALLBACK InspectChild(HWND child, LPARAM context)
{
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (!IsWindowVisible(child))
        return TRUE;
    std::string type = ClassNameOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, type.c_str(), -1, "Button", -1) == CSTR_EQUAL)
        search->buttonIds.push_back(GetDlgCtrlID(child));
    else if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, type.c_str(), -1, "Static", -1) == CSTR_EQUAL &&
             (style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0) != 0)
        search->showsIcon = true;
    return TRUE;
}
} // namespace

DialogContents ReadDialog(HWND dialog)
{
    DialogContents contents;
    contents.caption = WindowTextOf(dialog);
    char text[1024];
    UINT length = GetDlgItemTextA(dialog, kMessageTextId, text, sizeof(text));
    contents.text.assign(text, length);
    contents.owner = GetWindow(dialog, GW_OWNER);
    ChildSearch search;
    EnumChildWindows(dialog, InspectChild, reinterpret_cast<LPARAM>(&search));
    std::sort(search.buttonIds.begin(), search.buttonIds.end());
    contents.buttonIds = search.buttonIds;
    contents.showsIcon = search.showsIcon;
    return contents;
}

bool PressOk(HWND dialog, DWORD timeoutMs)
{
    HWND button = GetDlgItem(dialog, IDOK);
    if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
        return false;
    DWORD start = GetTickCount();
    // EndDialog hides the box at once; Wine may destroy it only later.
    while (IsWindow(dialog) && IsWindowVisible(dialog)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::string FirstWindowShown(DWORD pid, HANDLE process, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        // Looked at before the windows, so that a window shown just before
        // the end is still caught by the last look.
        bool ended = WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
        std::vector<HWND> shown = TopLevelWindowsOf(pid, true);
        if (!shown.empty())
            return ClassNameOf(shown.front()) + " '" + WindowTextOf(shown.front()) + "'";
        if (ended || GetTickCount() - start > timeoutMs)
            return {};
        Sleep(1);
    }
}

std::string HexBytes(const std::string& bytes)
{
    std::string hex;
    for (unsigned char byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof(two), "%02X", byte);
        if (!hex.empty())
            hex += ' ';
        hex += two;
    }
    return hex;
}

} // namespace yytest
