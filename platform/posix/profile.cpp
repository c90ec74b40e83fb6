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

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

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

// One line of the file: [begin, end) is its text without the line end,
// next is where the following line starts.
struct LineRef {
    size_t begin, end, next;
};

bool next_line(std::string_view data, size_t pos, LineRef* line) {
    if (pos >= data.size()) return false;
    const char* nl = static_cast<const char*>(memchr(data.data() + pos, '\n', data.size() - pos));
    size_t end = nl ? (size_t)(nl - data.data()) : data.size();
    line->begin = pos;
    line->next = nl ? end + 1 : end;
    if (end > pos && data[end - 1] == '\r') --end;
    line->end = end;
    return true;
}

std::string text_of(std::string_view data, const LineRef& l) {
    return std::string(data.substr(l.begin, l.end - l.begin));
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

// Where a section stands in the file.
struct SectionRef {
    bool found = false;
    size_t header = 0;          // start of the "[name]" line
    size_t end = 0;             // start of the next section's header, or the file's end
    size_t after_last = 0;      // just after the section's last non-blank line
    bool key_found = false;
    LineRef key{0, 0, 0};       // the line holding the key, when found
};

SectionRef find_section(std::string_view data, const std::string& section, const char* key) {
    SectionRef ref;
    std::string wanted_key = key ? trim(key) : "";
    // A key without letters or double-byte characters (a log's time of day)
    // matches only itself byte for byte, which is much cheaper to test.
    bool plain_key = true;
    for (unsigned char c : wanted_key)
        if (c >= 0x80 || isalpha(c)) plain_key = false;
    LineRef l;
    for (size_t pos = 0; next_line(data, pos, &l); pos = l.next) {
        size_t first = l.begin;
        while (first < l.end && (data[first] == ' ' || data[first] == '\t')) ++first;
        bool header = first < l.end && data[first] == '[';
        if (header) {
            if (ref.found) {
                ref.end = l.begin;
                return ref;
            }
            std::string name;
            is_section(text_of(data, l), &name);
            if (equal_nocase_cp932(name, section)) {
                ref.found = true;
                ref.header = l.begin;
                ref.after_last = l.next;
            }
            continue;
        }
        if (!ref.found || first >= l.end) continue;
        ref.after_last = l.next;
        if (key && !ref.key_found && data[first] != ';') {
            // The key is the text before '=', without surrounding blanks;
            // compared in place, since a log section holds many lines.
            const char* eq = static_cast<const char*>(memchr(data.data() + first, '=', l.end - first));
            size_t key_end = eq ? (size_t)(eq - data.data()) : l.end;
            while (key_end > first && (data[key_end - 1] == ' ' || data[key_end - 1] == '\t')) --key_end;
            if (key_end - first == wanted_key.size() &&
                (plain_key ? memcmp(data.data() + first, wanted_key.data(), wanted_key.size()) == 0
                           : equal_nocase_cp932(data.substr(first, key_end - first), wanted_key))) {
                ref.key_found = true;
                ref.key = l;
            }
        }
    }
    ref.end = data.size();
    return ref;
}

// The file's bytes, mapped for reading rather than copied: a long log is
// scanned once per entry. Every writer of the file replaces it by rename or
// appends to it, both under the file's lock, so the mapped bytes never
// shrink under the reader.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() {
        if (map_ != MAP_FAILED) munmap(map_, size_);
    }
    bool open(const std::string& host) {
        int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st;
        bool ok = fstat(fd, &st) == 0;
        size_ = ok ? (size_t)st.st_size : 0;
        if (ok && size_ > 0) {
            map_ = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            ok = map_ != MAP_FAILED;
        }
        close(fd);
        return ok;
    }
    std::string_view text() const {
        return map_ == MAP_FAILED ? std::string_view() : std::string_view(static_cast<const char*>(map_), size_);
    }
private:
    void* map_ = MAP_FAILED;
    size_t size_ = 0;
};

bool append_to_file(const std::string& host, const std::string& text, DWORD* error) {
    int fd = open(host.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        *error = error_from_errno(errno);
        return false;
    }
    ssize_t n = write(fd, text.data(), text.size());
    int saved = errno;
    close(fd);
    if (n != (ssize_t)text.size()) {
        *error = n < 0 ? error_from_errno(saved) : ERROR_DISK_FULL;
        return false;
    }
    return true;
}

std::vector<std::string> split_lines(std::string_view data) {
    std::vector<std::string> lines;
    LineRef l;
    for (size_t pos = 0; next_line(data, pos, &l); pos = l.next) lines.push_back(text_of(data, l));
    return lines;
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

    MappedFile file;
    struct stat st;
    bool exists = stat(r.host.c_str(), &st) == 0;
    if (exists) {
        DWORD err = 0;
        DWORD attrs = host_attributes(r.host, &err);
        if (S_ISDIR(st.st_mode) || (attrs & FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
        if (!file.open(r.host)) return fail(ERROR_ACCESS_DENIED);
    } else if (!r.parent_exists) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    std::string_view data = file.text();

    std::string section = lpAppName;
    SectionRef ref = find_section(data, section, lpKeyName);
    std::string entry = lpKeyName && lpString ? std::string(lpKeyName) + "=" + lpString + "\r\n" : "";
    std::string out;
    out.reserve(data.size() + entry.size() + section.size() + 8);
    if (!lpKeyName) {
        // Delete the whole section.
        if (!ref.found) return TRUE;
        out.append(data, 0, ref.header).append(data, ref.end, std::string::npos);
    } else if (!ref.found) {
        if (!lpString) return TRUE;
        out.assign(data);
        if (!out.empty() && out.back() != '\n') out += "\r\n";
        out += "[" + section + "]\r\n" + entry;
    } else if (ref.key_found) {
        if (lpString) {
            // The key keeps its spelling; the value is replaced.
            std::string line = text_of(data, ref.key);
            entry = key_of(line) + "=" + lpString + "\r\n";
        }
        out.append(data, 0, ref.key.begin).append(entry).append(data, ref.key.next, std::string::npos);
    } else {
        if (!lpString) return TRUE;
        if (ref.after_last == data.size() && (data.empty() || data.back() == '\n')) {
            // The section is the file's last and the key goes at its end: an
            // append, the usual case for a log. One write of a whole line
            // leaves the file either without or with the entry.
            DWORD err = 0;
            if (!append_to_file(r.host, entry, &err)) return fail(err);
            return TRUE;
        }
        out.append(data, 0, ref.after_last);
        if (!out.empty() && out.back() != '\n') out += "\r\n";
        out.append(entry).append(data, ref.after_last, std::string::npos);
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
