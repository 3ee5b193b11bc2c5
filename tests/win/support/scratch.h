// Scratch folders for the program-level tests, and where the programs under
// test are.
//
// Every test gets folders of its own under the Windows temp folder, places
// copies of the program and the files it looks for there, and removes the
// whole tree afterwards. Paths are byte strings in the ANSI code page (936
// under the test set-up) and every file call is an ANSI (A) call, so folder
// names may hold double-byte characters exactly as the program sees them.
#pragma once

#include <string>

namespace yytest {

// The value of an environment variable; empty when it is not set.
std::string EnvironmentValue(const char* name);

// The programs under test, from YYGATE_EXE and YYGATE_HEAPSEAM_EXE.
std::string ProgramPath();
std::string HeapSeamProgramPath();

// `folder` + "\" + `name`.
std::string JoinPath(const std::string& folder, const std::string& name);

bool PathExists(const std::string& path);

// Removes a file, or a folder with everything below it. True when nothing
// is left at `path` afterwards.
bool RemoveTree(const std::string& path);

// A fresh folder of its own under the temp folder, removed with its contents
// when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }

    // Makes every missing folder along `relative` (backslash separated) and
    // returns the full path of the last one; empty on failure.
    std::string MakeFolder(const std::string& relative) const;

    // Writes a file (and its missing folders) and returns its full path;
    // empty on failure.
    std::string MakeFile(const std::string& relative, const std::string& content = "MZ") const;

    // Copies the program file `source` to `relative` (folders made as
    // needed) and returns the full path of the copy; empty on failure.
    std::string PlaceProgram(const std::string& relative, const std::string& source = ProgramPath()) const;

private:
    std::string path_;
};

// The whole content of a file, read while others may still write it; empty
// when the file cannot be opened.
std::string ReadWholeFile(const std::string& path);

} // namespace yytest
