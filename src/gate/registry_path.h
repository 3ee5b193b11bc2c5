// Splitting a registry path text into key path and value name.
#pragma once

// Where the split falls: the key path is the `keyLength` bytes at the start,
// the value name starts at `valueName`. Without a separator the key path is
// empty (the root key itself) and the value name is the whole text; an empty
// value name stands for the key's default value.
struct RegistryPathSplit {
    int hasKeyPath;
    unsigned keyLength;
    const char* valueName;
};

// Splits at the last backslash that is not the second byte of a double-byte
// character (any byte of 0x80 or above leads one).
RegistryPathSplit SplitRegistryPath(const char* path);
