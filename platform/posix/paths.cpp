// Windows paths on the emulated machine: drive letters map to folders of the
// machine ("drives/<x>"), Z: to the host's root folder. Paths are CP932 with
// "\" and are converted to UTF-8 before they are split, so the second byte of
// a double-byte character (often 0x5C) is never taken for a separator.
// Names are matched case-insensitively, as on Windows.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "files.h"
#include "machine.h"

namespace w32 {

namespace {

std::string drive_folder(char letter) {
    letter = (char)tolower((unsigned char)letter);
    if (letter == 'z') return "";
    return machine_root() + "/drives/" + std::string(1, letter);
}

bool drive_exists(char letter) {
    if (tolower((unsigned char)letter) == 'z') return true;
    struct stat st;
    return stat(drive_folder(letter).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The current folder as a Windows path in UTF-8 ("C:\dir").
std::string current_windows_utf8() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return "C:\\";
    return to_utf8(windows_path_of(buf));
}

bool valid_component(const std::string& c, bool wildcards) {
    for (unsigned char ch : c) {
        if (ch < 0x20) return false;
        if (ch == '<' || ch == '>' || ch == ':' || ch == '"' || ch == '|') return false;
        if (!wildcards && (ch == '?' || ch == '*')) return false;
    }
    return true;
}

// Finds the entry of `dir` whose name equals `name` ignoring ASCII case.
bool find_nocase(const std::string& dir, const std::string& name, std::string* found) {
    DIR* d = opendir(dir.empty() ? "/" : dir.c_str());
    if (!d) return false;
    bool ok = false;
    while (struct dirent* e = readdir(d)) {
        if (equal_nocase_ascii(e->d_name, name)) {
            *found = e->d_name;
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

}  // namespace

DWORD missing_code(const Resolved& r) { return r.parent_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }

Resolved resolve_path(const char* windows_path, int flags) {
    Resolved r;
    if (!windows_path || !*windows_path) {
        r.error = ERROR_PATH_NOT_FOUND;
        return r;
    }
    std::string path;
    if (!cp932_to_utf8(windows_path, &path)) {
        r.error = ERROR_INVALID_NAME;
        return r;
    }
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        r.error = ERROR_BAD_NETPATH;  // UNC paths name other computers
        return r;
    }
    std::string cwd = current_windows_utf8();
    char drive = cwd[0];
    std::string rest;
    if (path.size() >= 2 && isalpha((unsigned char)path[0]) && path[1] == ':') {
        drive = (char)toupper((unsigned char)path[0]);
        rest = path.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // Drive-relative: the current folder when it is on that drive.
            std::string base = (toupper((unsigned char)cwd[0]) == drive) ? cwd.substr(2) : "\\";
            rest = base + "\\" + rest;
        }
    } else if (path[0] == '\\') {
        rest = path;
    } else {
        rest = cwd.substr(2) + "\\" + path;
    }
    if (!drive_exists(drive)) {
        r.error = ERROR_PATH_NOT_FOUND;
        return r;
    }

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        // Windows drops trailing blanks and dots of a name.
        while (!part.empty() && (part.back() == ' ' || part.back() == '.')) part.pop_back();
        if (part.empty()) continue;
        parts.push_back(part);
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        if (!valid_component(parts[i], last && (flags & kAllowWildcards))) {
            r.error = ERROR_INVALID_NAME;
            return r;
        }
    }

    std::string windows = std::string(1, drive) + ":";
    for (auto& p : parts) windows += "\\" + p;
    if (parts.empty()) windows += "\\";
    r.windows = to_cp932(windows);
    if (r.windows.size() >= MAX_PATH) {
        r.error = ERROR_FILENAME_EXCED_RANGE;
        return r;
    }

    std::string host = drive_folder(drive);
    bool exists = true;
    r.parent_exists = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::string name = parts[i];
        struct stat st;
        if (exists) {
            if (lstat((host + "/" + name).c_str(), &st) != 0) {
                std::string found;
                if (!(last && (flags & kAllowWildcards)) && find_nocase(host, name, &found))
                    name = found;
                else
                    exists = false;
            }
        }
        if (last) {
            struct stat pst;
            r.parent_exists = i == 0 ? true
                                     : (stat(host.empty() ? "/" : host.c_str(), &pst) == 0 && S_ISDIR(pst.st_mode));
        }
        host += "/" + name;
        if (!last && exists && lstat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            struct stat tst;  // a link to a folder still leads on
            if (stat(host.c_str(), &tst) != 0 || !S_ISDIR(tst.st_mode)) exists = false;
        }
    }
    if (host.empty()) host = "/";
    r.host = host;
    return r;
}

std::string windows_path_of(const std::string& host) {
    std::string root = machine_root() + "/drives/";
    std::string rel;
    char drive = 'Z';
    if (host.compare(0, root.size(), root) == 0 && host.size() > root.size() &&
        (host.size() == root.size() + 1 || host[root.size() + 1] == '/')) {
        drive = (char)toupper((unsigned char)host[root.size()]);
        rel = host.substr(root.size() + 1);
    } else {
        rel = host;
    }
    std::string out(1, drive);
    out += ":";
    for (char c : rel) out.push_back(c == '/' ? '\\' : c);
    if (out.size() == 2) out += "\\";
    while (out.size() > 3 && out.back() == '\\') out.pop_back();
    return to_cp932(out);
}

namespace {
const char kAttrName[] = "user.w32.attrib";
const DWORD kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_ARCHIVE;
}  // namespace

DWORD host_attributes(const std::string& host, DWORD* error) {
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) {
        *error = error_from_errno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    bool link = S_ISLNK(st.st_mode);
    bool dir = S_ISDIR(st.st_mode);
    if (link) {
        struct stat target;
        dir = stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    }
    unsigned char raw[4];
    ssize_t n = lgetxattr(host.c_str(), kAttrName, raw, sizeof raw);
    DWORD attrs;
    if (n == 4)
        attrs = (DWORD)raw[0] | (DWORD)raw[1] << 8 | (DWORD)raw[2] << 16 | (DWORD)raw[3] << 24;
    else
        attrs = dir ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    attrs &= kStoredBits;
    if (dir) attrs |= FILE_ATTRIBUTE_DIRECTORY;
    if (link) attrs |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
    return attrs;
}

bool set_host_attributes(const std::string& host, DWORD attrs) {
    attrs &= kStoredBits;
    unsigned char raw[4] = {(unsigned char)attrs, (unsigned char)(attrs >> 8), (unsigned char)(attrs >> 16),
                            (unsigned char)(attrs >> 24)};
    return lsetxattr(host.c_str(), kAttrName, raw, sizeof raw, 0) == 0;
}

namespace {

template <class Visit>
void each_process(Visit visit) {
    DIR* proc = opendir("/proc");
    if (!proc) return;
    while (struct dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        if (visit(std::string("/proc/") + e->d_name)) break;
    }
    closedir(proc);
}

bool under(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

}  // namespace

bool file_in_use(const std::string& host) {
    struct stat target;
    if (stat(host.c_str(), &target) != 0) return false;
    bool found = false;
    each_process([&](const std::string& proc) {
        std::string fds = proc + "/fd";
        DIR* d = opendir(fds.c_str());
        if (!d) return false;
        while (struct dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            struct stat st;
            if (stat((fds + "/" + e->d_name).c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino && S_ISREG(st.st_mode)) {
                found = true;
                break;
            }
        }
        closedir(d);
        return found;
    });
    return found;
}

bool folder_is_current(const std::string& host) {
    char real[PATH_MAX];
    if (!realpath(host.c_str(), real)) return false;
    bool found = false;
    each_process([&](const std::string& proc) {
        char link[PATH_MAX];
        ssize_t n = readlink((proc + "/cwd").c_str(), link, sizeof link - 1);
        if (n <= 0) return false;
        link[n] = 0;
        return found = strcmp(link, real) == 0;
    });
    return found;
}

bool folder_in_use(const std::string& host) {
    char real[PATH_MAX];
    if (!realpath(host.c_str(), real)) return false;
    std::string folder = real;
    bool found = false;
    each_process([&](const std::string& proc) {
        char link[PATH_MAX];
        ssize_t n = readlink((proc + "/cwd").c_str(), link, sizeof link - 1);
        if (n > 0) {
            link[n] = 0;
            if (under(link, folder)) return found = true;
        }
        std::string fds = proc + "/fd";
        DIR* d = opendir(fds.c_str());
        if (!d) return false;
        while (struct dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            n = readlink((fds + "/" + e->d_name).c_str(), link, sizeof link - 1);
            if (n <= 0) continue;
            link[n] = 0;
            // A handle on the folder itself (a listing) does not hold it;
            // a file or folder open inside it does.
            if (under(link, folder) && std::string(link) != folder) {
                found = true;
                break;
            }
        }
        closedir(d);
        return found;
    });
    return found;
}

}  // namespace w32
