// The report lines the tools print: "key: value", flushed at once so that a
// reader (a test, the demo) sees each line while the tool goes on; bytes as
// upper-case hex pairs, so code page 936 text stays readable in ASCII.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>

inline void Report(const char* key, const char* format, ...)
{
    std::printf("%s: ", key);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

// Appends `count` bytes as "AB CD ..." to the text in `out` (capacity `size`),
// as many as fit.
inline void AppendHex(char* out, size_t size, const volatile void* bytes, size_t count)
{
    const volatile unsigned char* b = static_cast<const volatile unsigned char*>(bytes);
    size_t used = std::strlen(out);
    for (size_t i = 0; i < count && used + 4 < size; ++i)
        used += std::snprintf(out + used, size - used, i == 0 ? "%02X" : " %02X", b[i]);
}

// One report line holding `count` bytes as hex.
inline void ReportHex(const char* key, const volatile void* bytes, size_t count)
{
    char shown[3 * 512 + 1] = "";
    AppendHex(shown, sizeof(shown), bytes, count);
    Report(key, "%s", shown);
}
