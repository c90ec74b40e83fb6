// The emulated machine's folder, settings, text conversion, locks, journal
// and handle table.
#include "files.h"
#include "machine.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace w32 {

namespace {
thread_local DWORD g_last_error = 0;
}

bool is_machine(const std::string& dir) {
    struct stat st;
    return !dir.empty() && stat((dir + "/machine.ini").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string machine_root_or_empty() {
    const char* env = getenv("W32_MACHINE");
    if (!env || !*env) return "";
    char real[PATH_MAX];
    if (!realpath(env, real)) return "";
    std::string root = real;
    return is_machine(root) ? root : "";
}

const std::string& machine_root() {
    static const std::string root = [] {
        std::string r = machine_root_or_empty();
        if (r.empty()) {
            const char* env = getenv("W32_MACHINE");
            if (!env || !*env)
                fprintf(stderr,
                        "W32_MACHINE is not set: name an emulated Windows machine created with "
                        "'w32 init DIR'.\n");
            else
                fprintf(stderr, "W32_MACHINE=%s is not a machine: create one with 'w32 init %s'.\n", env,
                        env);
            exit(125);
        }
        return r;
    }();
    return root;
}

std::vector<std::pair<std::string, std::string>> read_settings(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> items;
    std::ifstream in(root + "/machine.ini");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        items.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return items;
}

void write_settings(const std::string& root,
                    const std::vector<std::pair<std::string, std::string>>& items) {
    std::string text = "# Settings of this emulated Windows machine (see 'w32 help').\n";
    for (auto& kv : items) text += kv.first + "=" + kv.second + "\n";
    DWORD err = 0;
    write_file_atomically(root + "/machine.ini", text, &err);
}

std::string setting(const std::string& key, const std::string& fallback) {
    for (auto& kv : read_settings(machine_root()))
        if (kv.first == key) return kv.second;
    return fallback;
}

void set_setting(const std::string& key, const std::string& value) {
    MachineLock lock("machine.ini");
    auto items = read_settings(machine_root());
    bool found = false;
    for (auto& kv : items)
        if (kv.first == key) {
            kv.second = value;
            found = true;
        }
    if (!found) items.emplace_back(key, value);
    write_settings(machine_root(), items);
}

namespace {
bool convert(const char* to, const char* from, std::string_view in, std::string* out, bool lossy) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    out->clear();
    std::string buf(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    bool ok = true;
    while (src_left > 0) {
        char* dst = &buf[0];
        size_t dst_left = buf.size();
        size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        out->append(buf.data(), buf.size() - dst_left);
        if (r == (size_t)-1) {
            if (errno == E2BIG) continue;
            if (!lossy) {
                ok = false;
                break;
            }
            // Skip one undecodable character (a whole UTF-8 sequence).
            out->push_back('?');
            unsigned char c = (unsigned char)*src;
            size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (n > src_left) n = src_left;
            src += n;
            src_left -= n;
        }
    }
    iconv_close(cd);
    return ok;
}
}  // namespace

bool cp932_to_utf8(std::string_view in, std::string* out) { return convert("UTF-8", "CP932", in, out, false); }

std::string to_utf8(std::string_view cp932) {
    std::string out;
    if (cp932_to_utf8(cp932, &out)) return out;
    // Not valid CP932: keep ASCII, mark the rest.
    out.clear();
    for (unsigned char c : cp932) out.push_back(c < 0x80 ? (char)c : '?');
    return out;
}

std::string to_cp932(std::string_view utf8) {
    std::string out;
    convert("CP932", "UTF-8", utf8, &out, true);
    return out;
}

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool equal_nocase_cp932(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (is_lead_byte(x)) {
            if (x != y || i + 1 >= a.size() || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

bool equal_nocase_ascii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

DWORD error_from_errno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_INVALID_FUNCTION;
    }
}

BOOL fail(DWORD code) {
    g_last_error = code;
    return FALSE;
}

bool read_file(const std::string& host, std::string* data) {
    int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Read in one go at the size the file has now, then whatever it grew by.
    struct stat st;
    size_t size = fstat(fd, &st) == 0 && st.st_size > 0 ? (size_t)st.st_size : 0;
    data->resize(size + 1);
    size_t got = 0;
    ssize_t n;
    while ((n = read(fd, &(*data)[got], data->size() - got)) > 0) {
        got += (size_t)n;
        if (got == data->size()) data->resize(data->size() * 2);
    }
    close(fd);
    data->resize(got);
    return n == 0;
}

bool write_file_atomically(const std::string& host, const std::string& data, DWORD* error) {
    std::string tmp = host + ".w32tmp." + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = error_from_errno(errno);
        return false;
    }
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = write(fd, data.data() + off, data.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = error_from_errno(errno);
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        off += (size_t)n;
    }
    close(fd);
    DWORD ignored;
    DWORD attrs = host_attributes(host, &ignored);
    if (attrs != INVALID_FILE_ATTRIBUTES) set_host_attributes(tmp, attrs & ~0x10u);
    if (rename(tmp.c_str(), host.c_str()) != 0) {
        *error = error_from_errno(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

MachineLock::MachineLock(const std::string& name) {
    std::string dir = machine_root() + "/locks";
    mkdir(dir.c_str(), 0755);
    std::string safe;
    for (char c : name) safe.push_back((c == '/' || c == '\\') ? '_' : c);
    fd_ = open((dir + "/" + safe).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0)
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
}

MachineLock::~MachineLock() {
    if (fd_ >= 0) close(fd_);
}

std::string json_escape(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char b[8];
                snprintf(b, sizeof b, "\\u%04x", c);
                out += b;
            } else {
                out.push_back((char)c);
            }
        }
    }
    return out;
}

void journal_append(const std::string& json) {
    MachineLock lock("journal");
    std::string line = json + "\n";
    int fd = open((machine_root() + "/journal.jsonl").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t n = write(fd, line.data(), line.size());
    (void)n;
    close(fd);
}

std::string image_name() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    buf[n] = 0;
    const char* slash = strrchr(buf, '/');
    return slash ? slash + 1 : buf;
}

namespace {
std::mutex g_handles_mutex;
std::map<uintptr_t, Object*>& handle_table() {
    static std::map<uintptr_t, Object*> table;
    return table;
}
uintptr_t g_next_handle = 0x100;
}  // namespace

HANDLE new_handle(Object* object) {
    std::lock_guard<std::mutex> guard(g_handles_mutex);
    uintptr_t h = g_next_handle;
    g_next_handle += 4;
    handle_table()[h] = object;
    return (HANDLE)h;
}

Object* object_of(HANDLE handle) {
    std::lock_guard<std::mutex> guard(g_handles_mutex);
    auto it = handle_table().find((uintptr_t)handle);
    return it == handle_table().end() ? nullptr : it->second;
}

}  // namespace w32

DWORD GetLastError(void) { return w32::g_last_error; }
void SetLastError(DWORD code) { w32::g_last_error = code; }
UINT GetACP(void) { return 932; }
BOOL IsDBCSLeadByte(BYTE c) { return w32::is_lead_byte(c) ? TRUE : FALSE; }

BOOL CloseHandle(HANDLE hObject) {
    w32::Object* object = nullptr;
    {
        std::lock_guard<std::mutex> guard(w32::g_handles_mutex);
        auto it = w32::handle_table().find((uintptr_t)hObject);
        if (it == w32::handle_table().end()) return w32::fail(ERROR_INVALID_HANDLE);
        object = it->second;
        w32::handle_table().erase(it);
    }
    delete object;
    return TRUE;
}
