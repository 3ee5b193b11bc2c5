// A DWORD stored under a registry path such as "Software\qv\name\value":
// everything before the last backslash is the key path, the rest the value
// name (empty: the key's default value).
#pragma once

#include <windows.h>

// The REG_DWORD stored at `path`, or `fallback` when there is no key, no
// value, another type, or data that does not fit in 4 bytes.
DWORD ReadRegistryNumber(HKEY root, const char* path, DWORD fallback);

// Stores `number` as a REG_DWORD at `path`, creating missing keys; true when
// the value was stored.
bool WriteRegistryValue(HKEY root, const char* path, DWORD number);
