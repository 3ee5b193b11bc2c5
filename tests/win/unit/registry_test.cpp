// ReadRegistryNumber and WriteRegistryValue on real keys under a test root
// of HKEY_CURRENT_USER that each run makes for itself and removes.
#include "gate/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = "Software\\yygate-tests-" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
    }

    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str()); }

    // Type and raw bytes of a value, read without the routines under test.
    bool ReadRaw(const std::string& key, const char* value, DWORD* type, std::string* bytes)
    {
        BYTE data[64];
        DWORD size = sizeof(data);
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, type,
                         data, &size) != ERROR_SUCCESS)
            return false;
        bytes->assign(reinterpret_cast<char*>(data), size);
        return true;
    }

    void Store(const std::string& key, const char* value, DWORD type, const void* data, DWORD size)
    {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &handle), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(handle, value, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
    }

    std::string root_;
};

TEST_F(RegistryTest, TheLastBackslashSplitsKeyPathFromValueName)
{
    const std::string base = root_ + "\\\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0";
    struct Case {
        std::string instanceName;
        std::string key;        // where the value must land
        const char* valueName;  // "" is the default value
    } cases[] = {
        {"", base, ""},
        {"main", base, "main"},
        {"a\\b", base + "\\a", "b"},
        {"a\\b\\", base + "\\a\\b", ""},
        {"\x81\\", base, "\x81\\"}, // 81 5C is one character, not a separator
    };
    DWORD number = 0x11223344;
    for (const Case& c : cases) {
        std::string path = base + "\\" + c.instanceName;
        ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, path.c_str(), number)) << path;
        DWORD type = 0;
        std::string bytes;
        ASSERT_TRUE(ReadRaw(c.key, c.valueName, &type, &bytes)) << path;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        const char littleEndian[] = {static_cast<char>(number), static_cast<char>(number >> 8),
                                     static_cast<char>(number >> 16), static_cast<char>(number >> 24)};
        EXPECT_EQ(bytes, std::string(littleEndian, 4));
        EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), number);
        ++number;
    }
}

TEST_F(RegistryTest, AnythingButAFourByteDwordReadsAsTheFallback)
{
    const std::string key = root_ + "\\k";
    const std::string path = key + "\\v";
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 0u) << "no key";
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 7), 7u) << "no key";

    Store(key, "other", REG_DWORD, "\x01\x00\x00\x00", 4);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 0u) << "no value";

    Store(key, "v", REG_SZ, "12", 3);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 0u) << "REG_SZ";

    Store(key, "v", REG_BINARY, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 0u) << "8 binary bytes";

    Store(key, "v", REG_BINARY, "\x01\x00\x00\x00", 4);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 0u) << "4 binary bytes";

    Store(key, "v", REG_DWORD, "\x2A\x00\x00\x00", 4);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 0), 42u);
}

TEST_F(RegistryTest, WritingOverwritesAnyTypeWithADword)
{
    const std::string key = root_ + "\\k";
    Store(key, "", REG_SZ, "text", 5);
    ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, (key + "\\").c_str(), 0));
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadRaw(key, "", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(bytes, std::string(4, '\0'));
}

TEST_F(RegistryTest, AKeyThatCannotBeOpenedOrCreatedStoresNothing)
{
    // A volatile key takes no lasting subkeys: RegCreateKeyA below it fails.
    const std::string volatileKey = root_ + "\\volatile";
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, volatileKey.c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(handle);

    const std::string path = volatileKey + "\\child\\";
    EXPECT_FALSE(WriteRegistryValue(HKEY_CURRENT_USER, path.c_str(), 1));
    HKEY child;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, (volatileKey + "\\child").c_str(), 0, KEY_READ, &child),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadRegistryNumber(HKEY_CURRENT_USER, path.c_str(), 9), 9u);
}

} // namespace
