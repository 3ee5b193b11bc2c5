// Memory running out, driven through the heap-seam build of the program
// (YYGATE_SEAM_REFUSE=n refuses the n-th heap request; YYGATE_SEAM_LOG
// receives "take <n> <size>", "refuse <n> <size>" and "give <size>"
// lines), and the clean-up that gives back the security-attributes block.
#include "win/program/scene.h"

#include <sstream>

namespace yytest {
namespace {

// "运行时错误"
const std::string kErrorCaption = "\xD4\xCB\xD0\xD0\xCA\xB1\xB4\xED\xCE\xF3";

// "内存不足：无法分配 <n> 字节的内存，程序将退出。"
std::string ErrorText(unsigned bytes)
{
    return "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xBA\xCE\xDE\xB7\xA8\xB7\xD6\xC5\xE4 " + std::to_string(bytes) +
           " \xD7\xD6\xBD\xDA\xB5\xC4\xC4\xDA\xB4\xE6\xA3\xAC\xB3\xCC\xD0\xF2\xBD\xAB\xCD\xCB\xB3\xF6\xA1\xA3";
}

// The security-attributes record of this (x64) build.
constexpr unsigned kAttributesSize = sizeof(SECURITY_ATTRIBUTES);
// The guard's texts: the 13-byte event name and the 25-byte registry path,
// each with its NUL.
constexpr unsigned kEventNameSize = 14;
constexpr unsigned kRegistryPathSize = 26;

struct HeapEvent {
    enum Kind { Take, Refuse, Give } kind;
    unsigned request;   // 0 for Give
    unsigned size;
};

std::vector<HeapEvent> ReadSeamLog(const std::string& path)
{
    std::vector<HeapEvent> events;
    std::string text = ReadWholeFile(path);
    std::istringstream lines(text);
    std::string word;
    while (lines >> word) {
        HeapEvent event{};
        if (word == "give") {
            event.kind = HeapEvent::Give;
            lines >> event.size;
        } else {
            event.kind = word == "take" ? HeapEvent::Take : HeapEvent::Refuse;
            lines >> event.request >> event.size;
        }
        events.push_back(event);
    }
    return events;
}

size_t CountEvents(const std::vector<HeapEvent>& events, HeapEvent::Kind kind, unsigned size)
{
    size_t count = 0;
    for (const HeapEvent& event : events)
        count += event.kind == kind && event.size == size;
    return count;
}

// The request numbers of the takes of `size` bytes, in order.
std::vector<unsigned> TakesOf(const std::vector<HeapEvent>& events, unsigned size)
{
    std::vector<unsigned> requests;
    for (const HeapEvent& event : events)
        if (event.kind == HeapEvent::Take && event.size == size)
            requests.push_back(event.request);
    return requests;
}

class MemoryTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ASSERT_FALSE(HeapSeamProgramPath().empty()) << "YYGATE_HEAPSEAM_EXE is not set";
        logPath_ = JoinPath(scratch_.Path(), "heap.log");
    }

    StartOptions SeamOptions(unsigned refuse) const
    {
        StartOptions options;
        options.environment = {{"YYGATE_SEAM_REFUSE", std::to_string(refuse)}, {"YYGATE_SEAM_LOG", logPath_}};
        return options;
    }

    // A full run of the seam build in a wrong folder, with no request
    // refused: its log tells which request is which.
    std::vector<HeapEvent> NoticeRunLog(const std::string& exe)
    {
        DeleteFileA(logPath_.c_str());
        WatchedRun run(exe, SeamOptions(0));
        ExpectNoticeRun(run, kShortNotice);
        return ReadSeamLog(logPath_);
    }

    std::string logPath_;
};

// The clean-up gives the security-attributes block back exactly once on
// every ordinary end: a right-folder run, a notice dismissed, and a copy
// that the guard ends while another copy shows its notice.
TEST_F(MemoryTest, CleanUpGivesTheAttributesBackOnce)
{
    std::string right = PlaceScene(scratch_, "right", {true, true, false}, HeapSeamProgramPath());
    std::string wrong = PlaceScene(scratch_, "wrong", {false, false, false}, HeapSeamProgramPath());
    std::string first = PlaceScene(scratch_, "first", {false, false, false});
    ASSERT_FALSE(right.empty() || wrong.empty() || first.empty());

    struct Scene {
        const char* name;
        std::function<void()> run;
    };
    const Scene scenes[] = {
        {"right folder",
         [&] {
             WatchedRun run(right, SeamOptions(0));
             ExpectLockRun(run);
         }},
        {"notice dismissed",
         [&] {
             WatchedRun run(wrong, SeamOptions(0));
             ExpectNoticeRun(run, kShortNotice);
         }},
        {"ended by the guard",
         [&] {
             ChildProcess holder(first, {});
             ASSERT_TRUE(holder.Started());
             HWND box = WaitForDialog(holder.Id(), kBoxWait, holder.Handle());
             ASSERT_NE(box, nullptr);
             {
                 WatchedRun run(wrong, SeamOptions(0));
                 ASSERT_TRUE(run.Started());
                 std::optional<DWORD> code = run.WaitForExit();
                 ASSERT_TRUE(code.has_value());
                 EXPECT_EQ(Hex(*code), Hex(0));
                 EXPECT_TRUE(run.Trace().CallsTo("MessageBoxA").empty());
             }
             EXPECT_TRUE(PressOk(box));
             EXPECT_TRUE(holder.WaitForExit(kEndWait).has_value());
         }},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.name);
        DeleteFileA(logPath_.c_str());
        scene.run();
        std::vector<HeapEvent> log = ReadSeamLog(logPath_);
        ASSERT_FALSE(log.empty()) << "the seam wrote no log";
        EXPECT_EQ(TakesOf(log, kAttributesSize).size(), 1u) << "one request for the attributes block";
        EXPECT_EQ(CountEvents(log, HeapEvent::Give, kAttributesSize), 1u);
        EXPECT_EQ(CountEvents(log, HeapEvent::Refuse, kAttributesSize) + CountEvents(log, HeapEvent::Refuse, 0), 0u);
    }
}

// Which request to refuse, found in the log of a run that refused none.
struct RefusalCase {
    const char* name;
    enum Which { FirstRequest, AttributesBlock, EventName, RegistryPath } which;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

class RefusalTest : public MemoryTest, public ::testing::WithParamInterface<RefusalCase> {};

// A refused request ends the run through one error box naming the refused
// size, then exit code -1: no notice follows, and nothing is taken or given
// back after the refusal, the clean-up included.
TEST_P(RefusalTest, OneErrorBoxThenExitCodeMinusOne)
{
    std::string exe = PlaceScene(scratch_, "host", {false, false, false}, HeapSeamProgramPath());
    ASSERT_FALSE(exe.empty());
    std::vector<HeapEvent> normal = NoticeRunLog(exe);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_FALSE(normal.empty() || normal.front().kind != HeapEvent::Take) << "no log of the normal run";

    // The attributes block and the registry path are asked for once; the
    // event name twice (to open, then to create the event): the first is
    // refused.
    std::vector<unsigned> candidates;
    switch (GetParam().which) {
    case RefusalCase::FirstRequest:
        candidates = {normal.front().request};
        break;
    case RefusalCase::AttributesBlock:
        candidates = TakesOf(normal, kAttributesSize);
        ASSERT_EQ(candidates.size(), 1u);
        break;
    case RefusalCase::EventName:
        candidates = TakesOf(normal, kEventNameSize);
        ASSERT_EQ(candidates.size(), 2u);
        break;
    case RefusalCase::RegistryPath:
        candidates = TakesOf(normal, kRegistryPathSize);
        ASSERT_EQ(candidates.size(), 1u);
        break;
    }
    unsigned request = candidates.front();
    unsigned size = 0;
    for (const HeapEvent& event : normal)
        if (event.kind == HeapEvent::Take && event.request == request)
            size = event.size;

    DeleteFileA(logPath_.c_str());
    WatchedRun run(exe, SeamOptions(request));
    ASSERT_TRUE(run.Started()) << run.Trace().Problems();
    HWND box = WaitForDialog(run.Id(), kBoxWait, run.Handle());
    ASSERT_NE(box, nullptr) << "no error box appeared";
    DialogContents contents = ReadDialog(box);
    EXPECT_EQ(HexBytes(contents.caption), HexBytes(kErrorCaption));
    EXPECT_EQ(HexBytes(contents.text), HexBytes(ErrorText(size)));
    EXPECT_EQ(contents.buttonIds, std::vector<int>{IDOK});
    EXPECT_TRUE(contents.showsIcon);
    EXPECT_EQ(contents.owner, nullptr);
    ASSERT_TRUE(PressOk(box));

    std::optional<DWORD> code = run.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the copy did not end after its error box";
    EXPECT_EQ(Hex(*code), Hex(kEndedByMemory));
    ExpectOneMessageBoxCall(run.Trace(), ErrorText(size), kErrorCaption, kErrorStyle);
    EXPECT_EQ(Hex(run.Exit().code), Hex(kEndedByMemory)) << "ExitProcess's argument";

    std::vector<HeapEvent> log = ReadSeamLog(logPath_);
    ASSERT_FALSE(log.empty());
    const HeapEvent& last = log.back();
    EXPECT_EQ(last.kind, HeapEvent::Refuse) << "the log goes on after the refusal";
    EXPECT_EQ(last.request, request);
    EXPECT_EQ(last.size, size);
    EXPECT_EQ(CountEvents(log, HeapEvent::Give, kAttributesSize), 0u) << "the clean-up ran";
    EXPECT_EQ(run.Trace().Problems(), "");
}

const RefusalCase kRefusalCases[] = {
    {"first_text_of_the_program_location", RefusalCase::FirstRequest},
    {"attributes_block", RefusalCase::AttributesBlock},
    {"guard_event_name", RefusalCase::EventName},
    {"guard_registry_path", RefusalCase::RegistryPath},
};

INSTANTIATE_TEST_SUITE_P(Requests, RefusalTest, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace yytest
