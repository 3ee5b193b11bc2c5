// The host-folder check: is the program standing in the YY folder?
#pragma once

#include <windows.h>

// Right folder: creates the launch lock "yy2". Wrong folder: passes the
// single-instance guard, then shows the notice for the missing file.
void CheckHostFolder();

// Creates the named mutex, initially owned, and leaves its handle open until
// the process ends.
void CreateLaunchLock(const char* name);

// A message box with no owner; task-modal unless `style` asks for
// system-modal. Returns when the user has dismissed it.
void ShowNotice(const char* text, UINT style, const char* title);
