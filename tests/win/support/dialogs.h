// Finding, reading and dismissing the program's message boxes from outside,
// and watching that a run shows no window at all.
//
// A message box is a top-level window of class "#32770" owned by a thread
// of the program's process; its caption is the window text and its message
// the text of control 0xFFFF. Texts are read with the ANSI calls and kept as
// raw bytes. Wine gives every GUI process an invisible "Default IME" window,
// so only visible windows count as shown.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace yytest {

constexpr char kDialogClass[] = "#32770";
constexpr int kMessageTextId = 0xFFFF;

std::string ClassNameOf(HWND window);

// Top-level windows whose thread belongs to process `pid`.
std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool visibleOnly);

// Visible message boxes of process `pid`.
std::vector<HWND> DialogsOf(DWORD pid);

// Waits until process `pid` shows a message box; null after `timeoutMs` or
// when the process behind `process` (if given) ends first.
HWND WaitForDialog(DWORD pid, DWORD timeoutMs, HANDLE process = nullptr);

struct DialogContents {
    std::string caption;           // window text, raw ANSI bytes
    std::string text;              // text of control 0xFFFF, raw ANSI bytes
    std::vector<int> buttonIds;    // control ids of the visible buttons
    HWND owner = nullptr;          // GetWindow(GW_OWNER)
    bool showsIcon = false;        // a visible icon static with an icon set
};

DialogContents ReadDialog(HWND dialog);

// Presses OK: posts WM_COMMAND IDOK to the box, as a click on its OK button
// does. True when the box was closed (hidden or destroyed) within
// `timeoutMs`.
bool PressOk(HWND dialog, DWORD timeoutMs = 10000);

// Polls the visible top-level windows of process `pid` until one appears,
// the process ends (its handle `process` is signalled) or `timeoutMs`
// passes. Returns the first window seen as "class 'caption'", or empty when
// none was seen.
std::string FirstWindowShown(DWORD pid, HANDLE process, DWORD timeoutMs);

// "C7 EB B7 ..." for messages of failed checks.
std::string HexBytes(const std::string& bytes);

} // namespace yytest
