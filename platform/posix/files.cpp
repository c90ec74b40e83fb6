// Files and folders of the emulated machine, with Windows' refusals and
// error codes.
#include "files.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "machine.h"

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
const unsigned long long kEpochDifference = 116444736000000000ull;

FILETIME to_filetime(const struct timespec& ts) {
    unsigned long long t = (unsigned long long)ts.tv_sec * 10000000ull + ts.tv_nsec / 100 + kEpochDifference;
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)t;
    ft.dwHighDateTime = (DWORD)(t >> 32);
    return ft;
}

DWORD copy_out(const std::string& text, LPSTR buffer, DWORD size) {
    // Returns the length without the terminator when it fits, else the size
    // needed with the terminator (GetCurrentDirectoryA's convention).
    if (!buffer || size <= text.size()) return (DWORD)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (DWORD)text.size();
}

}  // namespace

BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) return w32::fail(ERROR_INVALID_PARAMETER);
    w32::Resolved r = w32::resolve_path(lpFileName);
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (lstat(r.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(r));
    DWORD err = 0;
    DWORD attrs = w32::host_attributes(r.host, &err);
    if (attrs == INVALID_FILE_ATTRIBUTES) return w32::fail(err);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = attrs;
    data->ftCreationTime = to_filetime(st.st_ctim);
    data->ftLastAccessTime = to_filetime(st.st_atim);
    data->ftLastWriteTime = to_filetime(st.st_mtim);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        data->nFileSizeHigh = (DWORD)((unsigned long long)st.st_size >> 32);
        data->nFileSizeLow = (DWORD)st.st_size;
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(lpFileName, GetFileExInfoStandard, &data)) return INVALID_FILE_ATTRIBUTES;
    return data.dwFileAttributes;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    w32::Resolved r = w32::resolve_path(lpFileName);
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (lstat(r.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(r));
    if (!w32::set_host_attributes(r.host, dwFileAttributes)) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    w32::Resolved r = w32::resolve_path(lpFileName);
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (lstat(r.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(r));
    DWORD err = 0;
    DWORD attrs = w32::host_attributes(r.host, &err);
    if (S_ISDIR(st.st_mode)) return w32::fail(ERROR_ACCESS_DENIED);
    if (attrs & FILE_ATTRIBUTE_READONLY) return w32::fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode) && w32::file_in_use(r.host)) return w32::fail(ERROR_SHARING_VIOLATION);
    if (unlink(r.host.c_str()) != 0) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    w32::Resolved r = w32::resolve_path(lpPathName);
    if (r.error) return w32::fail(r.error);
    if (mkdir(r.host.c_str(), 0755) != 0) {
        if (errno == ENOENT) return w32::fail(ERROR_PATH_NOT_FOUND);
        return w32::fail(w32::error_from_errno(errno));
    }
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        w32::fail(ERROR_INVALID_FUNCTION);
        return 0;
    }
    exe[n] = 0;
    std::string path = w32::windows_path_of(exe);
    if (nSize == 0 || !lpFilename) {
        w32::fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        // Cut and terminated, with the size as the result.
        memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        w32::fail(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
        w32::fail(w32::error_from_errno(errno));
        return 0;
    }
    return copy_out(w32::windows_path_of(cwd), lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    w32::Resolved r = w32::resolve_path(lpPathName);
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (stat(r.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(r));
    if (!S_ISDIR(st.st_mode)) return w32::fail(ERROR_DIRECTORY);
    if (chdir(r.host.c_str()) != 0) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copy_out("C:\\Windows", lpBuffer, uSize);
}

namespace {

bool same_object(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether a Windows path (CP932, normalised by resolve_path) is the root
// folder of its drive ("C:\").
bool is_drive_root(const w32::Resolved& r) { return r.windows.size() == 3; }

// Whether `inner` lies inside the folder `outer` (host paths).
bool inside_folder(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/';
}

}  // namespace

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    // The kit renames only in the plain form; the other forms are not provided.
    if (dwFlags != 0) return w32::fail(ERROR_INVALID_PARAMETER);
    w32::Resolved from = w32::resolve_path(lpExistingFileName);
    if (from.error) return w32::fail(from.error);
    struct stat st;
    if (lstat(from.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(from));
    w32::Resolved to = w32::resolve_path(lpNewFileName);
    if (to.error) return w32::fail(to.error);
    if (is_drive_root(from)) return w32::fail(ERROR_ACCESS_DENIED);
    // Drives are separate volumes: without MOVEFILE_COPY_ALLOWED nothing moves
    // between them.
    if (from.windows[0] != to.windows[0]) return w32::fail(ERROR_NOT_SAME_DEVICE);
    std::string target = to.host;
    struct stat existing;
    if (lstat(to.host.c_str(), &existing) == 0) {
        // The same object under another spelling is a change of case only:
        // the name takes the spelling given.
        if (!same_object(st, existing)) return w32::fail(ERROR_ALREADY_EXISTS);
        std::string windows = w32::to_utf8(to.windows);
        target = to.host.substr(0, to.host.rfind('/') + 1) + windows.substr(windows.rfind('\\') + 1);
    } else if (!to.parent_exists) {
        return w32::fail(ERROR_PATH_NOT_FOUND);
    }
    if (S_ISDIR(st.st_mode)) {
        // A folder that is some process's current folder is open without
        // delete sharing; one with anything open below it is refused by the
        // file system as a whole.
        if (w32::folder_is_current(from.host)) return w32::fail(ERROR_SHARING_VIOLATION);
        if (w32::folder_in_use(from.host)) return w32::fail(ERROR_ACCESS_DENIED);
        if (inside_folder(to.host, from.host)) return w32::fail(ERROR_SHARING_VIOLATION);
    } else if (S_ISREG(st.st_mode) && w32::file_in_use(from.host)) {
        return w32::fail(ERROR_SHARING_VIOLATION);
    }
    if (rename(from.host.c_str(), target.c_str()) != 0) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}
