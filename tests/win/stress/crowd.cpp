// Crowd: copies started together, one window enumeration per look.
#include "win/stress/crowd.h"

#include "win/support/dialogs.h"

#include <cstdio>
#include <set>

namespace yytest {

Crowd::Crowd(const std::string& exe, int count)
{
    StartOptions options;
    options.suspended = true;
    copies_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        copies_.emplace_back(exe, options);
        if (!copies_.back().Started()) {
            startProblem_ = "copy " + std::to_string(i) + " did not start: error " +
                            std::to_string(copies_.back().StartError());
            copies_.pop_back();
            break;
        }
    }
    for (ChildProcess& copy : copies_)
        copy.Resume();
}

namespace {
struct LookContext {
    const std::set<DWORD>* pids;
    std::vector<std::pair<DWORD, HWND>> visible;
};

BOOL CALLBACK NoteVisibleWindow(HWND window, LPARAM context)
{
    auto* look = reinterpret_cast<LookContext*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (look->pids->count(pid) != 0 && IsWindowVisible(window))
        look->visible.emplace_back(pid, window);
    return TRUE;
}

std::string Describe(HWND window)
{
    char caption[256];
    int length = GetWindowTextA(window, caption, sizeof(caption));
    return ClassNameOf(window) + " '" + std::string(caption, length > 0 ? static_cast<size_t>(length) : 0) + "'";
}
} // namespace

void Crowd::Look()
{
    // Which copies have ended is read before the windows, so that a window
    // shown just before a copy's end is still caught by this look.
    std::set<DWORD> pids;
    int ended = 0;
    for (const ChildProcess& copy : copies_) {
        pids.insert(copy.Id());
        ended += WaitForSingleObject(copy.Handle(), 0) == WAIT_OBJECT_0;
    }
    LookContext look{&pids, {}};
    EnumWindows(NoteVisibleWindow, reinterpret_cast<LPARAM>(&look));
    boxes_.clear();
    for (auto [pid, window] : look.visible) {
        windowsSeen_.emplace(pid, Describe(window));
        if (ClassNameOf(window) == kDialogClass)
            boxes_.push_back(window);
    }
    ended_ = ended;
}

bool Crowd::Watch(Until until, DWORD timeoutMs, const std::function<void()>& eachLook)
{
    DWORD start = GetTickCount();
    for (;;) {
        Look();
        if (eachLook)
            eachLook();
        int settled = ended_;
        if (until == Until::Settled) {
            std::set<DWORD> showing;
            for (HWND box : boxes_) {
                DWORD pid = 0;
                GetWindowThreadProcessId(box, &pid);
                showing.insert(pid);
            }
            for (const ChildProcess& copy : copies_)
                settled += showing.count(copy.Id()) != 0 && copy.IsRunning();
        }
        if (settled >= Count())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
}

std::string Crowd::ExitCodeSummary() const
{
    std::map<DWORD, int> counts;
    for (const ChildProcess& copy : copies_) {
        std::optional<DWORD> code = copy.WaitForExit(0);
        if (code.has_value())
            ++counts[*code];
    }
    std::string summary;
    for (auto [code, count] : counts) {
        char text[48];
        std::snprintf(text, sizeof(text), "%d x 0x%lX", count, static_cast<unsigned long>(code));
        summary += (summary.empty() ? "" : ", ") + std::string(text);
    }
    return summary;
}

} // namespace yytest
