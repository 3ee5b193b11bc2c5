// ReadRegistryNumber and WriteRegistryValue over the ANSI registry calls.
//
// A value is read as a number only when it is a REG_DWORD of 4 bytes: its
// type and size are asked for first, and the data call gets a 4-byte buffer,
// so longer data fails instead of being cut.
#include "gate/registry.h"

#include "gate/registry_path.h"
#include "text/ansi_text.h"

static const REGSAM kReadAccess = KEY_READ;   // 0x20019
static const REGSAM kWriteAccess = KEY_WRITE; // 0x20006
static_assert(KEY_READ == 0x20019 && KEY_WRITE == 0x20006);

// The key path as a text of its own; absent (the root key) without one.
static AnsiText KeyPathOf(const char* path, const RegistryPathSplit& split)
{
    return split.hasKeyPath ? CopyOrAbsent(path, split.keyLength) : nullptr;
}

DWORD ReadRegistryNumber(HKEY root, const char* path, DWORD fallback)
{
    RegistryPathSplit split = SplitRegistryPath(path);
    AnsiText keyPath = KeyPathOf(path, split);
    HKEY key;
    LONG opened = RegOpenKeyExA(root, keyPath, 0, kReadAccess, &key);
    ReleaseText(keyPath);
    if (opened != ERROR_SUCCESS)
        return fallback;

    DWORD result = fallback;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, split.valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
        BYTE data[4];
        size = sizeof(data);
        if (RegQueryValueExA(key, split.valueName, nullptr, &type, data, &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof(data))
            result = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    }
    RegCloseKey(key);
    return result;
}

bool WriteRegistryValue(HKEY root, const char* path, DWORD number)
{
    RegistryPathSplit split = SplitRegistryPath(path);
    AnsiText keyPath = KeyPathOf(path, split);
    HKEY key;
    LONG opened = RegOpenKeyExA(root, keyPath, 0, kWriteAccess, &key);
    if (opened != ERROR_SUCCESS)
        opened = RegCreateKeyA(root, keyPath, &key);
    ReleaseText(keyPath);
    if (opened != ERROR_SUCCESS)
        return false;

    BYTE data[4] = {
        static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
        static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    LONG stored = RegSetValueExA(key, split.valueName, 0, REG_DWORD, data, sizeof(data));
    RegCloseKey(key);
    return stored == ERROR_SUCCESS;
}
