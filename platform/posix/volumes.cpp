// Volumes of the emulated machine. Free space comes from the host file
// system that holds the drive's folder; the machine's settings can replace
// it per drive, so that a test can give a drive an exact figure:
//   volume.<letter>.free    free bytes of the volume
//   volume.<letter>.quota   bytes the calling user may still use (a disk
//                           quota; never more than the free bytes)
//   volume.<letter>.fs      file-system name ("NTFS" unless set)
//   volume.<letter>.label   volume label ("" unless set)
// (`w32 volume` sets them.)
#include "volumes.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <cstring>

#include "machine.h"

namespace {

std::string volume_setting(char drive, const char* name) {
    std::string key = std::string("volume.") + (char)tolower((unsigned char)drive) + "." + name;
    return w32::setting(key);
}

bool setting_bytes(char drive, const char* name, ULONGLONG* value) {
    std::string text = volume_setting(drive, name);
    if (text.empty()) return false;
    *value = strtoull(text.c_str(), nullptr, 10);
    return true;
}

// The root folder of a drive on the host ("" when the drive does not exist).
std::string drive_root_host(char drive) {
    char root[4] = {drive, ':', '\\', 0};
    w32::Resolved r = w32::resolve_path(root);
    return r.error ? "" : r.host;
}

}  // namespace

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
    w32::Resolved r = w32::resolve_path(lpDirectoryName ? lpDirectoryName : "\\");
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (stat(r.host.c_str(), &st) != 0) return w32::fail(ERROR_PATH_NOT_FOUND);
    if (!S_ISDIR(st.st_mode)) return w32::fail(ERROR_DIRECTORY);
    char drive = r.windows[0];
    struct statvfs vfs;
    if (statvfs(drive_root_host(drive).c_str(), &vfs) != 0) return w32::fail(ERROR_NOT_READY);
    ULONGLONG total = (ULONGLONG)vfs.f_blocks * vfs.f_frsize;
    ULONGLONG free = (ULONGLONG)vfs.f_bfree * vfs.f_frsize;
    ULONGLONG caller = (ULONGLONG)vfs.f_bavail * vfs.f_frsize;
    if (setting_bytes(drive, "free", &free)) caller = free;
    ULONGLONG quota;
    if (setting_bytes(drive, "quota", &quota) && quota < caller) caller = quota;
    if (caller > free) caller = free;
    if (total < free) total = free;
    if (lpFreeBytesAvailableToCaller) lpFreeBytesAvailableToCaller->QuadPart = caller;
    if (lpTotalNumberOfBytes) lpTotalNumberOfBytes->QuadPart = total;
    if (lpTotalNumberOfFreeBytes) lpTotalNumberOfFreeBytes->QuadPart = free;
    return TRUE;
}

BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
    // The path must name a volume's root folder. "C:" without the backslash
    // means the current folder of drive C:, which is a root folder only
    // while the current folder is.
    w32::Resolved r = w32::resolve_path(lpRootPathName ? lpRootPathName : "\\");
    if (r.error) return w32::fail(r.error);
    if (r.windows.size() != 3) return w32::fail(ERROR_DIR_NOT_ROOT);
    char drive = r.windows[0];
    std::string fs = w32::to_cp932(volume_setting(drive, "fs"));
    if (fs.empty()) fs = "NTFS";
    std::string label = w32::to_cp932(volume_setting(drive, "label"));
    if ((lpFileSystemNameBuffer && nFileSystemNameSize <= fs.size()) ||
        (lpVolumeNameBuffer && nVolumeNameSize <= label.size()))
        return w32::fail(ERROR_BAD_LENGTH);
    if (lpFileSystemNameBuffer) memcpy(lpFileSystemNameBuffer, fs.c_str(), fs.size() + 1);
    if (lpVolumeNameBuffer) memcpy(lpVolumeNameBuffer, label.c_str(), label.size() + 1);
    if (lpVolumeSerialNumber) *lpVolumeSerialNumber = 0x1CE00000u + (DWORD)(unsigned char)drive;
    if (lpMaximumComponentLength) *lpMaximumComponentLength = 255;
    if (lpFileSystemFlags) {
        DWORD flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
        if (fs == "NTFS") flags |= FILE_CASE_SENSITIVE_SEARCH | FILE_PERSISTENT_ACLS;
        *lpFileSystemFlags = flags;
    }
    return TRUE;
}
