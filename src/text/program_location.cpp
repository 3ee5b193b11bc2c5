// The program location, from GetModuleFileNameA.
//
// The module path may be longer than MAX_PATH bytes (double-byte folder
// names, or a long-path-aware system), and GetModuleFileNameA truncates
// without failing - on old systems without a terminating NUL, and where the
// cut would split a double-byte character, one byte short of the buffer with
// no sign of truncation at all. So only a path that leaves at least two
// bytes of the buffer unused is taken as whole; otherwise the path is asked
// for again with a larger buffer, and every buffer is terminated here rather
// than trusted.
#include "text/program_location.h"

#include "frame/heap.h"
#include "text/separator.h"

#include <windows.h>

static AnsiText RunDirectory = nullptr;
static AnsiText ExeFileName = nullptr;

static const DWORD kFirstPathBuffer = MAX_PATH; // 260
// Beyond this no Windows path can reach: 32767 UTF-16 units, each at most
// two bytes in a double-byte code page.
static const DWORD kLargestPathBuffer = 65536;

// The lead bytes of the system's ANSI code page; none under a single-byte
// code page, so there every 0x5C separates.
static void MapAnsiCodePageLeadBytes(LeadByteMap* map)
{
    for (int b = 0; b < 256; ++b)
        map->isLead[b] = false;
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info))
        return;
    for (int r = 0; r + 1 < MAX_LEADBYTES && info.LeadByte[r] != 0; r += 2)
        for (int b = info.LeadByte[r]; b <= info.LeadByte[r + 1]; ++b)
            map->isLead[b] = true;
}

// Splits the module path at its last separator and records both halves.
static void RecordLocation(const char* path)
{
    LeadByteMap map;
    MapAnsiCodePageLeadBytes(&map);
    int split = FindLastSeparator(path, &map);
    unsigned length = TextLength(path);
    if (split < 0) {
        ExeFileName = CopyOrAbsent(path, length);
        return;
    }
    RunDirectory = CopyOrAbsent(path, static_cast<unsigned>(split));
    ExeFileName = CopyOrAbsent(path + split + 1, length - static_cast<unsigned>(split) - 1);
}

void InitProgramLocation()
{
    char first[kFirstPathBuffer];
    char* buffer = first;
    DWORD size = kFirstPathBuffer;
    for (;;) {
        DWORD got = GetModuleFileNameA(nullptr, buffer, size);
        if (got == 0)
            break; // no path at all: the location stays empty
        if (got < size - 1) {
            buffer[got] = '\0';
            RecordLocation(buffer);
            break;
        }
        // Perhaps truncated: got is size (cut, with or without a NUL) or
        // size - 1 (whole, or cut before a character that did not fit).
        if (buffer != first)
            FreeBlock(buffer);
        buffer = nullptr;
        if (size >= kLargestPathBuffer)
            break;
        size *= 2;
        buffer = static_cast<char*>(NewBlock(size));
    }
    if (buffer != first)
        FreeBlock(buffer);
    SetCurrentDirectoryA(RunDirectory != nullptr ? RunDirectory : "");
}

AnsiText GetExeFileName()
{
    return CopyOrAbsent(ExeFileName, TextLength(ExeFileName));
}

AnsiText GetRunDirectory()
{
    return CopyOrAbsent(RunDirectory, TextLength(RunDirectory));
}
