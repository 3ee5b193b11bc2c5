// A drive letter of its own for a test, whose root is a scratch folder, so
// that the program can stand at the root of a drive.
//
// Under Wine a drive letter is a symbolic link in the prefix's dosdevices
// folder, which Wine's mount manager makes on request: the same request
// winecfg sends (IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE to \\.\MountPointManager,
// with the folder's Unix path from wine_get_unix_file_name). Every process of
// the prefix sees the drive at once. DefineDosDeviceA is no help there: Wine
// records the name, but file calls do not resolve it. On Windows itself,
// where those Wine exports are missing, DefineDosDeviceA is used.
#pragma once

#include <string>

namespace yytest {

class TemporaryDrive {
public:
    // Maps the first free letter from Y: down to `folder`.
    explicit TemporaryDrive(const std::string& folder);
    ~TemporaryDrive();
    TemporaryDrive(const TemporaryDrive&) = delete;
    TemporaryDrive& operator=(const TemporaryDrive&) = delete;

    bool Mapped() const { return letter_ != 0; }
    // "Y:" (no backslash); empty when not mapped.
    std::string Drive() const;
    // Why the mapping failed.
    const std::string& Problem() const { return problem_; }

private:
    char letter_ = 0;
    bool throughWine_ = false;
    std::string folder_;
    std::string problem_;
};

} // namespace yytest
