// The program's names already taken by objects it does not expect: "yy2"
// by an object of another kind, the guard's event name by a mutex, and the
// start-signal section by a section the copy may not write. The program
// examines none of these results; each copy must still end with 0, show no
// message beyond the notice its folder calls for, and leave the squatting
// object as it found it.
#include "win/program/scene.h"

#include <sddl.h>

#include <cstring>
#include <functional>
#include <memory>

namespace yytest {
namespace {

// The folder states and what a copy in each must show.
struct SceneCase {
    const char* name;
    FolderState state;
    Outcome outcome;
};

const SceneCase kRightFolder = {"right_folder", {true, true, false}, Outcome::Lock};
const SceneCase kHostExeMissing = {"host_exe_missing", {false, false, false}, Outcome::ShortNotice};
const SceneCase kLauncherMissing = {"launcher_missing", {true, false, false}, Outcome::LongNotice};

const std::string& NoticeOf(Outcome outcome)
{
    return outcome == Outcome::LongNotice ? kLongNotice : kShortNotice;
}

// The guard's value holds this before a run; only a copy on a notice path
// replaces it (with the REG_DWORD 0).
const std::string kMarker = std::string("untouched") + '\0';

void ExpectGuardValueAfter(Outcome outcome)
{
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    if (outcome == Outcome::Lock) {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << "a right-folder run wrote the guard's value";
        EXPECT_EQ(value.data, kMarker);
    } else {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(HexBytes(value.data), "00 00 00 00");
    }
}

// ---------------------------------------------------------------------------
// "yy2" taken by an object of another kind.

// A kernel object that holds a name, and a look at whether it is still
// what the test made (its kind and, where it has one, its state).
struct Squatter {
    HANDLE handle = nullptr;
    bool existed = false;   // the name was taken before the test
    std::function<bool()> unchanged;
    ~Squatter()
    {
        if (handle != nullptr)
            CloseHandle(handle);
    }
};

struct LockSquatCase {
    const char* name;
    std::function<std::unique_ptr<Squatter>(const std::string&)> make;
};

void PrintTo(const LockSquatCase& c, std::ostream* os)
{
    *os << c.name;
}

std::unique_ptr<Squatter> MakeEvent(const std::string& name)
{
    auto squatter = std::make_unique<Squatter>();
    SetLastError(0);
    squatter->handle = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    squatter->existed = GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE event = squatter->handle;
    // Still an event, still not signalled.
    squatter->unchanged = [event, name] {
        HANDLE opened = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
        if (opened == nullptr)
            return false;
        CloseHandle(opened);
        return WaitForSingleObject(event, 0) == WAIT_TIMEOUT;
    };
    return squatter;
}

std::unique_ptr<Squatter> MakeSemaphore(const std::string& name)
{
    auto squatter = std::make_unique<Squatter>();
    SetLastError(0);
    squatter->handle = CreateSemaphoreA(nullptr, 2, 5, name.c_str());
    squatter->existed = GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE semaphore = squatter->handle;
    // Still a semaphore with its count of 2: releasing one gives back 2.
    squatter->unchanged = [semaphore, name] {
        HANDLE opened = OpenSemaphoreA(SYNCHRONIZE, FALSE, name.c_str());
        if (opened == nullptr)
            return false;
        CloseHandle(opened);
        LONG previous = -1;
        if (!ReleaseSemaphore(semaphore, 1, &previous))
            return false;
        WaitForSingleObject(semaphore, 0);
        return previous == 2;
    };
    return squatter;
}

std::unique_ptr<Squatter> MakeSection(const std::string& name)
{
    auto squatter = std::make_unique<Squatter>();
    SetLastError(0);
    squatter->handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    squatter->existed = GetLastError() == ERROR_ALREADY_EXISTS;
    squatter->unchanged = [name] {
        HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
        if (opened == nullptr)
            return false;
        CloseHandle(opened);
        return true;
    };
    return squatter;
}

const LockSquatCase kLockSquatCases[] = {
    {"event", MakeEvent},
    {"semaphore", MakeSemaphore},
    {"section", MakeSection},
};

class LaunchLockSquatTest : public ProgramTest, public ::testing::WithParamInterface<LockSquatCase> {};

// CreateMutexA fails on a name that another kind of object holds; the
// program does not look at that. A right-folder copy still calls it once
// for "yy2", shows nothing, never meets the guard and ends with 0, and the
// object keeps its name, kind and state.
TEST_P(LaunchLockSquatTest, RightFolderCopyEndsQuietly)
{
    std::string exe = PlaceScene(scratch_, "host", kRightFolder.state);
    ASSERT_FALSE(exe.empty());
    std::unique_ptr<Squatter> squatter = GetParam().make(kLaunchLockName);
    ASSERT_NE(squatter->handle, nullptr) << "cannot make the squatting object";
    ASSERT_FALSE(squatter->existed) << "the name \"yy2\" was taken before the test";
    ASSERT_TRUE(squatter->unchanged());
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker));

    WatchedRun run(exe);
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    EXPECT_EQ(FirstWindowShown(run.Id(), run.Handle(), kEndWait), "") << "a window of the copy was seen";
    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the copy did not end";
    EXPECT_EQ(Hex(*code), Hex(0));
    std::vector<TracedCall> locks = run.Trace().CallsTo("CreateMutexA");
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].textAt[2], kLaunchLockName);
    EXPECT_TRUE(run.Trace().CallsTo("MessageBoxA").empty());
    EXPECT_TRUE(run.Trace().CallsTo("NtUserCreateWindowEx").empty()) << "a window was created";
    EXPECT_TRUE(run.Trace().CallsTo("OpenEventA").empty()) << "a right-folder run never meets the guard";
    ASSERT_TRUE(run.Exit().seen);
    EXPECT_EQ(run.Exit().launchLock, MutexSeen::Missing) << "a mutex \"yy2\" when the copy ends";
    EXPECT_FALSE(run.Exit().guardEvent);
    EXPECT_EQ(run.Trace().Problems(), "");
    EXPECT_TRUE(squatter->unchanged()) << "the squatting object changed";
    ExpectGuardValueAfter(Outcome::Lock);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LaunchLockSquatTest, ::testing::ValuesIn(kLockSquatCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The guard's event name taken by a mutex.

class GuardSquatTest : public ProgramTest, public ::testing::WithParamInterface<SceneCase> {};

constexpr int kCopiesPastTheSquattedGuard = 3;

// OpenEventA fails on a name that a mutex holds (ERROR_INVALID_HANDLE, a
// kind mismatch, not "found"), and so does CreateEventA, which returns NULL;
// Wine does exactly what Windows documents here. The guard reads a
// failed open as "no other copy" and does not look at the failed create, so
// every copy passes it as a first copy, writes the REG_DWORD 0 and shows its
// notice, yet none leaves a marker that could stop the next one. With the
// name squatted the guard therefore stops nobody: three copies started one
// after the other each show the notice of their folder at the same time, and
// each ends with 0 once its own notice is dismissed.
TEST_P(GuardSquatTest, EveryCopyShowsItsNotice)
{
    const SceneCase& c = GetParam();
    SetLastError(0);
    HANDLE squatter = CreateMutexA(nullptr, TRUE, kGuardEventName.c_str());
    ASSERT_NE(squatter, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the guard's name was taken before the test";
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker));

    std::vector<std::unique_ptr<WatchedRun>> runs;
    std::vector<HWND> boxes;
    for (int i = 0; i < kCopiesPastTheSquattedGuard; ++i) {
        SCOPED_TRACE("copy " + std::to_string(i + 1));
        std::string exe = PlaceScene(scratch_, "copy" + std::to_string(i), c.state);
        ASSERT_FALSE(exe.empty());
        runs.push_back(std::make_unique<WatchedRun>(exe));
        WatchedRun& run = *runs.back();
        ASSERT_TRUE(run.Started()) << run.Trace().Problems();
        HWND box = WaitForDialog(run.Id(), kBoxWait, run.Handle());
        ASSERT_NE(box, nullptr) << "no notice while the guard's name is a mutex";
        ExpectNoticeBox(ReadDialog(box), NoticeOf(c.outcome));
        boxes.push_back(box);
    }
    // All notices are up together, one per copy.
    for (size_t i = 0; i < runs.size(); ++i)
        EXPECT_EQ(DialogsOf(runs[i]->Id()).size(), 1u) << "copy " << i + 1;
    ExpectGuardValueAfter(c.outcome);

    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE("copy " + std::to_string(i + 1));
        WatchedRun& run = *runs[i];
        ASSERT_TRUE(PressOk(boxes[i]));
        std::optional<DWORD> code = run.WaitForExit();
        ASSERT_TRUE(code.has_value()) << "the copy did not end after its notice";
        EXPECT_EQ(Hex(*code), Hex(0));
        ExpectOneMessageBoxCall(run.Trace(), NoticeOf(c.outcome), kNoticeCaption, kNoticeStyle);
        std::vector<TracedCall> opens = run.Trace().CallsTo("OpenEventA");
        std::vector<TracedCall> creates = run.Trace().CallsTo("CreateEventA");
        ASSERT_EQ(opens.size(), 1u);
        ASSERT_EQ(creates.size(), 1u);
        EXPECT_EQ(HexBytes(opens[0].textAt[2]), HexBytes(kGuardEventName));
        EXPECT_EQ(HexBytes(creates[0].textAt[3]), HexBytes(kGuardEventName));
        EXPECT_TRUE(run.Trace().CallsTo("CreateMutexA").empty());
        EXPECT_FALSE(run.Exit().guardEvent);
        EXPECT_EQ(run.Trace().Problems(), "");
    }
    // The name still belongs to the test's mutex.
    HANDLE still = OpenMutexA(SYNCHRONIZE, FALSE, kGuardEventName.c_str());
    EXPECT_NE(still, nullptr) << "the guard's name no longer names a mutex";
    if (still != nullptr)
        CloseHandle(still);
    EXPECT_FALSE(EventExists(kGuardEventName));
    ReleaseMutex(squatter);
    CloseHandle(squatter);
}

INSTANTIATE_TEST_SUITE_P(Folders, GuardSquatTest, ::testing::Values(kHostExeMissing, kLauncherMissing),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The start-signal section held where the copy may not write.

// "Ｌｕｍｅｎ－ＴＱ"
const std::string kSectionName = "\xA3\xCC\xA3\xF5\xA3\xED\xA3\xE5\xA3\xEE\xA3\xAD\xA3\xD4\xA3\xD1";
constexpr DWORD kSignalAccess = FILE_MAP_READ | FILE_MAP_WRITE;
constexpr size_t kSectionSize = 4096;

// One page of 01 02 03 ... FF 01 ..., no zero byte anywhere.
std::string Pattern()
{
    std::string bytes(kSectionSize, '\0');
    for (size_t i = 0; i < kSectionSize; ++i)
        bytes[i] = static_cast<char>(i % 255 + 1);
    return bytes;
}

// A section the copy can open but not map for writing (PAGE_READONLY,
// backed by a file holding the pattern), or one whose security lets
// everyone map it for reading only, so that the copy's open for read and
// write is refused.
enum class Refusal { ReadOnlyPages, ReadOnlyAccess };

struct SectionCase {
    const char* name;
    Refusal refusal;
    SceneCase scene;
};

void PrintTo(const SectionCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadOnlySection {
public:
    ReadOnlySection(Refusal refusal, const std::string& patternFile)
    {
        if (refusal == Refusal::ReadOnlyPages) {
            file_ = CreateFileA(patternFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file_ == INVALID_HANDLE_VALUE)
                return;
            SetLastError(0);
            handle_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, kSectionName.c_str());
        } else {
            // Everyone: FILE_MAP_READ and the standard read rights only.
            SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;0x00020004;;;WD)", SDDL_REVISION_1,
                                                                      &attributes.lpSecurityDescriptor, nullptr))
                return;
            SetLastError(0);
            handle_ = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kSectionSize,
                                         kSectionName.c_str());
            LocalFree(attributes.lpSecurityDescriptor);
        }
        if (handle_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
            return;
        // The creator's own handle has every right the section allows.
        DWORD access = refusal == Refusal::ReadOnlyPages ? FILE_MAP_READ : kSignalAccess;
        view_ = static_cast<unsigned char*>(MapViewOfFile(handle_, access, 0, 0, kSectionSize));
        if (view_ != nullptr && refusal == Refusal::ReadOnlyAccess) {
            std::string pattern = Pattern();
            memcpy(view_, pattern.data(), kSectionSize);
        }
    }
    ~ReadOnlySection()
    {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        if (handle_ != nullptr)
            CloseHandle(handle_);
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    ReadOnlySection(const ReadOnlySection&) = delete;
    ReadOnlySection& operator=(const ReadOnlySection&) = delete;

    bool Created() const { return view_ != nullptr; }
    std::string Bytes() const { return std::string(reinterpret_cast<const char*>(view_), kSectionSize); }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE handle_ = nullptr;
    unsigned char* view_ = nullptr;
};

// What a process of the test's user meets when it asks for the section the
// way the program does: "opened, map refused", "open refused" or "opened and
// mapped".
std::string WhatTheSignalMeets()
{
    HANDLE opened = OpenFileMappingA(kSignalAccess, FALSE, kSectionName.c_str());
    if (opened == nullptr)
        return "open refused (error " + std::to_string(GetLastError()) + ")";
    void* view = MapViewOfFile(opened, kSignalAccess, 0, 0, 0);
    DWORD error = GetLastError();
    CloseHandle(opened);
    if (view == nullptr)
        return "opened, map refused (error " + std::to_string(error) + ")";
    UnmapViewOfFile(view);
    return "opened and mapped";
}

class SectionSquatTest : public ProgramTest, public ::testing::WithParamInterface<SectionCase> {};

// A temporary copy that cannot write the section: no crash, not a byte of
// the section changed, and the copy goes on to the folder check exactly as
// a copy without a section would (the lock, or its notice and then 0).
TEST_P(SectionSquatTest, TemporaryCopyGoesOnToTheFolderCheck)
{
    const SectionCase& c = GetParam();
    std::string patternFile = scratch_.MakeFile("pattern.bin", Pattern());
    ASSERT_FALSE(patternFile.empty());
    ReadOnlySection section(c.refusal, patternFile);
    ASSERT_TRUE(section.Created()) << "cannot hold the section (its name taken before the test?)";
    ASSERT_EQ(HexBytes(section.Bytes().substr(0, 4)), "01 02 03 04");
    // The test runs as the same user as the copy, so what it meets asking
    // for read and write access is what the copy meets: this checks that
    // Wine enforces the refusal, so the copy really takes that road.
    std::string met = WhatTheSignalMeets();
    if (c.refusal == Refusal::ReadOnlyPages)
        ASSERT_EQ(met, "opened, map refused (error 5)");
    else
        ASSERT_EQ(met, "open refused (error 5)");

    std::string exe = PlaceScene(scratch_, "host", c.scene.state, ProgramPath(), "yygate.tmp");
    ASSERT_FALSE(exe.empty());
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker));
    {
        WatchedRun run(exe);
        ExpectOutcome(run, c.scene.outcome);
    }
    EXPECT_EQ(HexBytes(section.Bytes().substr(0, 8)), "01 02 03 04 05 06 07 08");
    EXPECT_TRUE(section.Bytes() == Pattern()) << "a byte of the section changed";
    if (c.refusal == Refusal::ReadOnlyPages)
        EXPECT_TRUE(ReadWholeFile(patternFile) == Pattern()) << "the file behind the section changed";
    ExpectGuardValueAfter(c.scene.outcome);
}

const SectionCase kSectionCases[] = {
    {"read_only_pages_right_folder", Refusal::ReadOnlyPages, kRightFolder},
    {"read_only_pages_host_exe_missing", Refusal::ReadOnlyPages, kHostExeMissing},
    {"read_only_access_right_folder", Refusal::ReadOnlyAccess, kRightFolder},
    {"read_only_access_host_exe_missing", Refusal::ReadOnlyAccess, kHostExeMissing},
};

INSTANTIATE_TEST_SUITE_P(Refusals, SectionSquatTest, ::testing::ValuesIn(kSectionCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace yytest
