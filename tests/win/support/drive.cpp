// TemporaryDrive: Wine's mount manager, or DefineDosDeviceA on Windows.
#include "win/support/drive.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

namespace yytest {

// Wine's own extension of the mount manager (include/ddk/mountmgr.h in
// Wine's source, the layout of Wine 8).
static const DWORD kDefineUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct MountmgrUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

using UnixFileNameFunction = char*(CDECL*)(const WCHAR*);

// Asks Wine's mount manager to point `letter` at `unixPath`, or to drop the
// drive when `unixPath` is empty.
static bool DefineWineDrive(char letter, const std::string& unixPath)
{
    std::vector<char> request(sizeof(MountmgrUnixDrive) + unixPath.size() + 1, '\0');
    auto* drive = reinterpret_cast<MountmgrUnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->letter = static_cast<WCHAR>(letter | 0x20);
    if (unixPath.empty()) {
        drive->type = DRIVE_NO_ROOT_DIR;
    } else {
        drive->type = DRIVE_FIXED;
        drive->mountPointOffset = sizeof(MountmgrUnixDrive);
        unixPath.copy(request.data() + sizeof(MountmgrUnixDrive), unixPath.size());
    }
    HANDLE manager = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, kDefineUnixDrive, request.data(), static_cast<DWORD>(request.size()), nullptr,
                              0, &returned, nullptr);
    CloseHandle(manager);
    return ok != 0;
}

TemporaryDrive::TemporaryDrive(const std::string& folder) : folder_(folder)
{
    DWORD used = GetLogicalDrives();
    char letter = 0;
    for (char candidate = 'Y'; candidate >= 'M'; --candidate) {
        if ((used & (1u << (candidate - 'A'))) == 0) {
            letter = candidate;
            break;
        }
    }
    if (letter == 0) {
        problem_ = "no free drive letter";
        return;
    }

    auto unixFileName = reinterpret_cast<UnixFileNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName != nullptr) {
        int length = MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, nullptr, 0);
        std::vector<WCHAR> wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
        MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(), length);
        char* unixPath = unixFileName(wide.data());
        if (unixPath == nullptr) {
            problem_ = "no Unix path for " + folder;
            return;
        }
        std::string path = unixPath;
        HeapFree(GetProcessHeap(), 0, unixPath);
        if (!DefineWineDrive(letter, path)) {
            problem_ = "the mount manager refused drive " + std::string(1, letter) + ": (error " +
                       std::to_string(GetLastError()) + ")";
            return;
        }
        throughWine_ = true;
    } else {
        std::string device = std::string(1, letter) + ":";
        if (!DefineDosDeviceA(0, device.c_str(), folder.c_str())) {
            problem_ = "DefineDosDeviceA failed with error " + std::to_string(GetLastError());
            return;
        }
    }
    letter_ = letter;
}

TemporaryDrive::~TemporaryDrive()
{
    if (letter_ == 0)
        return;
    if (throughWine_) {
        DefineWineDrive(letter_, "");
    } else {
        std::string device = Drive();
        DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device.c_str(), folder_.c_str());
    }
}

std::string TemporaryDrive::Drive() const
{
    return letter_ != 0 ? std::string(1, letter_) + ":" : std::string();
}

} // namespace yytest
