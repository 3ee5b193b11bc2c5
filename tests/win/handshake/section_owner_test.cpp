// section-owner driven from outside: the report of a real handshake with
// the program, and each way the tool refuses or fails, with its message and
// exit code.
#include "section_stage.h"

#include "win/support/dialogs.h"
#include "win/support/process.h"
#include "win/support/scratch.h"

#include <gtest/gtest.h>

#include <cstdlib>

using handshake::RunSectionOwner;
using handshake::Section;
using handshake::SectionExists;
using handshake::ToolRun;
using yytest::JoinPath;
using yytest::PathExists;

namespace {

class SectionOwner : public ::testing::Test {
protected:
    void SetUp() override
    {
        program_ = yytest::ProgramPath();
        ASSERT_FALSE(program_.empty()) << "YYGATE_EXE is not set";
        ASSERT_FALSE(yytest::EnvironmentValue("YYGATE_TOOLS_DIR").empty()) << "YYGATE_TOOLS_DIR is not set";
    }

    // A run that did end, or the test stops here with what it printed.
    static void ExpectExit(const ToolRun& run, DWORD code)
    {
        ASSERT_TRUE(run.finished) << "section-owner did not end:\n" << run.output;
        EXPECT_EQ(run.exitCode, code) << run.output;
        EXPECT_EQ(run.Value("exit_code"), std::to_string(code)) << run.output;
    }

    std::string program_;
};

TEST_F(SectionOwner, ReportsTheSignalOfACopyInTheHostFolder)
{
    yytest::ScratchFolder folder;
    ASSERT_FALSE(folder.MakeFile("YY.exe").empty());
    ASSERT_FALSE(folder.MakeFile("yylauncher.exe").empty());
    ToolRun run = RunSectionOwner({program_, "--dir", folder.Path()});
    ExpectExit(run, 0);
    EXPECT_EQ(run.Value("section_name"), "A3 CC A3 F5 A3 ED A3 E5 A3 EE A3 AD A3 D4 A3 D1");
    EXPECT_EQ(run.Value("copy"), JoinPath(folder.Path(), "yygate.tmp"));
    EXPECT_EQ(run.Value("bytes_before"), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(run.Value("signal"), "yes");
    const std::string time = run.Value("signal_time_us");
    EXPECT_TRUE(!time.empty() && time.find_first_not_of("0123456789") == std::string::npos) << time;
    EXPECT_EQ(run.Value("bytes_after"), "00 00 00 04 05 06 07 08");
    EXPECT_EQ(run.Value("rest_unchanged"), "yes");
    EXPECT_EQ(run.Value("copy_state"), "ended");
    EXPECT_EQ(run.Value("copy_exit_code"), "0 (0x00000000)");
    EXPECT_EQ(run.Value("copy_removed"), "yes");
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
    EXPECT_FALSE(SectionExists()) << "the section outlived the tool";
}

// A copy outside the YY folder signals, then waits at its notice; with an
// exit wait of 0 the tool ends it and still removes the file.
TEST_F(SectionOwner, EndsACopyThatIsStillRunningAfterTheExitWait)
{
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({program_, "--dir", folder.Path(), "--name", "YYGATE~1.TMP", "--exit-wait", "0"});
    ExpectExit(run, 0);
    EXPECT_EQ(run.Value("signal"), "yes");
    EXPECT_EQ(run.Value("bytes_after"), "00 00 00 04 05 06 07 08");
    EXPECT_EQ(run.Value("copy_state"), "still running after 0 ms, ended by section-owner");
    EXPECT_EQ(run.Value("copy_removed"), "yes");
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "YYGATE~1.TMP")));
}

// Asked to leave it, the tool ends without the copy: the copy still shows
// its notice and its file stays.
TEST_F(SectionOwner, LeavesACopyRunningWhenAsked)
{
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({program_, "--dir", folder.Path(), "--exit-wait", "0", "--leave-running"});
    DWORD copyId = std::strtoul(run.Value("copy_pid").c_str(), nullptr, 10);
    HANDLE copy = copyId != 0 ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, copyId) : nullptr;
    bool stillRunning = copy != nullptr && WaitForSingleObject(copy, 0) == WAIT_TIMEOUT;
    bool showsNotice = copyId != 0 && yytest::WaitForDialog(copyId, 15000, copy) != nullptr;
    if (copy != nullptr) {
        TerminateProcess(copy, yytest::kTerminatedByTest);
        WaitForSingleObject(copy, 5000);
        CloseHandle(copy);
    }
    ExpectExit(run, 0);
    EXPECT_EQ(run.Value("signal"), "yes");
    EXPECT_EQ(run.Value("copy_state"), "still running after 0 ms, left running");
    EXPECT_EQ(run.Value("copy_removed"), "no, the copy is still running");
    EXPECT_TRUE(stillRunning) << "the copy was not running after the tool ended";
    EXPECT_TRUE(showsNotice);
    EXPECT_TRUE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
}

TEST_F(SectionOwner, RefusesWhenThereIsNoProgramToCopy)
{
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({JoinPath(folder.Path(), "missing.exe"), "--dir", folder.Path()});
    ExpectExit(run, 2);
    EXPECT_EQ(run.Value("error"), "no program to copy: the file does not exist");
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
}

// The name already held by a section: the tool neither writes to it nor
// starts a copy.
TEST_F(SectionOwner, RefusesASectionNameHeldByAnotherSection)
{
    Section theirs;
    ASSERT_TRUE(theirs.Created());
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({program_, "--dir", folder.Path()});
    ExpectExit(run, 3);
    EXPECT_EQ(run.Value("error"), "section name taken: a section of this name exists already");
    EXPECT_EQ(run.Value("signal"), "<absent>");
    EXPECT_EQ(yytest::HexBytes(theirs.Bytes(4)), "01 02 03 04");
    EXPECT_EQ(theirs.FirstChangeFromOffset3(), 0u);
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
}

TEST_F(SectionOwner, RefusesASectionNameHeldByAnEvent)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, handshake::kSectionName);
    ASSERT_NE(event, nullptr);
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({program_, "--dir", folder.Path()});
    CloseHandle(event);
    ExpectExit(run, 3);
    EXPECT_EQ(run.Value("error"), "section name taken: another kind of object has this name");
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
}

// A copy named tool.exe never signals. Outside the YY folder it waits at its
// notice, so only the time limit ends the watch; in the YY folder it ends
// first, and the tool says so instead of waiting out the limit.
TEST_F(SectionOwner, ReportsACopyThatNeverSignals)
{
    {
        yytest::ScratchFolder folder;
        ToolRun run = RunSectionOwner(
            {program_, "--dir", folder.Path(), "--name", "tool.exe", "--signal-wait", "500", "--exit-wait", "0"});
        ExpectExit(run, 7);
        EXPECT_EQ(run.Value("error"), "time limit reached: no signal within 500 ms");
        EXPECT_EQ(run.Value("signal"), "no");
        EXPECT_EQ(run.Value("bytes_after"), "01 02 03 04 05 06 07 08");
        EXPECT_EQ(run.Value("copy_removed"), "yes");
        EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "tool.exe")));
    }
    {
        yytest::ScratchFolder folder;
        ASSERT_FALSE(folder.MakeFile("YY.exe").empty());
        ASSERT_FALSE(folder.MakeFile("yylauncher.exe").empty());
        ToolRun run = RunSectionOwner({program_, "--dir", folder.Path(), "--name", "tool.exe"});
        ExpectExit(run, 8);
        EXPECT_EQ(run.Value("error"), "the copy ended without giving the signal");
        EXPECT_EQ(run.Value("copy_exit_code"), "0 (0x00000000)");
        EXPECT_EQ(run.Value("bytes_after"), "01 02 03 04 05 06 07 08");
        EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "tool.exe")));
    }
}

// The copy cannot be made: a folder that does not exist, or a file of that
// name already there, which the tool leaves as it was.
TEST_F(SectionOwner, FailsWhenTheCopyCannotBeMade)
{
    yytest::ScratchFolder folder;
    ToolRun run = RunSectionOwner({program_, "--dir", JoinPath(folder.Path(), "no such folder")});
    ExpectExit(run, 5);
    EXPECT_EQ(run.Value("error").rfind("copy failed", 0), 0u) << run.Value("error");

    ASSERT_FALSE(folder.MakeFile("yygate.tmp", "someone else's file").empty());
    run = RunSectionOwner({program_, "--dir", folder.Path()});
    ExpectExit(run, 5);
    EXPECT_EQ(run.Value("error"), "copy failed: the file exists already");
    EXPECT_EQ(yytest::ReadWholeFile(JoinPath(folder.Path(), "yygate.tmp")), "someone else's file");
}

// A program that is no executable copies fine but does not start; the copy
// is removed all the same.
TEST_F(SectionOwner, FailsWhenTheCopyCannotBeStarted)
{
    yytest::ScratchFolder folder;
    ASSERT_FALSE(folder.MakeFile("notes.txt", "not a program").empty());
    ToolRun run = RunSectionOwner({JoinPath(folder.Path(), "notes.txt")});
    ExpectExit(run, 6);
    EXPECT_EQ(run.Value("error").rfind("start failed", 0), 0u) << run.Value("error");
    EXPECT_FALSE(PathExists(JoinPath(folder.Path(), "yygate.tmp")));
}

TEST_F(SectionOwner, RejectsWrongUsageAndExplainsItself)
{
    ToolRun run = RunSectionOwner({"--signal-wait", "soon"});
    ExpectExit(run, 1);
    EXPECT_EQ(run.Value("error"), "wrong usage");
    EXPECT_NE(run.output.find("Usage: section-owner"), std::string::npos);

    run = RunSectionOwner({"--help"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.output.find("Exit codes:"), std::string::npos);
    EXPECT_FALSE(SectionExists()) << "--help made the section";
}

} // namespace
