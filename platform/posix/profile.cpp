// The private-profile writer with Windows' semantics: sections and keys
// matched case-insensitively, a new section appended at the end of the file,
// a new key at the end of its section, an existing key's value replaced,
// "key=value" lines ending in CR LF, the file created on first write. Each
// call is one read-modify-write under a machine-wide lock for that file, and
// the new content replaces the old in one rename, so writers in several
// processes never lose an entry and a crash never leaves a truncated file.
// Every write goes straight to the file, so the flush call has nothing left
// to do.
#include "profile.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "files.h"
#include "machine.h"

namespace w32 {
namespace {

// A bare file name lies in the Windows folder.
Resolved resolve_profile(LPCSTR name) {
    if (name && !strchr(name, '\\') && !strchr(name, '/') && !strchr(name, ':')) {
        std::string in_windows = std::string("C:\\Windows\\") + name;
        return resolve_path(in_windows.c_str());
    }
    return resolve_path(name);
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

struct Line {
    std::string text;  // without its line end
};

std::vector<std::string> split_lines(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool is_section(const std::string& line, std::string* name) {
    std::string t = trim(line);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.find(']');
    *name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

std::string key_of(const std::string& line) {
    size_t eq = line.find('=');
    return trim(eq == std::string::npos ? line : line.substr(0, eq));
}

std::string lock_name_for(const std::string& host) {
    // One lock per file, whatever drive letter or case named it.
    std::string dir = host.substr(0, host.rfind('/'));
    char real[PATH_MAX];
    std::string key = realpath(dir.empty() ? "/" : dir.c_str(), real) ? std::string(real) : dir;
    std::string base = host.substr(host.rfind('/') + 1);
    for (auto& c : base) c = (char)tolower((unsigned char)c);
    return "profile-" + std::to_string(std::hash<std::string>()(key + "/" + base));
}

}  // namespace
}  // namespace w32

using namespace w32;

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
    if (!lpAppName && !lpKeyName && !lpString) return TRUE;  // flush: nothing is cached
    if (!lpAppName || !lpFileName) return fail(ERROR_INVALID_PARAMETER);
    Resolved r = resolve_profile(lpFileName);
    if (r.error) return fail(r.error);
    MachineLock lock(lock_name_for(r.host));

    std::string data;
    struct stat st;
    bool exists = stat(r.host.c_str(), &st) == 0;
    if (exists) {
        DWORD err = 0;
        DWORD attrs = host_attributes(r.host, &err);
        if (S_ISDIR(st.st_mode) || (attrs & FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
        if (!read_file(r.host, &data)) return fail(ERROR_ACCESS_DENIED);
    } else if (!r.parent_exists) {
        return fail(ERROR_PATH_NOT_FOUND);
    }

    std::vector<std::string> lines = split_lines(data);
    std::string section = lpAppName;
    // Locate the section: [begin, end) are its lines after the header.
    size_t header = std::string::npos, end = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (!is_section(lines[i], &name)) continue;
        if (header != std::string::npos) {
            end = i;
            break;
        }
        if (equal_nocase_cp932(name, section)) header = i;
    }

    if (!lpKeyName) {
        // Delete the whole section.
        if (header == std::string::npos) return TRUE;
        lines.erase(lines.begin() + header, lines.begin() + end);
    } else if (header == std::string::npos) {
        if (!lpString) return TRUE;
        lines.push_back("[" + section + "]");
        lines.push_back(std::string(lpKeyName) + "=" + lpString);
    } else {
        size_t found = std::string::npos, last = header;
        for (size_t i = header + 1; i < end; ++i) {
            if (trim(lines[i]).empty()) continue;
            last = i;
            if (lines[i][0] != ';' && equal_nocase_cp932(key_of(lines[i]), trim(lpKeyName))) found = i;
        }
        if (!lpString) {
            if (found != std::string::npos) lines.erase(lines.begin() + found);
        } else if (found != std::string::npos) {
            lines[found] = key_of(lines[found]) + "=" + lpString;
        } else {
            lines.insert(lines.begin() + last + 1, std::string(lpKeyName) + "=" + lpString);
        }
    }

    std::string out;
    out.reserve(data.size() + 256);
    for (auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    DWORD err = 0;
    if (!write_file_atomically(r.host, out, &err)) return fail(err);
    return TRUE;
}

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
    std::string value = lpDefault ? lpDefault : "";
    Resolved r = resolve_profile(lpFileName);
    std::string data;
    if (!r.error && lpAppName && lpKeyName && read_file(r.host, &data)) {
        bool in = false;
        for (auto& line : split_lines(data)) {
            std::string name;
            if (is_section(line, &name)) {
                in = equal_nocase_cp932(name, lpAppName);
                continue;
            }
            size_t eq = line.find('=');
            if (in && eq != std::string::npos && equal_nocase_cp932(key_of(line), lpKeyName)) {
                value = trim(line.substr(eq + 1));
                break;
            }
        }
    }
    if (!lpReturnedString || nSize == 0) return 0;
    size_t n = value.size() < nSize - 1 ? value.size() : nSize - 1;
    memcpy(lpReturnedString, value.data(), n);
    lpReturnedString[n] = 0;
    return (DWORD)n;
}
