// Fuzzes the text operations against the reference model.
// Input: 4 bytes of TextRight count (little-endian, signed), then text a,
// a NUL, then text b (texts end at the first NUL, as AnsiText does).
#include "reference_model.h"
#include "text/ansi_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Take(AnsiText text)
{
    std::string bytes = text ? std::string(text) : std::string();
    if (text != nullptr && bytes.empty())
        std::abort(); // copying operations hand back absent, never empty
    ReleaseText(text);
    return bytes;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    int32_t count;
    std::memcpy(&count, data, 4);
    std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
    size_t nul = rest.find('\0');
    std::string a = rest.substr(0, nul);
    std::string b = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    b = b.substr(0, b.find('\0'));

    const char* pa = a.empty() && (count & 1) ? nullptr : a.c_str(); // absent or empty
    const char* pb = b.empty() && (count & 2) ? nullptr : b.c_str();

    AnsiText joined = ConcatText(pa, pb);
    Check(joined != nullptr && std::string(joined) == model::Concat(a, b));
    ReleaseText(joined);

    Check(CompareText(pa, pb) == model::Compare(a, b));
    Check(CompareText(pb, pa) == model::Compare(b, a));
    Check(TextLength(pa) == a.size());

    Check(Take(TextRight(pa, count)) == model::Right(a, count));
    Check(Take(ToLowerCase(pa)) == model::Lower(a));
    Check(Take(ToFullWidth(pa)) == model::FullWidth(a));
    return 0;
}
