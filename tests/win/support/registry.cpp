// Raw registry access for the tests, over the ANSI registry calls.
#include "win/support/registry.h"

namespace yytest {

RegistryValue ReadValue(HKEY root, const std::string& key, const std::string& name)
{
    RegistryValue value;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return value;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(opened, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(opened, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            data.resize(size);
            value.present = true;
            value.type = type;
            value.data = data;
        }
    }
    RegCloseKey(opened);
    return value;
}

bool WriteValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& data)
{
    HKEY opened;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return false;
    LONG stored = RegSetValueExA(opened, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()));
    RegCloseKey(opened);
    return stored == ERROR_SUCCESS;
}

bool DeleteValue(HKEY root, const std::string& key, const std::string& name)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_WRITE, &opened) != ERROR_SUCCESS)
        return true;
    LONG result = RegDeleteValueA(opened, name.c_str());
    RegCloseKey(opened);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool KeyExists(HKEY root, const std::string& key)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::string DwordBytes(DWORD value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

SavedRegistryValue::SavedRegistryValue(HKEY root, std::string key, std::string name)
    : root_(root), key_(std::move(key)), name_(std::move(name))
{
    saved_ = ReadValue(root_, key_, name_);
    // Each prefix of the key path that ends before a separating backslash.
    for (size_t i = 0; i <= key_.size(); ++i) {
        if (i < key_.size() && IsDBCSLeadByte(static_cast<BYTE>(key_[i]))) {
            ++i;
            continue;
        }
        if (i == key_.size() || key_[i] == '\\') {
            std::string prefix = key_.substr(0, i);
            if (!KeyExists(root_, prefix))
                missingKeys_.push_back(prefix);
        }
    }
}

SavedRegistryValue::~SavedRegistryValue()
{
    if (saved_.present)
        WriteValue(root_, key_, name_, saved_.type, saved_.data);
    else
        DeleteValue(root_, key_, name_);
    for (auto it = missingKeys_.rbegin(); it != missingKeys_.rend(); ++it)
        RegDeleteKeyA(root_, it->c_str());
}

} // namespace yytest
