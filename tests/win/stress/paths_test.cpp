// The program's own path at the edges: module paths of exactly 258 to 261
// bytes (the first buffer holds 260 with its NUL) and far longer, folder
// and file names of double-byte characters whose second byte is an ASCII
// code (0x40 '@', 0x41 'A', 0x5C '\', 0x7E '~'), the root of a drive, and a
// temporary copy whose file name is ".tmp" alone. Each place is tried as
// the right folder and as a folder without "yylauncher.exe": both outcomes
// depend on the program having split its path at the right backslash. The
// test owns the start-signal section throughout, so every run also shows
// whether the copy gave the signal.
//
// Wine's CreateProcess starts no image whose path has 260 characters or
// more, so paths past 260 bytes are built of double-byte folder names (two
// bytes, one character each). The longest path Wine starts, 259 characters,
// stays below the program's second buffer (520 bytes), so under Wine the
// program never needs a third.
#include "win/handshake/section_stage.h"
#include "win/program/scene.h"
#include "win/support/drive.h"

#include <iostream>
#include <memory>

namespace yytest {
namespace {

enum class Where {
    Folder,       // `folder` below the scratch folder
    ExactLength,  // a folder chain making the module path `moduleBytes` long
    Longest,      // the longest module path in bytes that Wine still handles
    DriveRoot,    // the root of a drive of the test's own
};

struct PlaceCase {
    const char* name;
    Where where;
    const char* folder;
    size_t moduleBytes;
    const char* fileName;
    bool signals;  // the file name ends in ".tmp"
};

const PlaceCase kPlaces[] = {
    {"module_path_258_bytes", Where::ExactLength, "", 258, "yygate.exe", false},
    {"module_path_259_bytes", Where::ExactLength, "", 259, "yygate.exe", false},
    {"module_path_260_bytes", Where::ExactLength, "", 260, "yygate.exe", false},
    {"module_path_261_bytes", Where::ExactLength, "", 261, "yygate.exe", false},
    {"module_path_as_long_as_wine_allows", Where::Longest, "", 0, "yygate.exe", false},
    {"module_path_261_bytes_tmp", Where::ExactLength, "", 261, "yygate.tmp", true},
    // Folders "81 40 81 41" and "a 81 7E".
    {"second_bytes_40_41_7E_in_folders", Where::Folder, "\x81\x40\x81\x41\\a\x81\x7E", 0, "yygate.exe", false},
    {"second_bytes_40_41_in_program_name", Where::Folder, "plain", 0, "\x81\x40\x81\x41.exe", false},
    {"second_byte_5C_before_TMP", Where::Folder, "\x81\x41", 0, "\x81\x5C.TMP", true},
    {"program_named_only_tmp", Where::Folder, "plain", 0, ".tmp", true},
    {"drive_root_program_named_only_tmp", Where::DriveRoot, "", 0, ".tmp", true},
    {"drive_root_second_byte_5C_in_program_name", Where::DriveRoot, "", 0, "\x81\x5C\x81\x40.exe", false},
};

struct PathCase {
    PlaceCase place;
    bool rightFolder;
};

std::string PathCaseName(const ::testing::TestParamInfo<PathCase>& info)
{
    return std::string(info.param.place.name) + (info.param.rightFolder ? "_right_folder" : "_launcher_missing");
}

void PrintTo(const PathCase& c, std::ostream* os)
{
    *os << c.place.name;
}

std::vector<PathCase> PathCases()
{
    std::vector<PathCase> cases;
    for (const PlaceCase& place : kPlaces)
        for (bool right : {true, false})
            cases.push_back({place, right});
    return cases;
}

// "中" (D6 D0), and the most characters a folder name gets here: 40
// double-byte characters are 80 bytes in code page 936 and 120 in the UTF-8
// of Wine's Unix file names, under the 255-byte limit of a name.
const std::string kWideCharacter = "\xD6\xD0";
constexpr size_t kCharactersPerFolder = 40;

// A folder chain (relative to `base`) for which base\chain\fileName is
// exactly `bytes` long: folders of double-byte characters, the last one
// ending in an ASCII byte when an odd count is left. Empty when `bytes` is
// too short for any chain.
std::string ChainForModuleLength(const std::string& base, const std::string& fileName, size_t bytes)
{
    size_t fixed = base.size() + 1 + 1 + fileName.size();
    if (bytes <= fixed)
        return {};
    size_t left = bytes - fixed;
    const size_t fullFolder = 2 * kCharactersPerFolder;
    std::string chain;
    while (left > fullFolder + 1) {
        for (size_t i = 0; i < kCharactersPerFolder; ++i)
            chain += kWideCharacter;
        chain += "\\";
        left -= fullFolder + 1;
    }
    for (; left >= 2; left -= 2)
        chain += kWideCharacter;
    if (left == 1)
        chain += "p";
    return chain;
}

int CharactersOf(const std::string& path)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0) - 1;
}

// Wine starts an image, and the ANSI file calls reach a file, whose path
// has at most this many characters.
constexpr int kLongestPath = 259;

// The longest chain for which base\chain\fileName still has no more than
// 259 characters. With "yylauncher.exe" as the name, every file of a host
// folder fits.
std::string LongestChain(const std::string& base, const std::string& fileName)
{
    for (size_t bytes = 2 * kLongestPath; bytes > base.size(); --bytes) {
        std::string chain = ChainForModuleLength(base, fileName, bytes);
        if (!chain.empty() && CharactersOf(JoinPath(JoinPath(base, chain), fileName)) <= kLongestPath)
            return chain;
    }
    return {};
}

class PathTest : public ProgramTest, public ::testing::WithParamInterface<PathCase> {};

// Wherever the program stands, the right folder takes the lock with nothing
// shown and the folder without "yylauncher.exe" shows the long notice (so
// "YY.exe" was found beside the program), each run ending with 0; a file
// name ending in ".tmp" clears the first three bytes of the section first,
// any other leaves it alone; the guard's value is written on the notice
// path only.
TEST_P(PathTest, ProgramFindsItsFolder)
{
    const PathCase& c = GetParam();
    const FolderState state = {true, c.rightFolder, false};
    const Outcome outcome = c.rightFolder ? Outcome::Lock : Outcome::LongNotice;

    std::string exe;
    std::unique_ptr<TemporaryDrive> drive;
    switch (c.place.where) {
    case Where::Folder:
        exe = PlaceScene(scratch_, c.place.folder, state, ProgramPath(), c.place.fileName);
        break;
    case Where::ExactLength: {
        std::string chain = ChainForModuleLength(scratch_.Path(), c.place.fileName, c.place.moduleBytes);
        ASSERT_FALSE(chain.empty()) << "the scratch folder's path is too long for " << c.place.moduleBytes << " bytes";
        exe = PlaceScene(scratch_, chain, state, ProgramPath(), c.place.fileName);
        ASSERT_EQ(exe.size(), c.place.moduleBytes) << "module path built: " << exe;
        break;
    }
    case Where::Longest: {
        std::string chain = LongestChain(scratch_.Path(), kLauncherExe);
        ASSERT_FALSE(chain.empty());
        exe = PlaceScene(scratch_, chain, state, ProgramPath(), c.place.fileName);
        ASSERT_GT(exe.size(), 400u) << "module path built: " << exe;
        break;
    }
    case Where::DriveRoot: {
        std::string root = scratch_.MakeFolder("drive");
        ASSERT_FALSE(root.empty());
        drive = std::make_unique<TemporaryDrive>(root);
        ASSERT_TRUE(drive->Mapped()) << drive->Problem();
        ASSERT_FALSE(PlaceScene(scratch_, "drive", state, ProgramPath(), c.place.fileName).empty());
        exe = drive->Drive() + "\\" + c.place.fileName;
        ASSERT_TRUE(PathExists(exe)) << "the program is not seen through the drive";
        break;
    }
    }
    ASSERT_FALSE(exe.empty()) << "cannot place the program at " << HexBytes(c.place.folder);
    int characters = CharactersOf(exe);
    ASSERT_GT(characters, 0) << "not a valid code page 936 path: " << HexBytes(exe);
    ASSERT_LE(characters, kLongestPath) << "Wine would not start an image path this long";
    const std::string marker = std::string("untouched") + '\0';
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, marker));
    handshake::Section section;
    ASSERT_TRUE(section.Created()) << "the section's name is taken";

    {
        WatchedRun run(exe);
        ExpectOutcome(run, outcome);
    }
    EXPECT_EQ(HexBytes(section.Bytes(4)), c.place.signals ? "00 00 00 04" : "01 02 03 04");
    EXPECT_EQ(section.FirstChangeFromOffset3(), 0u) << "a byte from offset 3 on changed";
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    if (c.rightFolder) {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << "a right-folder run wrote the guard's value";
        EXPECT_EQ(value.data, marker);
    } else {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(HexBytes(value.data), "00 00 00 00");
    }
    std::cout << "[ path     ] " << exe.size() << " bytes, " << characters << " characters" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Places, PathTest, ::testing::ValuesIn(PathCases()), PathCaseName);

} // namespace
} // namespace yytest
