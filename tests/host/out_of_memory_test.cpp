// A refused request ends the process inside the operation, reporting the
// size asked for (the text's length plus its NUL), and never returns a text.
#include "host_heap.h"
#include "text/ansi_text.h"

#include <gtest/gtest.h>

namespace {

TEST(OutOfMemory, EachBuildingOperationReportsTheBytesItAskedFor)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((RefuseRequestNumber(1), ConcatText("Z:\\app", "\\YY.exe")),
                testing::ExitedWithCode(255), "run-time error: 14 bytes refused");
    EXPECT_EXIT((RefuseRequestNumber(1), TextRight("yygate.tmp", 4)),
                testing::ExitedWithCode(255), "run-time error: 5 bytes refused");
    EXPECT_EXIT((RefuseRequestNumber(1), ToLowerCase("YYGATE.TMP")),
                testing::ExitedWithCode(255), "run-time error: 11 bytes refused");
    EXPECT_EXIT((RefuseRequestNumber(1), ToFullWidth("Lumen-TQ")),
                testing::ExitedWithCode(255), "run-time error: 17 bytes refused");
    EXPECT_EXIT((RefuseRequestNumber(1), ConcatText(nullptr, nullptr)),
                testing::ExitedWithCode(255), "run-time error: 1 bytes refused");
}

TEST(OutOfMemory, OperationsThatBuildNothingAskForNothing)
{
    RefuseRequestNumber(1);
    EXPECT_EQ(TextRight("abc", 0), nullptr);
    EXPECT_EQ(ToLowerCase(""), nullptr);
    EXPECT_EQ(ToFullWidth("\xB0"), nullptr);
    EXPECT_EQ(CompareText("a", "b"), -1);
    RefuseRequestNumber(0);
}

} // namespace
