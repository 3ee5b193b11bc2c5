// A heap that refuses on request, linked into the yygate-heapseam test build.
//
// The program's NewBlock/FreeBlock go through here (YYGATE_HEAP_SEAM). Two
// environment variables drive it from outside the process:
//   YYGATE_SEAM_REFUSE  n: the n-th request (counting from 1) is refused
//   YYGATE_SEAM_LOG     a file that gets one line per request and release:
//                       "take <n> <size>", "refuse <n> <size>", "give <size>"
// Everything else is the real process heap, so the build behaves exactly as
// the shipped program until the refused request.
#include <windows.h>

static unsigned RequestCount = 0;

static unsigned ReadNumber(const char* name)
{
    char value[16];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value))
        return 0;
    unsigned number = 0;
    for (DWORD i = 0; i < length && value[i] >= '0' && value[i] <= '9'; ++i)
        number = number * 10 + static_cast<unsigned>(value[i] - '0');
    return number;
}

static void Log(const char* format, unsigned a, unsigned b)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("YYGATE_SEAM_LOG", path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[64];
    int n = wsprintfA(line, format, a, b);
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

void* SeamHeapAlloc(unsigned size)
{
    unsigned n = ++RequestCount;
    if (n == ReadNumber("YYGATE_SEAM_REFUSE")) {
        Log("refuse %u %u\r\n", n, size);
        return nullptr;
    }
    Log("take %u %u\r\n", n, size);
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void SeamHeapFree(void* block)
{
    Log("give %u\r\n", static_cast<unsigned>(HeapSize(GetProcessHeap(), 0, block)), 0);
    HeapFree(GetProcessHeap(), 0, block);
}
