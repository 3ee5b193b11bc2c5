// A second, independent statement of the text rules, written from their
// tables as plain std::string code, for the fuzz targets to compare against.
// Where an operation hands back a copy, the empty string stands for the
// absent text (the two are interchangeable in the program).
#pragma once

#include <string>

namespace model {

inline std::string Concat(const std::string& a, const std::string& b)
{
    return a + b;
}

inline int Compare(const std::string& a, const std::string& b)
{
    // std::string compares chars, which may be signed: compare as unsigned.
    for (size_t i = 0;; ++i) {
        int x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        int y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (x != y)
            return x < y ? -1 : 1;
        if (i >= a.size() && i >= b.size())
            return 0;
    }
}

inline std::string Right(const std::string& text, long long count)
{
    if (count <= 0)
        return {};
    if (static_cast<unsigned long long>(count) >= text.size())
        return text;
    return text.substr(text.size() - static_cast<size_t>(count));
}

inline std::string Lower(const std::string& text)
{
    std::string out;
    bool secondByte = false;
    for (unsigned char c : text) {
        if (secondByte) {
            out += static_cast<char>(c);
            secondByte = false;
        } else if (c >= 0x80) {
            out += static_cast<char>(c);
            secondByte = true;
        } else {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    return out; // a lone last lead byte is already in `out`, unchanged
}

inline std::string FullWidth(const std::string& text)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (i + 1 == text.size())
                break; // dropped
            out += text.substr(i, 2);
            i += 2;
            continue;
        }
        if (c == 0x20)
            out += "\xA1\xA1";
        else if (c == 0x7E)
            out += "\xA1\xAB";
        else if (c >= 0x21 && c <= 0x7D)
            out += std::string("\xA3") + static_cast<char>(c | 0x80);
        else
            out += static_cast<char>(c);
        ++i;
    }
    return out;
}

// Position of the last separating backslash, or -1; `isLead` tells which
// bytes start a two-byte character.
template <typename IsLead>
int LastSeparator(const std::string& text, IsLead isLead)
{
    int last = -1;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (isLead(c)) {
            i += 2; // the pair, whatever its second byte
            continue;
        }
        if (c == '\\')
            last = static_cast<int>(i);
        ++i;
    }
    return last;
}

} // namespace model
