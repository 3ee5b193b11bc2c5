// Scratch folders and the paths of the programs under test.
#include "win/support/scratch.h"

#include <windows.h>

#include <atomic>

namespace yytest {

std::string EnvironmentValue(const char* name)
{
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

std::string ProgramPath()
{
    return EnvironmentValue("YYGATE_EXE");
}

std::string HeapSeamProgramPath()
{
    return EnvironmentValue("YYGATE_HEAPSEAM_EXE");
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveTree(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return DeleteFileA(path.c_str()) != 0;

    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(JoinPath(path, "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..")
                RemoveTree(JoinPath(path, name));
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != 0 || !PathExists(path);
}

// Makes `path` and every missing folder above it. Only backslashes that are
// characters of their own separate: the second byte of a double-byte
// character may be 0x5C.
static bool MakeFolders(const std::string& path)
{
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i]))) {
            ++i;
            continue;
        }
        if (path[i] == '\\' && i > 2)
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder part of `path`: everything before its last separating backslash.
static std::string FolderOf(const std::string& path)
{
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])))
            ++i;
        else if (path[i] == '\\')
            last = i;
    }
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

ScratchFolder::ScratchFolder()
{
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return;
    std::string base(temp, length);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = base + "\\yygate-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(counter++) + "-" + std::to_string(GetTickCount() % 100000);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    if (!path_.empty())
        RemoveTree(path_);
}

std::string ScratchFolder::MakeFolder(const std::string& relative) const
{
    if (path_.empty())
        return {};
    std::string full = relative.empty() ? path_ : JoinPath(path_, relative);
    return MakeFolders(full) ? full : std::string();
}

std::string ScratchFolder::MakeFile(const std::string& relative, const std::string& content) const
{
    if (path_.empty())
        return {};
    std::string full = JoinPath(path_, relative);
    if (!MakeFolders(FolderOf(full)))
        return {};
    HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size() ? full : std::string();
}

std::string ScratchFolder::PlaceProgram(const std::string& relative, const std::string& source) const
{
    if (path_.empty() || source.empty())
        return {};
    std::string full = JoinPath(path_, relative);
    if (!MakeFolders(FolderOf(full)))
        return {};
    return CopyFileA(source.c_str(), full.c_str(), FALSE) ? full : std::string();
}

std::string ReadWholeFile(const std::string& path)
{
    std::string content;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

} // namespace yytest
