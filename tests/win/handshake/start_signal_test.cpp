// The start signal seen from the section's side: the test owns the section,
// fills it with 01 02 03 ..., starts copies of the program under different
// file names and reads the section back once the copy has ended, or while
// its notice is up.
#include "section_stage.h"

#include "win/support/dialogs.h"
#include "win/support/process.h"
#include "win/support/scratch.h"

#include <gtest/gtest.h>

using handshake::Section;
using handshake::SectionExists;
using yytest::HexBytes;

namespace {

const DWORD kExitWaitMs = 15000;
const DWORD kDialogWaitMs = 15000;

// The signal, and the pattern from offset 3 on.
const char kSignalled[] = "00 00 00 04 05 06 07 08";
const char kUntouched[] = "01 02 03 04 05 06 07 08";

// "提示:" and "请放到YY目录下运行!", the notice shown when YY.exe is missing.
const char kNoticeTitle[] = "\xCC\xE1\xCA\xBE:";
const char kShortNotice[] = "\xC7\xEB\xB7\xC5\xB5\xBD" "YY" "\xC4\xBF\xC2\xBC\xCF\xC2\xD4\xCB\xD0\xD0" "!";

class StartSignal : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_FALSE(yytest::ProgramPath().empty()) << "YYGATE_EXE is not set"; }

    // Starts the program under `name` in a stand-in YY folder, where it ends
    // at once, and waits for its end: then the section holds all it wrote.
    static void RunInHostFolder(const char* name)
    {
        yytest::ScratchFolder folder;
        ASSERT_FALSE(folder.MakeFile("YY.exe").empty());
        ASSERT_FALSE(folder.MakeFile("yylauncher.exe").empty());
        std::string copy = folder.PlaceProgram(name);
        ASSERT_FALSE(copy.empty()) << "could not copy the program to " << name;
        yytest::ChildProcess child(copy, {});
        ASSERT_TRUE(child.Started()) << "could not start " << copy << ": error " << child.StartError();
        std::optional<DWORD> exitCode = child.WaitForExit(kExitWaitMs);
        ASSERT_TRUE(exitCode.has_value()) << name << " did not end";
        EXPECT_EQ(*exitCode, 0u);
    }
};

class NamesThatSignal : public StartSignal {};
class NamesThatDoNotSignal : public StartSignal {};

TEST_P(NamesThatSignal, ClearTheFirstThreeBytesAndNothingElse)
{
    Section section;
    ASSERT_TRUE(section.Created());
    ASSERT_NO_FATAL_FAILURE(RunInHostFolder(GetParam()));
    EXPECT_EQ(HexBytes(section.Bytes(8)), kSignalled);
    EXPECT_EQ(section.FirstChangeFromOffset3(), 0u) << "a byte from offset 3 on changed";
}

// Any letter case of ".tmp"; an 8.3 short name, all in capitals; a name that
// is the suffix alone.
INSTANTIATE_TEST_SUITE_P(TemporaryNames, NamesThatSignal,
                         ::testing::Values("yygate.tmp", "YYGATE.TMP", "yygate.Tmp", "YYGATE~1.TMP", ".tmp"));

TEST_P(NamesThatDoNotSignal, LeaveTheSectionUntouched)
{
    Section section;
    ASSERT_TRUE(section.Created());
    ASSERT_NO_FATAL_FAILURE(RunInHostFolder(GetParam()));
    EXPECT_EQ(HexBytes(section.Bytes(8)), kUntouched);
    EXPECT_EQ(section.FirstChangeFromOffset3(), 0u);
}

// "tmp": shorter than the suffix; "xtmp": four bytes ending in tmp, but no
// full stop; "tool.tmp.exe": .tmp inside the name, not at its end.
INSTANTIATE_TEST_SUITE_P(OtherNames, NamesThatDoNotSignal,
                         ::testing::Values("tool.exe", "tmp", "xtmp", "tool.tmp.exe"));

// Outside the YY folder: the bytes are already zero while the notice is up,
// and the copy ends with 0 once the notice is dismissed.
TEST_F(StartSignal, TemporaryCopyOutsideHostFolderSignalsBeforeItsNotice)
{
    Section section;
    ASSERT_TRUE(section.Created());
    yytest::ScratchFolder folder;
    std::string copy = folder.PlaceProgram("yygate.tmp");
    ASSERT_FALSE(copy.empty());
    yytest::ChildProcess child(copy, {});
    ASSERT_TRUE(child.Started());

    HWND notice = yytest::WaitForDialog(child.Id(), kDialogWaitMs, child.Handle());
    ASSERT_NE(notice, nullptr) << "no notice appeared";
    EXPECT_EQ(HexBytes(section.Bytes(8)), kSignalled) << "read while the notice is up";
    EXPECT_EQ(section.FirstChangeFromOffset3(), 0u);
    EXPECT_EQ(HexBytes(yytest::ReadDialog(notice).text), HexBytes(kShortNotice));

    ASSERT_TRUE(yytest::PressOk(notice));
    std::optional<DWORD> exitCode = child.WaitForExit(kExitWaitMs);
    ASSERT_TRUE(exitCode.has_value()) << "the copy did not end after OK";
    EXPECT_EQ(*exitCode, 0u);
}

// With no section anywhere the copy neither fails nor makes one: it goes on
// to the folder check and shows its notice like any other copy.
TEST_F(StartSignal, TemporaryCopyWithoutSectionGoesOnToItsNotice)
{
    ASSERT_FALSE(SectionExists()) << "a section of that name exists before the test";
    yytest::ScratchFolder folder;
    std::string copy = folder.PlaceProgram("yygate.tmp");
    ASSERT_FALSE(copy.empty());
    yytest::ChildProcess child(copy, {});
    ASSERT_TRUE(child.Started());

    HWND notice = yytest::WaitForDialog(child.Id(), kDialogWaitMs, child.Handle());
    ASSERT_NE(notice, nullptr) << "no notice appeared";
    EXPECT_FALSE(SectionExists()) << "the copy created the section";
    yytest::DialogContents contents = yytest::ReadDialog(notice);
    EXPECT_EQ(HexBytes(contents.caption), HexBytes(kNoticeTitle));
    EXPECT_EQ(HexBytes(contents.text), HexBytes(kShortNotice));

    ASSERT_TRUE(yytest::PressOk(notice));
    std::optional<DWORD> exitCode = child.WaitForExit(kExitWaitMs);
    ASSERT_TRUE(exitCode.has_value()) << "the copy did not end after OK";
    EXPECT_EQ(*exitCode, 0u);
}

} // namespace
