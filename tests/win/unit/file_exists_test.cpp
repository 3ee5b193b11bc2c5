// FileExists against a real folder: whatever FindFirstFileA matches counts.
#include "text/file_exists.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

class FileExistsTest : public testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "yygate-fe-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((root_ + "\\YY.exe").c_str(), nullptr)); // a directory
        HANDLE file = CreateFileA((root_ + "\\yylauncher.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        GetCurrentDirectoryA(MAX_PATH, previous_);
        ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(previous_);
        DeleteFileA((root_ + "\\yylauncher.exe").c_str());
        RemoveDirectoryA((root_ + "\\YY.exe").c_str());
        RemoveDirectoryA(root_.c_str());
    }

    std::string root_;
    char previous_[MAX_PATH] = {};
};

TEST_F(FileExistsTest, MatchesFilesDirectoriesWildcardsAndRelativeNames)
{
    struct Case {
        std::string path;
        int expected;
    } cases[] = {
        {root_ + "\\yylauncher.exe", 1},
        {root_ + "\\YY.exe", 1},         // a directory counts
        {root_ + "\\yy.EXE", 1},         // the file system ignores case
        {root_ + "\\yyl*.exe", 1},       // a wildcard that matches
        {root_ + "\\nothing*.exe", 0},   // one that does not
        {"yylauncher.exe", 1},           // relative to the current directory
        {"YY.exe", 1},
        {root_ + "\\missing.exe", 0},
        {root_ + "\\no-such-folder\\YY.exe", 0},
        {root_ + "\\bad|name", 0},
        {"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileExists(c.path.c_str()), c.expected) << c.path;
    EXPECT_EQ(FileExists(nullptr), 0);
}

} // namespace
