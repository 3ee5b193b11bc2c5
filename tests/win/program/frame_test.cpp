// The program frame seen from outside: how a run starts and ends, that it
// ignores how it was started, and that it finds its own folder whatever the
// caller's current directory and however long or odd the folder's path.
#include "win/program/scene.h"

namespace yytest {
namespace {

// How a copy is started; every way must behave like the plain start.
struct StartWay {
    const char* name;
    bool fromElsewhere;      // current directory: another folder, not the test's
    const char* arguments;
    int showWindow;          // -1: no STARTUPINFO show request
};

const StartWay kStartWays[] = {
    {"plain", false, "", -1},
    {"from_another_current_directory", true, "", -1},
    {"with_arguments", false, "/install --silent \"C:\\a b\" 42", -1},
    {"asked_to_hide", false, "", SW_HIDE},
    {"asked_to_start_minimised", false, "", SW_MINIMIZE},
    {"all_of_these", true, "-x yy2 \xC7\xEB", SW_SHOWMINNOACTIVE},
};

struct StartCase {
    StartWay way;
    bool rightFolder;
};

std::string StartCaseName(const ::testing::TestParamInfo<StartCase>& info)
{
    return std::string(info.param.rightFolder ? "right_folder_" : "wrong_folder_") + info.param.way.name;
}

std::vector<StartCase> StartCases()
{
    std::vector<StartCase> cases;
    for (bool right : {true, false})
        for (const StartWay& way : kStartWays)
            cases.push_back({way, right});
    return cases;
}

void PrintTo(const StartCase& c, std::ostream* os)
{
    *os << c.way.name;
}

class StartTest : public ProgramTest, public ::testing::WithParamInterface<StartCase> {};

// In the right folder the run takes the launch lock and ends at once,
// showing nothing; in a wrong folder the notice stays until it is dismissed
// and the run then ends with 0. Arguments and show-window requests change
// neither.
TEST_P(StartTest, BehavesAsThePlainStart)
{
    const StartCase& c = GetParam();
    std::string exe = PlaceScene(scratch_, "host", {c.rightFolder, c.rightFolder, false});
    ASSERT_FALSE(exe.empty());
    StartOptions options;
    options.arguments = c.way.arguments;
    options.showWindow = c.way.showWindow;
    if (c.way.fromElsewhere)
        options.currentDirectory = scratch_.MakeFolder("elsewhere");

    WatchedRun run(exe, options);
    if (c.rightFolder)
        ExpectLockRun(run);
    else
        ExpectNoticeRun(run, kShortNotice);
}

INSTANTIATE_TEST_SUITE_P(Ways, StartTest, ::testing::ValuesIn(StartCases()), StartCaseName);

// Start-up makes the program's folder the current directory, and
// "yylauncher.exe" is looked for there by its bare name: what the caller's
// current directory holds does not count.
struct CurrentDirectoryCase {
    const char* name;
    FolderState programFolder;
    FolderState callerFolder;
    Outcome outcome;
};

const CurrentDirectoryCase kCurrentDirectoryCases[] = {
    {"caller_folder_empty", {true, true, false}, {false, false, false}, Outcome::Lock},
    {"launcher_only_beside_the_caller", {true, false, false}, {true, true, false}, Outcome::LongNotice},
    {"both_only_beside_the_caller", {false, false, false}, {true, true, false}, Outcome::ShortNotice},
};

void PrintTo(const CurrentDirectoryCase& c, std::ostream* os)
{
    *os << c.name;
}

class CurrentDirectoryTest : public ProgramTest, public ::testing::WithParamInterface<CurrentDirectoryCase> {};

TEST_P(CurrentDirectoryTest, FilesAreLookedForInTheProgramsFolder)
{
    const CurrentDirectoryCase& c = GetParam();
    std::string exe = PlaceScene(scratch_, "host", c.programFolder);
    ASSERT_FALSE(exe.empty());
    // The caller's folder gets a program copy too, so it looks like a host
    // folder in every respect but the one that matters.
    ASSERT_FALSE(PlaceScene(scratch_, "caller", c.callerFolder).empty());
    StartOptions options;
    options.currentDirectory = JoinPath(scratch_.Path(), "caller");

    WatchedRun run(exe, options);
    ExpectOutcome(run, c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Folders, CurrentDirectoryTest, ::testing::ValuesIn(kCurrentDirectoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Folder names the program must split its own path through correctly.
//
// Long paths: more than 260 bytes (the program's first buffer) but fewer
// than 260 characters (Wine's CreateProcess refuses longer image paths),
// made of double-byte folder names. The first buffer then ends either
// between two characters or inside one, depending on where the 260th byte
// falls; the conversion to the ANSI code page never writes half a
// character, so the second case comes back one byte short of the buffer.
//
// The pair 81 5C: a double-byte character whose second byte is a
// backslash, in a folder name and in the program's own file name (there a
// byte-wise scan would split inside the character).
struct PathCase {
    const char* name;
    enum Kind { LongSplitBetween, LongSplitInside, PairInFolder, PairInFileName } kind;
};

// "中" in code page 936 (D6 D0).
const std::string kWideCharacter = "\xD6\xD0";
// A character whose second byte is 0x5C.
const std::string kPair815C = "\x81\x5C";
constexpr size_t kFirstBufferSize = 260;

// Six folders of 20 double-byte characters each, enough for a module path
// past 260 bytes; `pad` ASCII bytes in the first shift where byte 260 falls.
std::string LongFolderChain(size_t pad)
{
    std::string chain;
    for (int folder = 0; folder < 6; ++folder) {
        if (folder > 0)
            chain += "\\";
        for (int i = 0; i < 20; ++i)
            chain += kWideCharacter;
        if (folder == 0)
            chain += std::string(pad, 'p');
    }
    return chain;
}

// Where the character holding byte `index` of `path` starts, and its length.
std::pair<size_t, size_t> CharacterAt(const std::string& path, size_t index)
{
    size_t i = 0;
    for (;;) {
        size_t length = IsDBCSLeadByte(static_cast<BYTE>(path[i])) ? 2 : 1;
        if (i + length > index)
            return {i, length};
        i += length;
    }
}

// The folder (relative to the scratch folder) and the program's file name.
struct PathShape {
    std::string folder;
    std::string fileName;
};

bool ShapeFor(PathCase::Kind kind, const std::string& scratchPath, PathShape* shape)
{
    switch (kind) {
    case PathCase::PairInFolder:
        *shape = {"a" + kPair815C + "b\\" + kPair815C, kProgramName};
        return true;
    case PathCase::PairInFileName:
        *shape = {"plain", kPair815C + "gate.exe"};
        return true;
    case PathCase::LongSplitBetween:
    case PathCase::LongSplitInside:
        for (size_t pad = 0; pad < 4; ++pad) {
            std::string folder = LongFolderChain(pad);
            std::string path = JoinPath(JoinPath(scratchPath, folder), kProgramName);
            if (path.size() <= kFirstBufferSize)
                return false;
            // The character that holds the buffer's last byte (index 259).
            auto [start, length] = CharacterAt(path, kFirstBufferSize - 1);
            if (length != 2)
                continue;
            bool inside = start == kFirstBufferSize - 1;
            if (inside == (kind == PathCase::LongSplitInside)) {
                *shape = {folder, kProgramName};
                return true;
            }
        }
        return false;
    }
    return false;
}

struct PathSceneCase {
    PathCase path;
    FolderState state;
    Outcome outcome;
};

std::vector<PathSceneCase> PathSceneCases()
{
    const PathCase paths[] = {
        {"long_path_buffer_ends_between_characters", PathCase::LongSplitBetween},
        {"long_path_buffer_ends_inside_a_character", PathCase::LongSplitInside},
        {"pair_81_5C_in_folder_names", PathCase::PairInFolder},
        {"pair_81_5C_in_program_name", PathCase::PairInFileName},
    };
    const std::pair<FolderState, Outcome> scenes[] = {
        {{true, true, false}, Outcome::Lock},
        {{true, false, false}, Outcome::LongNotice},
        {{false, false, false}, Outcome::ShortNotice},
    };
    std::vector<PathSceneCase> cases;
    for (const PathCase& path : paths)
        for (const auto& scene : scenes)
            cases.push_back({path, scene.first, scene.second});
    return cases;
}

std::string PathSceneName(const ::testing::TestParamInfo<PathSceneCase>& info)
{
    const char* outcome = info.param.outcome == Outcome::Lock          ? "_right_folder"
                          : info.param.outcome == Outcome::LongNotice ? "_launcher_missing"
                                                                        : "_both_missing";
    return std::string(info.param.path.name) + outcome;
}

void PrintTo(const PathSceneCase& c, std::ostream* os)
{
    *os << c.path.name;
}

class PathTest : public ProgramTest, public ::testing::WithParamInterface<PathSceneCase> {};

// The right folder still takes the lock, and each wrong folder still gets
// its own notice: the program found its folder through the whole path.
TEST_P(PathTest, ProgramFindsItsFolder)
{
    const PathSceneCase& c = GetParam();
    PathShape shape;
    ASSERT_TRUE(ShapeFor(c.path.kind, scratch_.Path(), &shape)) << "no path of the wanted shape";
    std::string exe = PlaceScene(scratch_, shape.folder, c.state, ProgramPath(), shape.fileName);
    ASSERT_FALSE(exe.empty()) << "cannot place the program at " << HexBytes(shape.folder);
    if (c.path.kind == PathCase::LongSplitBetween || c.path.kind == PathCase::LongSplitInside) {
        int characters = MultiByteToWideChar(CP_ACP, 0, exe.c_str(), -1, nullptr, 0) - 1;
        ASSERT_GT(exe.size(), kFirstBufferSize);
        ASSERT_LT(characters, 260);
    }

    WatchedRun run(exe, {});
    ExpectOutcome(run, c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathTest, ::testing::ValuesIn(PathSceneCases()), PathSceneName);

} // namespace
} // namespace yytest
