// Folder scenes, named-object checks and the watched run.
#include "win/program/scene.h"

#include <cstdio>

namespace yytest {

std::string PlaceScene(const ScratchFolder& scratch, const std::string& relative, FolderState state,
                       const std::string& source, const std::string& programName)
{
    std::string folder = scratch.MakeFolder(relative);
    if (folder.empty())
        return {};
    std::string folderPrefix = relative.empty() ? std::string() : relative + "\\";
    auto place = [&](const char* name) {
        return state.asDirectories ? !scratch.MakeFolder(folderPrefix + name).empty()
                                   : !scratch.MakeFile(folderPrefix + name).empty();
    };
    if (state.hostExe && !place(kHostExe))
        return {};
    if (state.launcher && !place(kLauncherExe))
        return {};
    return scratch.PlaceProgram(folderPrefix + programName, source);
}

bool EventExists(const std::string& name)
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    CloseHandle(event);
    return true;
}

MutexSeen LookAtMutex(const std::string& name)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex == nullptr)
        return MutexSeen::Missing;
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? MutexSeen::HeldByAnother : MutexSeen::Free;
}

std::vector<CallSite> ProgramCallSites()
{
    return {
        {"kernel32.dll", "ExitProcess"},
        {"kernel32.dll", "CreateMutexA"},
        {"kernel32.dll", "OpenEventA"},
        {"kernel32.dll", "CreateEventA"},
        {"user32.dll", "MessageBoxA"},
        {"user32.dll", "OpenIcon"},
        // Every window the process creates, whoever asks for it.
        {"win32u.dll", "NtUserCreateWindowEx", false},
    };
}

WatchedRun::WatchedRun(const std::string& exe, const StartOptions& options)
    : run_(exe, options, ProgramCallSites(), [this](const TracedCall& call) {
          if (call.function != "ExitProcess")
              return;
          exit_.seen = true;
          exit_.code = static_cast<DWORD>(call.argument[0]);
          exit_.launchLock = LookAtMutex(kLaunchLockName);
          exit_.guardEvent = EventExists(kGuardEventName);
      })
{
}

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace yytest

namespace yytest {

void ExpectNoticeBox(const DialogContents& box, const std::string& notice)
{
    EXPECT_EQ(HexBytes(box.caption), HexBytes(kNoticeCaption));
    EXPECT_EQ(HexBytes(box.text), HexBytes(notice));
    EXPECT_EQ(box.buttonIds, std::vector<int>{IDOK});
    EXPECT_TRUE(box.showsIcon);
    EXPECT_EQ(box.owner, nullptr);
}

void ExpectOneMessageBoxCall(const TracedRun& run, const std::string& text, const std::string& caption, UINT style)
{
    std::vector<TracedCall> boxes = run.CallsTo("MessageBoxA");
    ASSERT_EQ(boxes.size(), 1u);
    const TracedCall& box = boxes.front();
    EXPECT_EQ(box.argument[0], 0u) << "hWnd";
    EXPECT_EQ(HexBytes(box.textAt[1]), HexBytes(text)) << "lpText";
    EXPECT_EQ(HexBytes(box.textAt[2]), HexBytes(caption)) << "lpCaption";
    EXPECT_EQ(Hex(static_cast<UINT>(box.argument[3])), Hex(style)) << "uType";
}

void ExpectNoticeRun(WatchedRun& run, const std::string& notice)
{
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    HWND box = WaitForDialog(run.Id(), kBoxWait, run.Handle());
    ASSERT_NE(box, nullptr) << "no message box appeared";
    ExpectNoticeBox(ReadDialog(box), notice);
    EXPECT_TRUE(EventExists(kGuardEventName)) << "the guard's event while the notice is up";
    ASSERT_TRUE(PressOk(box));
    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the copy did not end after its notice was dismissed";
    EXPECT_EQ(Hex(*code), Hex(0));
    ExpectOneMessageBoxCall(run.Trace(), notice, kNoticeCaption, kNoticeStyle);
    EXPECT_TRUE(run.Trace().CallsTo("CreateMutexA").empty());
    EXPECT_EQ(run.Trace().Problems(), "");
}

void ExpectLockRun(WatchedRun& run)
{
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    std::string shown = FirstWindowShown(run.Id(), run.Handle(), kEndWait);
    ASSERT_EQ(shown, "") << "a window of the copy was seen";
    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the copy did not end";
    EXPECT_EQ(Hex(*code), Hex(0));
    EXPECT_TRUE(run.Trace().CallsTo("MessageBoxA").empty());
    EXPECT_TRUE(run.Trace().CallsTo("NtUserCreateWindowEx").empty()) << "a window was created";
    EXPECT_TRUE(run.Trace().CallsTo("OpenEventA").empty()) << "a right-folder run never meets the guard";
    EXPECT_TRUE(run.Trace().CallsTo("CreateEventA").empty()) << "a right-folder run never meets the guard";

    std::vector<TracedCall> locks = run.Trace().CallsTo("CreateMutexA");
    ASSERT_EQ(locks.size(), 1u);
    const TracedCall& lock = locks.front();
    EXPECT_EQ(lock.textAt[2], kLaunchLockName) << "lpName";
    EXPECT_EQ(lock.argument[1], 1u) << "bInitialOwner";
    // lpMutexAttributes: the x64 SECURITY_ATTRIBUTES, nLength 24, no
    // descriptor, not inherited.
    ASSERT_TRUE(lock.readable[0]) << "lpMutexAttributes " << Hex(lock.argument[0]);
    ASSERT_GE(lock.bytesAt[0].size(), sizeof(SECURITY_ATTRIBUTES));
    SECURITY_ATTRIBUTES attributes;
    memcpy(&attributes, lock.bytesAt[0].data(), sizeof(attributes));
    EXPECT_EQ(attributes.nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes.lpSecurityDescriptor, nullptr);
    EXPECT_EQ(attributes.bInheritHandle, FALSE);

    WatchedRun::AtExit exit = run.Exit();
    ASSERT_TRUE(exit.seen) << "ExitProcess was not seen";
    EXPECT_EQ(exit.launchLock, MutexSeen::HeldByAnother) << "the mutex \"yy2\" when the copy ends";
    EXPECT_EQ(run.Trace().Problems(), "");
}

void ExpectOutcome(WatchedRun& run, Outcome outcome)
{
    switch (outcome) {
    case Outcome::Lock:
        ExpectLockRun(run);
        break;
    case Outcome::ShortNotice:
        ExpectNoticeRun(run, kShortNotice);
        break;
    case Outcome::LongNotice:
        ExpectNoticeRun(run, kLongNotice);
        break;
    }
}

void ProgramTest::SetUp()
{
    ASSERT_FALSE(ProgramPath().empty()) << "YYGATE_EXE is not set";
    ASSERT_EQ(GetACP(), 936u) << "the program's texts are code page 936 bytes; run under a zh_CN locale";
    ASSERT_FALSE(scratch_.Path().empty()) << "no scratch folder";
    ASSERT_FALSE(EventExists(kGuardEventName)) << "another copy of the program holds the guard";
    ASSERT_EQ(LookAtMutex(kLaunchLockName), MutexSeen::Missing) << "a mutex \"yy2\" is left from elsewhere";
}

} // namespace yytest
