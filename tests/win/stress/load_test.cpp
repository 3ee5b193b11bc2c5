// Crowds of copies started at the same instant: outside the YY folder
// exactly one of them shows its notice and every other one ends with 0 at
// once, round after round; inside it, a hundred copies all take the launch
// lock, show nothing and end with 0.
#include "win/program/scene.h"
#include "win/stress/crowd.h"

#include <iostream>

namespace yytest {
namespace {

constexpr int kCopiesOutside = 50;
constexpr int kRoundsOutside = 5;
constexpr int kCopiesInside = 100;
// A crowd of Wine processes on two cores takes its time; a crowd still not
// settled after this counts as hung.
constexpr DWORD kCrowdWait = 180000;

// Every copy outside the folder that passes the guard writes the REG_DWORD
// 0; each round starts from another value, so each round's write is seen.
const std::string kBeforeEachRound = DwordBytes(0x5A5A5A5A);
// A right-folder run never meets the guard, so this stays as it is.
const std::string kMarker = std::string("untouched") + '\0';

std::string Listed(const std::map<DWORD, std::string>& windows)
{
    std::string list;
    for (const auto& [pid, window] : windows)
        list += (list.empty() ? "" : "; ") + std::to_string(pid) + ": " + window;
    return list;
}

class LoadTest : public ProgramTest {};

// The guard lets exactly one copy of each crowd through: it alone shows a
// window, the short notice, while the other copies end with 0 without any
// window; once the notice is dismissed that copy ends with 0 too, the
// guard's event is gone, and the registry value is the REG_DWORD 0.
TEST_F(LoadTest, FiftyCopiesOutsideTheFolderShowOneNoticePerRound)
{
    std::string exe = PlaceScene(scratch_, "outside", {false, false, false});
    ASSERT_FALSE(exe.empty());

    for (int round = 1; round <= kRoundsOutside; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_FALSE(EventExists(kGuardEventName)) << "the guard is still held from the round before";
        ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_BINARY, kBeforeEachRound));
        DWORD start = GetTickCount();

        Crowd crowd(exe, kCopiesOutside);
        ASSERT_EQ(crowd.StartProblem(), "");
        ASSERT_TRUE(crowd.Watch(Crowd::Until::Settled, kCrowdWait))
            << crowd.Ended() << " ended and " << crowd.Boxes().size() << " notice(s) shown of " << kCopiesOutside;
        size_t boxes = crowd.Boxes().size();
        int endedBeforeOk = crowd.Ended();
        std::string codesBeforeOk = crowd.ExitCodeSummary();
        ASSERT_EQ(boxes, 1u) << Listed(crowd.WindowsSeen());
        EXPECT_EQ(endedBeforeOk, kCopiesOutside - 1);
        EXPECT_EQ(codesBeforeOk, std::to_string(kCopiesOutside - 1) + " x 0x0");
        HWND box = crowd.Boxes().front();
        ExpectNoticeBox(ReadDialog(box), kShortNotice);
        EXPECT_TRUE(EventExists(kGuardEventName)) << "the guard's event while the notice is up";

        ASSERT_TRUE(PressOk(box));
        ASSERT_TRUE(crowd.Watch(Crowd::Until::Ended, kEndWait)) << "the copy with the notice did not end";
        EXPECT_EQ(crowd.WindowsSeen().size(), 1u) << "copies that showed a window: " << Listed(crowd.WindowsSeen());
        EXPECT_EQ(crowd.ExitCodeSummary(), std::to_string(kCopiesOutside) + " x 0x0");
        EXPECT_FALSE(EventExists(kGuardEventName)) << "the event outlived the crowd";
        RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(HexBytes(value.data), "00 00 00 00");

        std::cout << "[ load     ] round " << round << ": " << boxes << " notice(s), " << endedBeforeOk
                  << " copies ended before OK (" << codesBeforeOk << "), all " << kCopiesOutside << " ended ("
                  << crowd.ExitCodeSummary() << ") in " << (GetTickCount() - start) / 1000.0 << " s" << std::endl;
    }
}

// In the right folder the guard is never met and nothing is ever shown:
// each of the hundred copies opens or creates "yy2", ends with 0, and the
// last one to end takes the mutex with it; the guard's event never exists
// and the registry value is never written.
TEST_F(LoadTest, HundredCopiesInTheFolderShowNothing)
{
    std::string exe = PlaceScene(scratch_, "inside", {true, true, false});
    ASSERT_FALSE(exe.empty());
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kGuardKey, "", REG_SZ, kMarker));
    DWORD start = GetTickCount();

    Crowd crowd(exe, kCopiesInside);
    ASSERT_EQ(crowd.StartProblem(), "");
    int looksWithEvent = 0;
    int looksWithLock = 0;
    ASSERT_TRUE(crowd.Watch(Crowd::Until::Ended, kCrowdWait, [&] {
        looksWithEvent += EventExists(kGuardEventName);
        looksWithLock += LookAtMutex(kLaunchLockName) != MutexSeen::Missing;
    })) << crowd.Ended() << " of " << kCopiesInside << " ended";

    EXPECT_TRUE(crowd.WindowsSeen().empty()) << "copies that showed a window: " << Listed(crowd.WindowsSeen());
    EXPECT_EQ(crowd.ExitCodeSummary(), std::to_string(kCopiesInside) + " x 0x0");
    EXPECT_EQ(looksWithEvent, 0) << "looks that found the guard's event";
    EXPECT_EQ(LookAtMutex(kLaunchLockName), MutexSeen::Missing) << "\"yy2\" outlived the crowd";
    RegistryValue value = ReadValue(HKEY_CURRENT_USER, kGuardKey, "");
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << "a right-folder copy wrote the guard's value";
    EXPECT_EQ(value.data, kMarker);

    std::cout << "[ load     ] " << kCopiesInside << " copies in the folder ended (" << crowd.ExitCodeSummary()
              << ") in " << (GetTickCount() - start) / 1000.0 << " s; \"yy2\" seen at " << looksWithLock
              << " look(s)" << std::endl;
}

} // namespace
} // namespace yytest
