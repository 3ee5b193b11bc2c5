// What the start-signal tests add to the test support: the shared-memory
// section a temporary copy signals through, owned by the test, and runs of
// the section-owner tool with its report read back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace handshake {

// "Ｌｕｍｅｎ－ＴＱ" in code page 936.
inline const char kSectionName[] =
    "\xA3\xCC\xA3\xF5\xA3\xED\xA3\xE5\xA3\xEE\xA3\xAD\xA3\xD4\xA3\xD1";

// The section, created by the test: one page of 01 02 03 ... FF 01 02 ...,
// with no zero byte anywhere.
class Section {
public:
    Section();
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    // False when the name was taken or the page could not be mapped.
    bool Created() const { return view_ != nullptr; }
    std::string Bytes(size_t count) const;
    // The first offset from 3 on that no longer holds the pattern, or 0.
    size_t FirstChangeFromOffset3() const;
    static unsigned char Pattern(size_t offset) { return static_cast<unsigned char>(offset % 255 + 1); }

private:
    HANDLE handle_ = nullptr;
    volatile unsigned char* view_ = nullptr;
    size_t size_ = 0;
};

// Whether any process holds a section of that name.
bool SectionExists();

// One run of section-owner.exe (from YYGATE_TOOLS_DIR), its output caught.
struct ToolRun {
    bool finished = false;
    DWORD exitCode = 0;
    std::string output;
    std::map<std::string, std::string> report; // the first "key: value" of each key
    // The value of a report line, or "<absent>".
    std::string Value(const std::string& key) const;
};
ToolRun RunSectionOwner(const std::vector<std::string>& arguments, DWORD timeoutMs = 60000);

} // namespace handshake
