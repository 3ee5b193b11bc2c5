// The host gate seen from outside: what each folder state leads to (the
// launch lock or one of the two notices), the notice box itself, and the
// program standing at the root of a drive.
#include "win/program/scene.h"
#include "win/support/drive.h"

namespace yytest {
namespace {

// A marker in the guard's registry value: a run that takes the lock must
// leave it alone.
const std::string kMarker = "untouched";

void ExpectGuardValueAfter(Outcome outcome)
{
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    ASSERT_TRUE(value.present);
    if (outcome == Outcome::Lock) {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << "a right-folder run wrote the guard's value";
        EXPECT_EQ(value.data, kMarker + '\0');
    } else {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(HexBytes(value.data), "00 00 00 00");
    }
}

struct FolderCase {
    const char* name;
    FolderState state;
    Outcome outcome;
};

void PrintTo(const FolderCase& c, std::ostream* os)
{
    *os << c.name;
}

const FolderCase kFolderCases[] = {
    {"both_files", {true, true, false}, Outcome::Lock},
    {"host_exe_missing", {false, true, false}, Outcome::ShortNotice},
    {"launcher_missing", {true, false, false}, Outcome::LongNotice},
    {"both_missing", {false, false, false}, Outcome::ShortNotice},
    {"both_as_directories", {true, true, true}, Outcome::Lock},
    {"host_exe_as_directory_launcher_missing", {true, false, true}, Outcome::LongNotice},
};

class FolderTest : public ProgramTest, public ::testing::WithParamInterface<FolderCase> {};

// Both files present (a directory of that name counts): the lock "yy2",
// nothing shown, the guard never met. "YY.exe" missing: the short notice,
// whatever else is there. Only "yylauncher.exe" missing: the long notice.
// Each notice is a box titled 提示: with one OK button, the information
// icon and no owner, behind the guard; the run ends with 0 once it is
// dismissed.
TEST_P(FolderTest, LeadsToLockOrNotice)
{
    const FolderCase& c = GetParam();
    std::string exe = PlaceScene(scratch_, "host", c.state);
    ASSERT_FALSE(exe.empty());
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker + '\0'));

    WatchedRun run(exe);
    ExpectOutcome(run, c.outcome);
    ExpectGuardValueAfter(c.outcome);
}

INSTANTIATE_TEST_SUITE_P(States, FolderTest, ::testing::ValuesIn(kFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The program at the root of a drive: its run directory is the bare drive
// ("Y:"), "YY.exe" is looked for in the root, and "yylauncher.exe" in the
// drive's current directory, which is the root unless the program was
// started with a current directory elsewhere on that drive.
struct DriveCase {
    const char* name;
    FolderState root;
    const char* startIn;         // folder on the drive to start from; "" for the test's own
    FolderState startFolder;     // what that folder holds
    Outcome outcome;
};

void PrintTo(const DriveCase& c, std::ostream* os)
{
    *os << c.name;
}

const DriveCase kDriveCases[] = {
    {"both_files", {true, true, false}, "", {}, Outcome::Lock},
    {"host_exe_missing", {false, true, false}, "", {}, Outcome::ShortNotice},
    {"launcher_missing", {true, false, false}, "", {}, Outcome::LongNotice},
    {"launcher_in_the_drives_current_folder", {true, false, false}, "sub", {false, true, false}, Outcome::Lock},
    {"launcher_only_in_the_root_started_in_a_subfolder", {true, true, false}, "sub", {false, false, false},
     Outcome::LongNotice},
};

class DriveRootTest : public ProgramTest, public ::testing::WithParamInterface<DriveCase> {};

TEST_P(DriveRootTest, LooksForTheFilesOnTheDrive)
{
    const DriveCase& c = GetParam();
    std::string root = scratch_.MakeFolder("drive");
    ASSERT_FALSE(root.empty());
    TemporaryDrive drive(root);
    ASSERT_TRUE(drive.Mapped()) << drive.Problem();
    // The drive's content, placed through the drive itself.
    auto place = [&](const std::string& folder, FolderState state) {
        std::string at = folder.empty() ? drive.Drive() : drive.Drive() + "\\" + folder;
        if (!folder.empty() && !CreateDirectoryA(at.c_str(), nullptr))
            return false;
        for (auto [wanted, name] : {std::pair{state.hostExe, kHostExe}, std::pair{state.launcher, kLauncherExe}}) {
            if (!wanted)
                continue;
            HANDLE file = CreateFileA(JoinPath(at, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return false;
            CloseHandle(file);
        }
        return true;
    };
    ASSERT_TRUE(place("", c.root));
    std::string exe = drive.Drive() + "\\" + kProgramName;
    ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), exe.c_str(), FALSE)) << exe;
    StartOptions options;
    if (*c.startIn != '\0') {
        ASSERT_TRUE(place(c.startIn, c.startFolder));
        options.currentDirectory = drive.Drive() + "\\" + c.startIn;
    }
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker + '\0'));

    {
        WatchedRun run(exe, options);
        ExpectOutcome(run, c.outcome);
    }
    ExpectGuardValueAfter(c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Root, DriveRootTest, ::testing::ValuesIn(kDriveCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace yytest
