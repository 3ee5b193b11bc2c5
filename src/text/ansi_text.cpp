// Byte-level text operations. No platform calls: this file builds for the
// host as well, where the unit tests and fuzz targets run it.
#include "text/ansi_text.h"

#include "frame/heap.h"

static const unsigned char kLeadByteFloor = 0x80;

static AnsiText NewText(unsigned length)
{
    AnsiText text = static_cast<AnsiText>(NewBlock(length + 1));
    text[length] = '\0';
    return text;
}

static void CopyBytes(char* to, const char* from, unsigned count)
{
    for (unsigned i = 0; i < count; ++i)
        to[i] = from[i];
}

AnsiText CopyOrAbsent(const char* from, unsigned count)
{
    if (count == 0)
        return nullptr;
    AnsiText text = NewText(count);
    CopyBytes(text, from, count);
    return text;
}

unsigned TextLength(const char* text)
{
    unsigned length = 0;
    if (text != nullptr)
        while (text[length] != '\0')
            ++length;
    return length;
}

AnsiText ConcatText(const char* const* texts, int count)
{
    unsigned total = 0;
    for (int i = 0; i < count; ++i)
        total += TextLength(texts[i]);

    AnsiText joined = NewText(total);
    unsigned at = 0;
    for (int i = 0; i < count; ++i) {
        unsigned length = TextLength(texts[i]);
        CopyBytes(joined + at, texts[i], length);
        at += length;
    }
    return joined;
}

AnsiText ConcatText(const char* first, const char* second)
{
    const char* texts[] = {first, second};
    return ConcatText(texts, 2);
}

int CompareText(const char* a, const char* b)
{
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
    for (;; ++x, ++y) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
        if (*x == 0)
            return 0;
    }
}

AnsiText TextRight(const char* text, int count)
{
    if (count <= 0)
        return nullptr;
    unsigned length = TextLength(text);
    unsigned n = static_cast<unsigned>(count) < length ? static_cast<unsigned>(count) : length;
    return CopyOrAbsent(text + (length - n), n);
}

AnsiText ToLowerCase(const char* text)
{
    AnsiText lower = CopyOrAbsent(text, TextLength(text));
    if (lower == nullptr)
        return nullptr;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(lower); *p != 0; ++p) {
        if (*p >= kLeadByteFloor) {
            if (p[1] == 0)
                break;
            ++p; // the second byte of the pair stays as it is
        } else if (*p >= 'A' && *p <= 'Z') {
            *p = static_cast<unsigned char>(*p + 0x20);
        }
    }
    return lower;
}

// Writes the full-width form of `text` to `out` (when not null) and returns
// its length, so that one routine both measures and fills the result.
static unsigned WriteFullWidth(const char* text, unsigned char* out)
{
    unsigned n = 0;
    for (const unsigned char* in = reinterpret_cast<const unsigned char*>(text); *in != 0; ++in) {
        unsigned char pair[2];
        unsigned size = 2;
        unsigned char c = *in;
        if (c >= kLeadByteFloor) {
            if (in[1] == 0)
                break; // a lone lead byte at the end is dropped
            pair[0] = c;
            pair[1] = *++in; // never converted, even when printable
        } else if (c == ' ') {
            pair[0] = 0xA1; // A1 A1, ideographic space
            pair[1] = 0xA1;
        } else if (c == '~') {
            pair[0] = 0xA1; // A1 AB, full-width tilde
            pair[1] = 0xAB;
        } else if (c > ' ' && c < '~') {
            pair[0] = 0xA3; // the full-width row of code page 936
            pair[1] = static_cast<unsigned char>(c + 0x80);
        } else {
            pair[0] = c; // control bytes and DEL stay as they are
            size = 1;
        }
        if (out != nullptr) {
            out[n] = pair[0];
            if (size == 2)
                out[n + 1] = pair[1];
        }
        n += size;
    }
    return n;
}

AnsiText ToFullWidth(const char* text)
{
    if (text == nullptr)
        return nullptr;
    unsigned length = WriteFullWidth(text, nullptr);
    if (length == 0)
        return nullptr;
    AnsiText wide = NewText(length);
    WriteFullWidth(text, reinterpret_cast<unsigned char*>(wide));
    return wide;
}

void ReleaseText(AnsiText text)
{
    FreeBlock(text);
}
