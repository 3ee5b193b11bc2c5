// SignalTempCopyStart: three zero bytes at the start of another process's
// section, written once; the view stays mapped until the process ends.
#include "handshake/temp_copy_signal.h"

#include "text/ansi_text.h"
#include "text/program_location.h"

#include <windows.h>

// winnt.h maps RtlMoveMemory onto the C runtime's memmove; the program has
// no C runtime and calls the kernel32 export itself.
#undef RtlMoveMemory
extern "C" __declspec(dllimport) void WINAPI RtlMoveMemory(void* destination, const void* source, SIZE_T length);

static const char kTempSuffix[] = ".tmp"; // 2E 74 6D 70
// Made full-width: A3 CC A3 F5 A3 ED A3 E5 A3 EE A3 AD A3 D4 A3 D1.
static const char kSectionBaseName[] = "Lumen-TQ";
static const BYTE kStartSignal[3] = {0, 0, 0};
static const DWORD kSectionAccess = FILE_MAP_READ | FILE_MAP_WRITE; // 6

static_assert(kSectionAccess == 6);

static bool IsTemporaryCopy()
{
    AnsiText fileName = GetExeFileName();
    AnsiText tail = TextRight(fileName, sizeof(kTempSuffix) - 1);
    ReleaseText(fileName);
    AnsiText lower = ToLowerCase(tail);
    ReleaseText(tail);
    int differs = CompareText(lower, kTempSuffix);
    ReleaseText(lower);
    return differs == 0;
}

void SignalTempCopyStart()
{
    if (!IsTemporaryCopy())
        return;

    AnsiText sectionName = ToFullWidth(kSectionBaseName);
    HANDLE section = OpenFileMappingA(kSectionAccess, FALSE, sectionName);
    ReleaseText(sectionName);
    if (section == nullptr)
        return;

    void* view = MapViewOfFile(section, kSectionAccess, 0, 0, 0);
    if (view != nullptr)
        RtlMoveMemory(view, kStartSignal, sizeof(kStartSignal));
    CloseHandle(section);
}
