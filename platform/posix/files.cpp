// Files and folders of the emulated machine, with Windows' refusals and
// error codes.
#include "files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

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

// Resolves a path that must name something (not following a last link):
// fills the resolved path and its status, or sets the Windows error (the
// path's own, or 2/3 when it is missing) and returns false.
bool resolve_existing(LPCSTR path, w32::Resolved* r, struct stat* st) {
    *r = w32::resolve_path(path);
    if (r->error) return w32::fail(r->error);
    if (lstat(r->host.c_str(), st) != 0) return w32::fail(w32::missing_code(*r));
    return true;
}

}  // namespace

BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) return w32::fail(ERROR_INVALID_PARAMETER);
    w32::Resolved r;
    struct stat st;
    if (!resolve_existing(lpFileName, &r, &st)) return FALSE;
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
    w32::Resolved r;
    struct stat st;
    if (!resolve_existing(lpFileName, &r, &st)) return FALSE;
    if (!w32::set_host_attributes(r.host, dwFileAttributes)) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    w32::Resolved r;
    struct stat st;
    if (!resolve_existing(lpFileName, &r, &st)) return FALSE;
    DWORD err = 0;
    DWORD attrs = w32::host_attributes(r.host, &err);
    // A folder, or a link to one, is no file.
    if (S_ISDIR(st.st_mode) || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return w32::fail(ERROR_ACCESS_DENIED);
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
    w32::Resolved from;
    struct stat st;
    if (!resolve_existing(lpExistingFileName, &from, &st)) return FALSE;
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

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    w32::Resolved r;
    struct stat st;
    if (!resolve_existing(lpPathName, &r, &st)) return FALSE;
    if (is_drive_root(r)) return w32::fail(ERROR_ACCESS_DENIED);
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder is removed as the link; what it leads to is
        // never touched. A link to a file is no folder.
        struct stat target;
        if (stat(r.host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return w32::fail(ERROR_DIRECTORY);
        if (unlink(r.host.c_str()) != 0) return w32::fail(w32::error_from_errno(errno));
        return TRUE;
    }
    if (!S_ISDIR(st.st_mode)) return w32::fail(ERROR_DIRECTORY);
    // The folder is opened for deletion first, which a process that has it
    // as its current folder does not share; then a read-only or non-empty
    // folder is refused.
    if (w32::folder_is_current(r.host)) return w32::fail(ERROR_SHARING_VIOLATION);
    DWORD err = 0;
    if (w32::host_attributes(r.host, &err) & FILE_ATTRIBUTE_READONLY) return w32::fail(ERROR_ACCESS_DENIED);
    if (rmdir(r.host.c_str()) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) return w32::fail(ERROR_DIR_NOT_EMPTY);
        return w32::fail(w32::error_from_errno(errno));
    }
    return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    w32::Resolved from = w32::resolve_path(lpExistingFileName);
    if (from.error) return w32::fail(from.error);
    struct stat st;
    if (stat(from.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(from));
    if (S_ISDIR(st.st_mode)) return w32::fail(ERROR_ACCESS_DENIED);
    w32::Resolved to = w32::resolve_path(lpNewFileName);
    if (to.error) return w32::fail(to.error);
    struct stat existing;
    if (stat(to.host.c_str(), &existing) == 0) {
        if (bFailIfExists) return w32::fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(existing.st_mode)) return w32::fail(ERROR_ACCESS_DENIED);
        // The source is open for reading while the destination is opened
        // for writing: a file cannot be copied onto itself.
        if (same_object(st, existing)) return w32::fail(ERROR_SHARING_VIOLATION);
        DWORD err = 0;
        if (w32::host_attributes(to.host, &err) & FILE_ATTRIBUTE_READONLY) return w32::fail(ERROR_ACCESS_DENIED);
        if (w32::file_in_use(to.host)) return w32::fail(ERROR_SHARING_VIOLATION);
    } else if (!to.parent_exists) {
        return w32::fail(ERROR_PATH_NOT_FOUND);
    }
    std::string data;
    if (!w32::read_file(from.host, &data)) return w32::fail(w32::error_from_errno(errno));
    DWORD err = 0;
    // Readers of the destination see the old or the new content, never a part.
    if (!w32::write_file_atomically(to.host, data, &err)) return w32::fail(err);
    DWORD attrs = w32::host_attributes(from.host, &err);
    if (attrs != INVALID_FILE_ATTRIBUTES)
        w32::set_host_attributes(to.host, (attrs & ~(DWORD)FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, to.host.c_str(), times, 0);
    return TRUE;
}

namespace {

// One listing: every matching entry, read when the listing starts, as the
// file system delivers them in one go.
struct FindListing : w32::Object {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

// Reads one entry's record without following a link. Fails when the entry
// has gone meanwhile.
bool read_find_data(const std::string& host, const std::string& nameUtf8, WIN32_FIND_DATAA* data) {
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) return false;
    DWORD err = 0;
    DWORD attrs = w32::host_attributes(host, &err);
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    std::string name = w32::to_cp932(nameUtf8);
    if (name.size() >= MAX_PATH) return false;  // host names of 255 bytes always fit
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = attrs;
    data->ftCreationTime = to_filetime(st.st_ctim);
    data->ftLastAccessTime = to_filetime(st.st_atim);
    data->ftLastWriteTime = to_filetime(st.st_mtim);
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        data->dwReserved0 = IO_REPARSE_TAG_SYMLINK;  // a link has no size of its own
    } else if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        data->nFileSizeHigh = (DWORD)((unsigned long long)st.st_size >> 32);
        data->nFileSizeLow = (DWORD)st.st_size;
    }
    memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return true;
}

std::u32string code_points(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char32_t cp = extra ? c & (0x3F >> extra) : c;
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

char32_t fold(char32_t c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

bool wildcard_match(const char32_t* pattern, const char32_t* name) {
    if (!*pattern) return !*name;
    if (*pattern == '*') {
        for (;; ++name) {
            if (wildcard_match(pattern + 1, name)) return true;
            if (!*name) return false;
        }
    }
    if (!*name) return false;
    if (*pattern != '?' && fold(*pattern) != fold(*name)) return false;
    return wildcard_match(pattern + 1, name + 1);
}

// '*' matches any run of characters, '?' one character, letters match in
// either case; a pattern ending in ".*" also matches a name without a dot
// ("*.*" matches every name).
bool name_matches(const std::string& pattern, const std::string& name) {
    std::u32string p = code_points(pattern), n = code_points(name);
    if (wildcard_match(p.c_str(), n.c_str())) return true;
    return p.size() >= 2 && p.compare(p.size() - 2, 2, U".*") == 0 && n.find(U'.') == std::u32string::npos &&
           wildcard_match(p.substr(0, p.size() - 2).c_str(), n.c_str());
}

bool has_wildcard(const std::string& utf8Path) {
    size_t sep = utf8Path.find_last_of("\\/");
    std::string last = utf8Path.substr(sep == std::string::npos ? 0 : sep + 1);
    return last.find_first_of("*?") != std::string::npos;
}

// The entries of `folder` (host) that match, "." and ".." first unless the
// folder is a drive's root, the others in the order of their names with
// letters folded to upper case, as NTFS keeps them.
bool list_folder(const std::string& folder, const std::string& pattern, bool root, std::vector<WIN32_FIND_DATAA>* out) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (struct dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        // The machine's own temporary files of an atomic write are not
        // entries of the Windows folder.
        if (name == "." || name == ".." || name.find(".w32tmp.") != std::string::npos) continue;
        if (name_matches(pattern, name)) names.push_back(name);
    }
    closedir(dir);
    auto upper = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c -= 32;
        return s;
    };
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return upper(a) < upper(b); });
    WIN32_FIND_DATAA data;
    char real[PATH_MAX];
    if (!root && realpath(folder.c_str(), real)) {
        // "." is the folder listed, also when a link led there.
        std::string self = real;
        std::string parent = self.substr(0, self.rfind('/'));
        if (name_matches(pattern, ".") && read_find_data(self, ".", &data)) out->push_back(data);
        if (name_matches(pattern, "..") && read_find_data(parent.empty() ? "/" : parent, "..", &data))
            out->push_back(data);
    }
    for (auto& name : names)
        if (read_find_data(folder + "/" + name, name, &data)) out->push_back(data);
    return true;
}

HANDLE find_failed(DWORD code) {
    w32::fail(code);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (!lpFileName || !lpFindFileData) return find_failed(ERROR_INVALID_PARAMETER);
    std::string utf8;
    if (!w32::cp932_to_utf8(lpFileName, &utf8)) return find_failed(ERROR_INVALID_NAME);
    // A name that ends in a separator names no entry.
    if (!utf8.empty() && (utf8.back() == '\\' || utf8.back() == '/')) return find_failed(ERROR_FILE_NOT_FOUND);
    bool wildcard = has_wildcard(utf8);
    w32::Resolved r = w32::resolve_path(lpFileName, wildcard ? w32::kAllowWildcards : w32::kResolveDefault);
    if (r.error) return find_failed(r.error);
    std::string windows = w32::to_utf8(r.windows);
    size_t sep = windows.rfind('\\');
    if (sep + 1 == windows.size()) return find_failed(ERROR_FILE_NOT_FOUND);  // a drive's root
    std::string last = windows.substr(sep + 1);
    size_t slash = r.host.rfind('/');
    std::string folder = slash == 0 ? "/" : r.host.substr(0, slash);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return find_failed(ERROR_PATH_NOT_FOUND);
    if (!S_ISDIR(st.st_mode)) return find_failed(ERROR_DIRECTORY);

    auto* listing = new FindListing;
    WIN32_FIND_DATAA data;
    if (!wildcard) {
        if (read_find_data(r.host, r.host.substr(slash + 1), &data)) listing->entries.push_back(data);
    } else if (!list_folder(folder, last, sep == 2, &listing->entries)) {
        delete listing;
        return find_failed(w32::error_from_errno(errno));
    }
    if (listing->entries.empty()) {
        delete listing;
        return find_failed(ERROR_FILE_NOT_FOUND);
    }
    *lpFindFileData = listing->entries[0];
    listing->next = 1;
    return w32::new_handle(listing);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    FindListing* listing = w32::object_as<FindListing>(hFindFile);
    if (!listing || !lpFindFileData) return w32::fail(ERROR_INVALID_HANDLE);
    if (listing->next >= listing->entries.size()) return w32::fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = listing->entries[listing->next++];
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (!w32::object_as<FindListing>(hFindFile)) return w32::fail(ERROR_INVALID_HANDLE);
    return CloseHandle(hFindFile);
}

static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA has Windows' layout");
