// PreventRepeatRun: a named event marks the copy that is showing its notice.
//
// Opening and creating the event are two calls, so two copies could both miss
// the event and then both create it. CreateEventA tells the later of the two
// that the event already existed; that copy then ends exactly like one that
// found the event, so only one copy ever gets past.
#include "gate/repeat_run.h"

#include "frame/lifetime.h"
#include "gate/registry.h"
#include "text/ansi_text.h"

// "禁止重复运行:" (BD FB D6 B9 D6 D8 B8 B4 D4 CB D0 D0 3A), then the instance name.
static const char kEventPrefix[] = "\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0:";

// "Software\qv\禁止重复运行\", then the instance name; the last backslash
// splits key path from value name, so the empty name is the default value.
static const char kRegistryPrefix[] =
    "Software\\qv\\" "\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0" "\\";

static_assert(sizeof(kEventPrefix) - 1 == 13);
static_assert(sizeof(kRegistryPrefix) - 1 == 25);

// Another copy holds the marker: restore its window if ours is one, then end.
[[noreturn]] static void YieldToFirstCopy(DWORD window, const char* instanceName)
{
    AnsiText path = ConcatText(kRegistryPrefix, instanceName);
    DWORD recorded = ReadRegistryNumber(HKEY_CURRENT_USER, path, 0);
    ReleaseText(path);
    if (IsWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window))))
        OpenIcon(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(recorded)));
    EndProgram(0);
}

void PreventRepeatRun(DWORD window, const char* instanceName)
{
    AnsiText name = ConcatText(kEventPrefix, instanceName);
    HANDLE found = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    ReleaseText(name);
    if (found != nullptr)
        YieldToFirstCopy(window, instanceName);

    name = ConcatText(kEventPrefix, instanceName);
    HANDLE created = CreateEventA(nullptr, FALSE, FALSE, name);
    DWORD createError = GetLastError();
    ReleaseText(name);
    if (created != nullptr && createError == ERROR_ALREADY_EXISTS)
        YieldToFirstCopy(window, instanceName);

    AnsiText path = ConcatText(kRegistryPrefix, instanceName);
    WriteRegistryValue(HKEY_CURRENT_USER, path, window);
    ReleaseText(path);
}
