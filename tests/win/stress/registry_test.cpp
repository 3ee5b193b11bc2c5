// The guard's registry value in states the program does not write itself:
// a key it may not write to, a key it cannot create, and values of another
// type or size. In each, a first copy outside the YY folder still shows its
// notice (a failed write goes unnoticed) and ends with 0 once it is
// dismissed, and a second copy started meanwhile still ends with 0 without
// any window, whatever it reads. Values of type REG_SZ and 8 bytes of
// REG_BINARY are covered in this way by the guard tests of the program.
//
// Wine's registry enforces key security descriptors and refuses a
// non-volatile key under a volatile one, as Windows does; SetUp checks both
// from the test's side (same user as the copies) before a copy runs.
#include "win/program/scene.h"

#include <sddl.h>

namespace yytest {
namespace {

// "Software\qv", the parent of the guard's key.
const std::string kGuardParent = "Software\\qv";

enum class KeyState {
    ReadOnlySecurity,  // the key exists; everyone may read it, nobody write
    NoAccessSecurity,  // the key exists; an empty DACL: nobody may do either
    VolatileParent,    // "Software\qv" volatile, the key missing: it cannot be made
    Qword,             // REG_QWORD, 8 bytes
    BigEndianDword,    // REG_DWORD_BIG_ENDIAN, 4 bytes: only the type is wrong
    DwordOfEightBytes, // type REG_DWORD, 8 bytes of data
    DwordOfTwoBytes,   // type REG_DWORD, 2 bytes of data
};

struct KeyCase {
    const char* name;
    KeyState state;
    // Whether the first copy's REG_DWORD 0 is stored.
    bool writable;
};

void PrintTo(const KeyCase& c, std::ostream* os)
{
    *os << c.name;
}

const KeyCase kKeyCases[] = {
    {"key_read_only", KeyState::ReadOnlySecurity, false},
    {"key_without_access", KeyState::NoAccessSecurity, false},
    {"key_under_volatile_parent", KeyState::VolatileParent, false},
    {"reg_qword", KeyState::Qword, true},
    {"reg_dword_big_endian", KeyState::BigEndianDword, true},
    {"reg_dword_of_eight_bytes", KeyState::DwordOfEightBytes, true},
    {"reg_dword_of_two_bytes", KeyState::DwordOfTwoBytes, true},
};

// The value the key holds before a copy meets it, where its type is right.
const std::string kEarlierValue = DwordBytes(0x12345678);

// Sets a DACL given as SDDL on the guard's key. The test owns the key, so
// it may always change the DACL, even one that grants it nothing.
bool SetGuardKeyDacl(const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, WRITE_DAC, &key);
    if (result == ERROR_SUCCESS) {
        result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

// Everyone: full access, read access only, or nothing at all.
constexpr char kFullAccess[] = "D:P(A;;KA;;;WD)";
constexpr char kReadOnly[] = "D:P(A;;KR;;;WD)";
constexpr char kNoAccess[] = "D:P";

// The guard's value as stored, read with full access for a moment when the
// key's DACL would refuse the test.
RegistryValue ReadGuardValueAnyway(KeyState state)
{
    bool locked = state == KeyState::ReadOnlySecurity || state == KeyState::NoAccessSecurity;
    if (locked)
        SetGuardKeyDacl(kFullAccess);
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    if (state == KeyState::ReadOnlySecurity)
        SetGuardKeyDacl(kReadOnly);
    else if (state == KeyState::NoAccessSecurity)
        SetGuardKeyDacl(kNoAccess);
    return value;
}

std::string Shown(const RegistryValue& value)
{
    return value.present ? "type " + std::to_string(value.type) + ": " + HexBytes(value.data) : "absent";
}

// Counts of what a key holds.
struct KeyContents {
    bool exists = false;
    DWORD subkeys = 0;
    DWORD values = 0;
};

KeyContents ContentsOf(const std::string& path)
{
    KeyContents contents;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return contents;
    contents.exists = true;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &contents.subkeys, nullptr, nullptr, &contents.values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return contents;
}

class GuardKeyTest : public ProgramTest, public ::testing::WithParamInterface<KeyCase> {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        if (HasFatalFailure())
            return;
        state_ = GetParam().state;
        if (state_ == KeyState::VolatileParent)
            MakeParentVolatile();
        else
            ASSERT_TRUE(Apply());
        if (HasFatalFailure())
            return;
        // The copies run as the test's user: what the test meets here, the
        // copies meet.
        HKEY key;
        switch (state_) {
        case KeyState::ReadOnlySecurity:
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
            RegCloseKey(key);
            break;
        case KeyState::NoAccessSecurity:
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
            break;
        case KeyState::VolatileParent:
            ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kGuardKey.c_str(), &key), ERROR_CHILD_MUST_BE_VOLATILE);
            break;
        default:
            break;
        }
    }

    void TearDown() override
    {
        if (state_ == KeyState::ReadOnlySecurity || state_ == KeyState::NoAccessSecurity)
            EXPECT_TRUE(RestoreDacl()) << "cannot give the guard's key its access back";
        if (state_ == KeyState::VolatileParent && parentMadeVolatile_) {
            RegDeleteKeyA(HKEY_CURRENT_USER, kGuardKey.c_str());
            EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kGuardParent.c_str()), ERROR_SUCCESS);
            if (parentExisted_) {
                HKEY key;
                if (RegCreateKeyA(HKEY_CURRENT_USER, kGuardParent.c_str(), &key) == ERROR_SUCCESS)
                    RegCloseKey(key);
            }
        }
        // The fixture's saved value puts the guard's value back as it was.
    }

    // Puts the key into its state: for the value states the hostile value,
    // for the security states a REG_DWORD under a DACL that refuses writes.
    bool Apply()
    {
        switch (state_) {
        case KeyState::ReadOnlySecurity:
            return SaveDacl() && WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD, kEarlierValue) &&
                   SetGuardKeyDacl(kReadOnly);
        case KeyState::NoAccessSecurity:
            return SaveDacl() && WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD, kEarlierValue) &&
                   SetGuardKeyDacl(kNoAccess);
        case KeyState::VolatileParent:
            return !KeyExists(HKEY_CURRENT_USER, kGuardKey);
        case KeyState::Qword:
            return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_QWORD,
                              DwordBytes(0x55667788) + DwordBytes(0x11223344));
        case KeyState::BigEndianDword:
            return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD_BIG_ENDIAN, "\x12\x34\x56\x78");
        case KeyState::DwordOfEightBytes:
            return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD, DwordBytes(0x12345678) + DwordBytes(1));
        case KeyState::DwordOfTwoBytes:
            return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD, "\x34\x12");
        }
        return false;
    }

    // Replaces "Software\qv" by a volatile key of that name, the guard's key
    // missing. What the test removes must hold nothing but the guard's
    // default value, which the fixture puts back afterwards.
    void MakeParentVolatile()
    {
        KeyContents parent = ContentsOf(kGuardParent);
        KeyContents guard = ContentsOf(kGuardKey);
        parentExisted_ = parent.exists;
        ASSERT_LE(parent.subkeys, guard.exists ? 1u : 0u) << "Software\\qv holds keys of its own";
        ASSERT_EQ(parent.values, 0u) << "Software\\qv holds values of its own";
        ASSERT_EQ(guard.subkeys, 0u) << "the guard's key holds keys";
        ASSERT_LE(guard.values, 1u) << "the guard's key holds other values";
        if (guard.exists)
            ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kGuardKey.c_str()), ERROR_SUCCESS);
        if (parent.exists)
            ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kGuardParent.c_str()), ERROR_SUCCESS);
        HKEY key;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kGuardParent.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        parentMadeVolatile_ = true;
        ASSERT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    }

    // Keeps the DACL the key has before the test, to be put back after it;
    // a key that did not exist gets full access back and is removed by the
    // fixture.
    bool SaveDacl()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
            return true;
        DWORD size = 0;
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        savedDacl_.resize(size);
        LONG result = size == 0 ? ERROR_INVALID_DATA
                                : RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, savedDacl_.data(), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            savedDacl_.clear();
        return result == ERROR_SUCCESS;
    }

    bool RestoreDacl()
    {
        if (savedDacl_.empty())
            return SetGuardKeyDacl(kFullAccess);
        HKEY key;
        LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, kGuardKey.c_str(), 0, WRITE_DAC, &key);
        if (result == ERROR_SUCCESS) {
            result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, savedDacl_.data());
            RegCloseKey(key);
        }
        return result == ERROR_SUCCESS;
    }

    std::vector<BYTE> savedDacl_;
    KeyState state_ = KeyState::Qword;
    bool parentExisted_ = false;
    bool parentMadeVolatile_ = false;
};

// The first copy passes the guard whatever the key refuses it, shows its
// one notice, and stores the REG_DWORD 0 where the key lets it (over any
// type or size) and nothing where it does not. A second copy started while
// that notice is up reads the value, restores no window, shows nothing and
// ends with 0, leaving the value as it found it.
TEST_P(GuardKeyTest, CopiesGoOnWhateverTheKeyHolds)
{
    const KeyCase& c = GetParam();
    std::string firstExe = PlaceScene(scratch_, "first", {false, false, false});
    std::string secondExe = PlaceScene(scratch_, "second", {false, false, false});
    ASSERT_FALSE(firstExe.empty() || secondExe.empty());
    RegistryValue before = ReadGuardValueAnyway(c.state);

    WatchedRun first(firstExe);
    ASSERT_TRUE(first.Started()) << first.Trace().Problems();
    HWND box = WaitForDialog(first.Id(), kBoxWait, first.Handle());
    ASSERT_NE(box, nullptr) << "the first copy showed no notice";
    ExpectNoticeBox(ReadDialog(box), kShortNotice);
    EXPECT_TRUE(EventExists(kGuardEventName));
    RegistryValue afterFirst = ReadGuardValueAnyway(c.state);
    if (c.writable) {
        EXPECT_EQ(Shown(afterFirst), Shown({true, REG_DWORD, DwordBytes(0)})) << "before: " << Shown(before);
    } else {
        EXPECT_EQ(Shown(afterFirst), Shown(before)) << "the refused write changed the value";
        if (c.state == KeyState::VolatileParent)
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kGuardKey)) << "the key was made after all";
    }

    // The second copy meets the hostile value itself.
    if (c.writable)
        ASSERT_TRUE(Apply());
    RegistryValue beforeSecond = ReadGuardValueAnyway(c.state);
    {
        WatchedRun second(secondExe);
        ASSERT_TRUE(second.Started()) << second.Trace().Problems();
        EXPECT_EQ(FirstWindowShown(second.Id(), second.Handle(), kEndWait), "") << "the second copy showed a window";
        std::optional<DWORD> code = second.WaitForExit();
        ASSERT_TRUE(code.has_value()) << "the second copy did not end";
        EXPECT_EQ(Hex(*code), Hex(0));
        EXPECT_TRUE(second.Trace().CallsTo("MessageBoxA").empty());
        EXPECT_TRUE(second.Trace().CallsTo("NtUserCreateWindowEx").empty());
        EXPECT_EQ(second.Trace().CallsTo("OpenEventA").size(), 1u);
        EXPECT_TRUE(second.Trace().CallsTo("CreateEventA").empty()) << "the second copy passed the guard";
        EXPECT_TRUE(second.Trace().CallsTo("OpenIcon").empty());
        EXPECT_EQ(second.Trace().Problems(), "");
    }
    EXPECT_EQ(Shown(ReadGuardValueAnyway(c.state)), Shown(beforeSecond)) << "the second copy changed the value";

    EXPECT_EQ(DialogsOf(first.Id()).size(), 1u);
    ASSERT_TRUE(PressOk(box));
    std::optional<DWORD> code = first.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the first copy did not end after its notice";
    EXPECT_EQ(Hex(*code), Hex(0));
    ExpectOneMessageBoxCall(first.Trace(), kShortNotice, kNoticeCaption, kNoticeStyle);
    EXPECT_EQ(first.Trace().CallsTo("CreateEventA").size(), 1u);
    EXPECT_FALSE(EventExists(kGuardEventName));
}

INSTANTIATE_TEST_SUITE_P(States, GuardKeyTest, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace yytest
