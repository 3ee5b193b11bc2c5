// The single-instance guard seen from outside: its event lives exactly as
// long as a copy's notice, its registry value is overwritten by each copy
// that passes, a copy that meets it ends silently whatever the value holds,
// and of many copies started at once exactly one shows its notice.
#include "win/program/scene.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>

namespace yytest {
namespace {

// The guard's registry value as a REG_DWORD 0, the window handle every copy
// records.
void ExpectGuardValueIsZero()
{
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    ASSERT_TRUE(value.present);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(HexBytes(value.data), "00 00 00 00");
}

// A copy that meets the guard: it ends with 0 on its own, having created
// no window, shown nothing, created no event and restored no window.
void ExpectYieldingRun(WatchedRun& run)
{
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    std::string shown = FirstWindowShown(run.Id(), run.Handle(), kEndWait);
    EXPECT_EQ(shown, "") << "a window of the second copy was seen";
    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the second copy did not end";
    EXPECT_EQ(Hex(*code), Hex(0));
    EXPECT_TRUE(run.Trace().CallsTo("MessageBoxA").empty());
    EXPECT_TRUE(run.Trace().CallsTo("NtUserCreateWindowEx").empty());
    std::vector<TracedCall> lookups = run.Trace().CallsTo("OpenEventA");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(Hex(lookups[0].argument[0]), Hex(EVENT_ALL_ACCESS)) << "dwDesiredAccess";
    EXPECT_EQ(lookups[0].argument[1], 0u) << "bInheritHandle";
    EXPECT_EQ(HexBytes(lookups[0].textAt[2]), HexBytes(kGuardEventName)) << "lpName";
    EXPECT_TRUE(run.Trace().CallsTo("CreateEventA").empty());
    EXPECT_TRUE(run.Trace().CallsTo("OpenIcon").empty());
    EXPECT_TRUE(run.Exit().seen);
    EXPECT_EQ(run.Trace().Problems(), "");
}

class GuardTest : public ProgramTest {
protected:
    // A copy in its own wrong folder, up to the moment its notice shows.
    struct NoticeCopy {
        ChildProcess process;
        HWND box = nullptr;
    };

    void ShowNotice(const std::string& folder, NoticeCopy* copy)
    {
        std::string exe = PlaceScene(scratch_, folder, {false, false, false});
        ASSERT_FALSE(exe.empty());
        copy->process = ChildProcess(exe, {});
        ASSERT_TRUE(copy->process.Started());
        copy->box = WaitForDialog(copy->process.Id(), kBoxWait, copy->process.Handle());
        ASSERT_NE(copy->box, nullptr) << "the first copy showed no notice";
    }

    void DismissAndEnd(NoticeCopy* copy)
    {
        ASSERT_TRUE(PressOk(copy->box));
        std::optional<DWORD> code = copy->process.WaitForExit(kEndWait);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(Hex(*code), Hex(0));
    }
};

// The event exists from the guard until the copy ends, and only then; the
// copy creates it under exactly the 13 name bytes, auto-reset, not
// signalled, with default security, and overwrites whatever the registry
// value held with a REG_DWORD 0.
TEST_F(GuardTest, EventLivesAsLongAsTheNoticeAndTheValueIsOverwritten)
{
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_DWORD, DwordBytes(0x12345678)));
    std::string exe = PlaceScene(scratch_, "wrong", {false, false, false});
    ASSERT_FALSE(exe.empty());
    ASSERT_FALSE(EventExists(kGuardEventName));

    WatchedRun run(exe);
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    HWND box = WaitForDialog(run.Id(), kBoxWait, run.Handle());
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(EventExists(kGuardEventName));
    ExpectGuardValueIsZero();
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\qv"));

    std::vector<TracedCall> events = run.Trace().CallsTo("CreateEventA");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].argument[0], 0u) << "lpEventAttributes";
    EXPECT_EQ(events[0].argument[1], 0u) << "bManualReset";
    EXPECT_EQ(events[0].argument[2], 0u) << "bInitialState";
    EXPECT_EQ(HexBytes(events[0].textAt[3]), HexBytes(kGuardEventName)) << "lpName";

    ASSERT_TRUE(PressOk(box));
    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(Hex(*code), Hex(0));
    EXPECT_TRUE(run.Exit().guardEvent) << "the event just before the copy ends";
    EXPECT_FALSE(EventExists(kGuardEventName)) << "the event outlived the copy";
}

// One notice at a time: while a copy shows its notice, a copy in another
// wrong folder ends with 0 and shows nothing; once the first copy has ended,
// the next copy shows its notice again. A copy in the right folder never
// meets the guard and takes the lock meanwhile.
TEST_F(GuardTest, OneNoticeAtATime)
{
    std::string second = PlaceScene(scratch_, "second", {true, false, false});
    std::string right = PlaceScene(scratch_, "right", {true, true, false});
    ASSERT_FALSE(second.empty() || right.empty());

    NoticeCopy first;
    ShowNotice("first", &first);
    ASSERT_FALSE(HasFatalFailure());
    {
        SCOPED_TRACE("second copy while the first shows its notice");
        WatchedRun run(second);
        ExpectYieldingRun(run);
    }
    {
        SCOPED_TRACE("right-folder copy while the first shows its notice");
        WatchedRun run(right);
        ExpectLockRun(run);
    }
    EXPECT_TRUE(first.process.IsRunning());
    EXPECT_EQ(DialogsOf(first.process.Id()).size(), 1u);
    DismissAndEnd(&first);
    ASSERT_FALSE(EventExists(kGuardEventName));
    {
        SCOPED_TRACE("next copy after the first has ended");
        WatchedRun run(second);
        ExpectNoticeRun(run, kLongNotice);
    }
}

// Whatever the registry value holds when a copy meets the guard (nothing,
// a string, 8 binary bytes, even no key), that copy still ends silently
// with 0 and leaves the value as it was, and a copy that passes the guard
// writes a REG_DWORD 0 over it.
struct ValueCase {
    const char* name;
    enum Kind { NoKey, NoValue, String, EightBytes } kind;
};

void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.name;
}

// Puts the value into the state of `kind`; false when that failed.
bool SetValueState(ValueCase::Kind kind)
{
    switch (kind) {
    case ValueCase::NoKey:
        RegDeleteKeyA(HKEY_CURRENT_USER, kGuardKey.c_str());
        return !KeyExists(HKEY_CURRENT_USER, kGuardKey);
    case ValueCase::NoValue:
        return WriteValue(HKEY_CURRENT_USER, kGuardKey, "other", REG_DWORD, DwordBytes(1)) &&
               DeleteValue(HKEY_CURRENT_USER, kGuardKey, "");
    case ValueCase::String:
        return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, std::string("7\0", 2));
    case ValueCase::EightBytes:
        return WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_BINARY, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    }
    return false;
}

class GuardValueTest : public GuardTest, public ::testing::WithParamInterface<ValueCase> {
protected:
    void TearDown() override { DeleteValue(HKEY_CURRENT_USER, kGuardKey, "other"); }
};

TEST_P(GuardValueTest, NothingBreaks)
{
    ValueCase::Kind kind = GetParam().kind;
    std::string second = PlaceScene(scratch_, "second", {false, false, false});
    ASSERT_FALSE(second.empty());

    ASSERT_TRUE(SetValueState(kind));
    NoticeCopy first;
    ShowNotice("first", &first);
    ASSERT_FALSE(HasFatalFailure());
    ExpectGuardValueIsZero();

    ASSERT_TRUE(SetValueState(kind));
    RegistryValue before = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    {
        WatchedRun run(second);
        ExpectYieldingRun(run);
    }
    RegistryValue after = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    EXPECT_EQ(after.present, before.present);
    EXPECT_EQ(after.type, before.type);
    EXPECT_EQ(HexBytes(after.data), HexBytes(before.data)) << "the second copy wrote the value";
    DismissAndEnd(&first);
}

const ValueCase kValueCases[] = {
    {"no_key", ValueCase::NoKey},
    {"no_value", ValueCase::NoValue},
    {"reg_sz", ValueCase::String},
    {"eight_binary_bytes", ValueCase::EightBytes},
};

INSTANTIATE_TEST_SUITE_P(Values, GuardValueTest, ::testing::ValuesIn(kValueCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Many copies started at the same instant in a wrong folder: exactly one
// shows its notice, every other one ends with 0 at once, and the one with
// the notice ends with 0 once it is dismissed.
//
// Opening and creating the event are two calls, so two copies can both find
// no event. Started together, the copies rarely meet in that gap, so a
// second way forces it: every copy is held by the debugger at its
// CreateEventA call, that is after its own OpenEventA found nothing, and
// all are let go together once the last one has arrived.
enum class RaceWay { StartedTogether, HeldAtCreateEvent };

struct RaceCase {
    const char* name;
    RaceWay way;
    int rounds;
};

void PrintTo(const RaceCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr int kCopies = 20;
constexpr DWORD kRoundWait = 120000;

// Lets `count` waiters go together once all have arrived.
class Gate {
public:
    explicit Gate(int count) : waiting_(count) {}
    // False when not all arrived within `timeoutMs`; the gate then opens.
    bool ArriveAndWait(DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (--waiting_ <= 0)
            arrived_.notify_all();
        bool all = arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return waiting_ <= 0; });
        if (!all) {
            waiting_ = 0;
            arrived_.notify_all();
        }
        return all;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    int waiting_;
};

class RaceTest : public GuardTest, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(RaceTest, ManyCopiesAtOnceShowOneNotice)
{
    const RaceCase& c = GetParam();
    std::string exe = PlaceScene(scratch_, "race", {false, false, false});
    ASSERT_FALSE(exe.empty());

    for (int round = 1; round <= c.rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_FALSE(EventExists(kGuardEventName));

        // (pid, process handle) of each copy, whichever way it was started.
        std::vector<std::pair<DWORD, HANDLE>> copies;
        std::vector<ChildProcess> plain;
        std::vector<std::unique_ptr<TracedRun>> held;
        Gate gate(kCopies);
        std::atomic<int> heldCalls{0};
        std::atomic<bool> gateTimedOut{false};
        if (c.way == RaceWay::StartedTogether) {
            StartOptions options;
            options.suspended = true;
            for (int i = 0; i < kCopies; ++i) {
                plain.emplace_back(exe, options);
                ASSERT_TRUE(plain.back().Started()) << "copy " << i << ": error " << plain.back().StartError();
                copies.emplace_back(plain.back().Id(), plain.back().Handle());
            }
            for (ChildProcess& copy : plain)
                copy.Resume();
        } else {
            auto holdAtCreate = [&](const TracedCall& call) {
                if (call.function != "CreateEventA")
                    return;
                ++heldCalls;
                if (!gate.ArriveAndWait(kRoundWait))
                    gateTimedOut = true;
            };
            for (int i = 0; i < kCopies; ++i) {
                held.push_back(std::make_unique<TracedRun>(
                    exe, StartOptions{}, std::vector<CallSite>{{"kernel32.dll", "CreateEventA"}}, holdAtCreate));
                ASSERT_TRUE(held.back()->Started()) << held.back()->Problems();
                copies.emplace_back(held.back()->Id(), held.back()->Handle());
            }
        }

        // Wait until every copy has either ended or shows a box; a copy that
        // got past the guard keeps its box until the test dismisses it.
        std::vector<HWND> boxes;
        int ended = 0;
        DWORD start = GetTickCount();
        for (;;) {
            boxes.clear();
            ended = 0;
            int settled = 0;
            for (auto [pid, process] : copies) {
                std::vector<HWND> shown = DialogsOf(pid);
                boxes.insert(boxes.end(), shown.begin(), shown.end());
                bool over = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
                ended += over;
                settled += over || !shown.empty();
            }
            if (settled == kCopies)
                break;
            ASSERT_LT(GetTickCount() - start, kRoundWait) << settled << " of " << kCopies << " copies settled";
            Sleep(20);
        }
        std::cout << "[ race     ] " << c.name << " round " << round << ": " << boxes.size() << " notice(s), "
                  << ended << " copies ended before any was dismissed" << std::endl;
        if (c.way == RaceWay::HeldAtCreateEvent) {
            EXPECT_EQ(heldCalls.load(), kCopies) << "copies held at CreateEventA";
            EXPECT_FALSE(gateTimedOut.load());
        }
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(ended, kCopies - 1);

        for (HWND box : boxes)
            EXPECT_TRUE(PressOk(box));
        for (size_t i = 0; i < copies.size(); ++i) {
            HANDLE process = copies[i].second;
            ASSERT_EQ(WaitForSingleObject(process, kEndWait), WAIT_OBJECT_0) << "copy " << i << " did not end";
            DWORD code = 0;
            ASSERT_TRUE(GetExitCodeProcess(process, &code));
            EXPECT_EQ(Hex(code), Hex(0)) << "copy " << i;
        }
    }
}

const RaceCase kRaceCases[] = {
    {"started_together", RaceWay::StartedTogether, 5},
    {"held_at_create_event", RaceWay::HeldAtCreateEvent, 2},
};

INSTANTIATE_TEST_SUITE_P(Ways, RaceTest, ::testing::ValuesIn(kRaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace yytest
