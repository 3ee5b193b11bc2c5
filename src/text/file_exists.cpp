// FileExists over FindFirstFileA.
#include "text/file_exists.h"

#include <windows.h>

int FileExists(const char* path)
{
    WIN32_FIND_DATAA found; // filled by the call, never read
    HANDLE search = FindFirstFileA(path != nullptr ? path : "", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}
