// The single-instance guard in front of the notices.
#pragma once

#include <windows.h>

// Lets one copy at a time past: a copy that finds another copy's marker
// event ends here with exit code 0 (after restoring the recorded window if
// `window` is a window); the copy that passes holds the marker until it ends
// and records `window` in the registry.
void PreventRepeatRun(DWORD window, const char* instanceName);
