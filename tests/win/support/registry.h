// Registry values as the tests see them: read back raw (type and bytes),
// written with any type, and put back as they were after a test.
//
// Key and value names are ANSI bytes, handed to the A calls unchanged.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace yytest {

struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;   // the stored bytes
};

// `name` empty: the key's default value.
RegistryValue ReadValue(HKEY root, const std::string& key, const std::string& name);
bool WriteValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& data);
bool DeleteValue(HKEY root, const std::string& key, const std::string& name);
bool KeyExists(HKEY root, const std::string& key);

// The 4 little-endian bytes of a REG_DWORD.
std::string DwordBytes(DWORD value);

// Remembers a value and the keys along its path; when it goes, the value is
// put back (or removed if it was absent) and keys that did not exist are
// removed again.
class SavedRegistryValue {
public:
    SavedRegistryValue(HKEY root, std::string key, std::string name);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue&) = delete;
    SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

private:
    HKEY root_;
    std::string key_;
    std::string name_;
    RegistryValue saved_;
    std::vector<std::string> missingKeys_;   // deepest last
};

} // namespace yytest
