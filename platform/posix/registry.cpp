// HKEY_LOCAL_MACHINE of the emulated machine, kept in "registry.reg" in the
// registry editor's export format (UTF-8), so fixtures are familiar .reg
// files. Key and value names are matched case-insensitively; strings are
// CP932 through the A functions. Every call reads the file afresh and every
// change rewrites it atomically under the machine's registry lock, so
// several processes can share it.
#include "registry.h"

#include <algorithm>
#include <cstring>

#include "files.h"
#include "machine.h"

namespace w32 {

namespace {

struct Value {
    std::string name;  // CP932; empty for the default value
    DWORD type = REG_SZ;
    std::string data;  // raw bytes as RegQueryValueExA returns them
};

struct Key {
    std::string path;  // CP932, below HKEY_LOCAL_MACHINE, without leading "\"
    std::vector<Value> values;
};

struct Hive {
    std::vector<Key> keys;

    Key* find(const std::string& path) {
        for (auto& k : keys)
            if (equal_nocase_cp932(k.path, path)) return &k;
        return nullptr;
    }
    bool has_subkeys(const std::string& path) {
        for (auto& k : keys)
            if (k.path.size() > path.size() + 1 && k.path[path.size()] == '\\' &&
                equal_nocase_cp932(k.path.substr(0, path.size()), path))
                return true;
        return false;
    }
    Key* create(const std::string& path) {
        // Ancestors come into being with the key, as in the registry editor.
        size_t pos = 0;
        Key* key = nullptr;
        while (true) {
            pos = path.find('\\', pos);
            std::string prefix = path.substr(0, pos);
            key = find(prefix);
            if (!key) {
                keys.push_back(Key{prefix, {}});
                key = &keys.back();
            }
            if (pos == std::string::npos) break;
            ++pos;
        }
        return key;
    }
    void remove_tree(const std::string& path) {
        keys.erase(std::remove_if(keys.begin(), keys.end(),
                                  [&](const Key& k) {
                                      return equal_nocase_cp932(k.path, path) ||
                                             (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
                                              equal_nocase_cp932(k.path.substr(0, path.size()), path));
                                  }),
                   keys.end());
    }
};

const char kRoot[] = "HKEY_LOCAL_MACHINE";

std::string hive_file() { return machine_root() + "/registry.reg"; }

std::string strip_slashes(std::string p) {
    while (!p.empty() && p.front() == '\\') p.erase(p.begin());
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

// --- parsing the .reg text -------------------------------------------------

bool parse_quoted(const std::string& s, size_t* pos, std::string* out) {
    if (*pos >= s.size() || s[*pos] != '"') return false;
    ++*pos;
    out->clear();
    while (*pos < s.size()) {
        char c = s[(*pos)++];
        if (c == '\\' && *pos < s.size()) {
            out->push_back(s[(*pos)++]);
        } else if (c == '"') {
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

bool parse_hex_bytes(const std::string& s, std::string* out) {
    out->clear();
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ',' || s[i] == ' ' || s[i] == '\t')) ++i;
        if (i >= s.size()) break;
        if (i + 1 >= s.size() || !isxdigit((unsigned char)s[i]) || !isxdigit((unsigned char)s[i + 1])) return false;
        out->push_back((char)std::stoi(s.substr(i, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

std::string utf16le_to_cp932(const std::string& bytes) {
    std::string utf8;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned cp = (unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            unsigned lo = (unsigned char)bytes[i + 2] | (unsigned char)bytes[i + 3] << 8;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        }
        if (cp < 0x80) {
            utf8.push_back((char)cp);
        } else if (cp < 0x800) {
            utf8.push_back((char)(0xC0 | cp >> 6));
            utf8.push_back((char)(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            utf8.push_back((char)(0xE0 | cp >> 12));
            utf8.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            utf8.push_back((char)(0x80 | (cp & 0x3F)));
        } else {
            utf8.push_back((char)(0xF0 | cp >> 18));
            utf8.push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
            utf8.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            utf8.push_back((char)(0x80 | (cp & 0x3F)));
        }
    }
    std::string out;
    for (char c : to_cp932(utf8)) out.push_back(c);
    return out;
}

std::string cp932_to_utf16le(const std::string& cp932) {
    std::string utf8;
    std::string s = cp932;
    // Embedded NULs (multi-strings) are kept by converting piece by piece.
    std::string out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find('\0', start);
        if (end == std::string::npos) end = s.size();
        std::string piece = to_utf8(s.substr(start, end - start));
        for (size_t i = 0; i < piece.size();) {
            unsigned char c = piece[i];
            unsigned cp;
            size_t n;
            if (c < 0x80) { cp = c; n = 1; }
            else if (c < 0xE0) { cp = c & 0x1F; n = 2; }
            else if (c < 0xF0) { cp = c & 0x0F; n = 3; }
            else { cp = c & 0x07; n = 4; }
            for (size_t k = 1; k < n && i + k < piece.size(); ++k) cp = cp << 6 | (piece[i + k] & 0x3F);
            i += n;
            if (cp >= 0x10000) {
                cp -= 0x10000;
                unsigned hi = 0xD800 + (cp >> 10), lo = 0xDC00 + (cp & 0x3FF);
                out.push_back((char)(hi & 0xFF)); out.push_back((char)(hi >> 8));
                out.push_back((char)(lo & 0xFF)); out.push_back((char)(lo >> 8));
            } else {
                out.push_back((char)(cp & 0xFF)); out.push_back((char)(cp >> 8));
            }
        }
        if (end == s.size()) break;
        out.push_back(0); out.push_back(0);
        start = end + 1;
    }
    return out;
}

// Applies .reg text to the hive. `unicode` is true for the version 5 format,
// whose hex(n) strings are UTF-16LE.
bool apply_text(Hive* hive, const std::string& text, std::string* error) {
    std::vector<std::string> lines;
    {
        std::string cur;
        size_t i = 0;
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
        for (; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\n') {
                if (!cur.empty() && cur.back() == '\r') cur.pop_back();
                lines.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(text[i]);
            }
        }
    }
    bool header = false, unicode = false;
    Key* key = nullptr;
    bool skipping = false;  // inside a key of another root
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        // Continuation lines of long hex values end with a backslash.
        while (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos &&
               line.find("hex") != std::string::npos && n + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++n];
            size_t f = next.find_first_not_of(" \t");
            line += f == std::string::npos ? "" : next.substr(f);
        }
        size_t f = line.find_first_not_of(" \t");
        if (f == std::string::npos) continue;
        line = line.substr(f);
        if (line[0] == ';') continue;
        if (!header) {
            if (line == "REGEDIT4") header = true;
            else if (line == "Windows Registry Editor Version 5.00") header = unicode = true;
            else {
                *error = "line " + std::to_string(n + 1) + ": expected \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"";
                return false;
            }
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos) {
                *error = "line " + std::to_string(n + 1) + ": key without closing ']'";
                return false;
            }
            std::string name = line.substr(1, close - 1);
            bool remove = !name.empty() && name[0] == '-';
            if (remove) name.erase(0, 1);
            std::string root = name.substr(0, name.find('\\'));
            if (!equal_nocase_ascii(root, kRoot) && !equal_nocase_ascii(root, "HKLM")) {
                skipping = true;
                key = nullptr;
                continue;
            }
            skipping = false;
            std::string path = strip_slashes(to_cp932(name.substr(root.size())));
            if (path.empty()) {
                key = nullptr;
                continue;
            }
            if (remove) {
                hive->remove_tree(path);
                key = nullptr;
            } else {
                key = hive->create(path);
            }
            continue;
        }
        if (skipping) continue;
        if (!key) {
            *error = "line " + std::to_string(n + 1) + ": value outside a key";
            return false;
        }
        size_t pos = 0;
        std::string vname;
        if (line[0] == '@') {
            pos = 1;
        } else if (!parse_quoted(line, &pos, &vname)) {
            *error = "line " + std::to_string(n + 1) + ": value name is not quoted";
            return false;
        }
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size() || line[pos] != '=') {
            *error = "line " + std::to_string(n + 1) + ": '=' expected";
            return false;
        }
        ++pos;
        while (pos < line.size() && line[pos] == ' ') ++pos;
        std::string rest = line.substr(pos);
        Value v;
        v.name = to_cp932(vname);
        auto& values = key->values;
        auto existing = std::find_if(values.begin(), values.end(),
                                     [&](const Value& x) { return equal_nocase_cp932(x.name, v.name); });
        if (rest == "-") {
            if (existing != values.end()) values.erase(existing);
            continue;
        }
        if (!rest.empty() && rest[0] == '"') {
            std::string s;
            size_t p = 0;
            if (!parse_quoted(rest, &p, &s)) {
                *error = "line " + std::to_string(n + 1) + ": unterminated string";
                return false;
            }
            v.type = REG_SZ;
            v.data = to_cp932(s) + std::string(1, '\0');
        } else if (rest.compare(0, 6, "dword:") == 0) {
            unsigned long d = strtoul(rest.c_str() + 6, nullptr, 16);
            v.type = REG_DWORD;
            v.data = std::string(4, '\0');
            for (int i = 0; i < 4; ++i) v.data[i] = (char)((d >> (8 * i)) & 0xFF);
        } else if (rest.compare(0, 3, "hex") == 0) {
            size_t colon = rest.find(':');
            if (colon == std::string::npos) {
                *error = "line " + std::to_string(n + 1) + ": hex value without ':'";
                return false;
            }
            v.type = REG_BINARY;
            if (rest[3] == '(') v.type = (DWORD)strtoul(rest.c_str() + 4, nullptr, 16);
            if (!parse_hex_bytes(rest.substr(colon + 1), &v.data)) {
                *error = "line " + std::to_string(n + 1) + ": bad hex bytes";
                return false;
            }
            if (unicode && (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ))
                v.data = utf16le_to_cp932(v.data);
        } else {
            *error = "line " + std::to_string(n + 1) + ": unknown value type";
            return false;
        }
        if (existing != values.end()) *existing = v;
        else values.push_back(v);
    }
    if (!header) {
        *error = "empty registry file";
        return false;
    }
    return true;
}

Hive load() {
    Hive hive;
    std::string text, error;
    if (read_file(hive_file(), &text) && !text.empty()) apply_text(&hive, text, &error);
    return hive;
}

std::string quote(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string hex_list(const std::string& bytes) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(b, sizeof b, "%02x", (unsigned char)bytes[i]);
        if (i) out += ",";
        out += b;
    }
    return out;
}

std::string render(const Hive& hive) {
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    std::vector<const Key*> sorted;
    for (auto& k : hive.keys) sorted.push_back(&k);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Key* a, const Key* b) {
        std::string x = a->path, y = b->path;
        for (auto& c : x) c = (char)tolower((unsigned char)c);
        for (auto& c : y) c = (char)tolower((unsigned char)c);
        return x < y;
    });
    for (const Key* k : sorted) {
        out += "\r\n[" + std::string(kRoot) + "\\" + to_utf8(k->path) + "]\r\n";
        for (auto& v : k->values) {
            std::string name = v.name.empty() ? "@" : quote(to_utf8(v.name));
            bool plain_sz = v.type == REG_SZ && !v.data.empty() && v.data.back() == '\0' &&
                            v.data.find('\0') == v.data.size() - 1;
            if (plain_sz) {
                out += name + "=" + quote(to_utf8(v.data.substr(0, v.data.size() - 1))) + "\r\n";
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                unsigned d = 0;
                for (int i = 0; i < 4; ++i) d |= (unsigned)(unsigned char)v.data[i] << (8 * i);
                char b[16];
                snprintf(b, sizeof b, "dword:%08x", d);
                out += name + "=" + b + "\r\n";
            } else if (v.type == REG_BINARY) {
                out += name + "=hex:" + hex_list(v.data) + "\r\n";
            } else {
                std::string bytes = v.data;
                if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ)
                    bytes = cp932_to_utf16le(v.data);
                char b[16];
                snprintf(b, sizeof b, "hex(%x):", v.type);
                out += name + "=" + b + hex_list(bytes) + "\r\n";
            }
        }
    }
    return out;
}

bool save(const Hive& hive, DWORD* error) { return write_file_atomically(hive_file(), render(hive), error); }

// Open keys: the predefined HKEY_LOCAL_MACHINE or a handle of ours.
struct KeyObject : Object {
    std::string path;
};

bool key_path(HKEY key, std::string* path) {
    if (key == HKEY_LOCAL_MACHINE) {
        path->clear();
        return true;
    }
    auto* k = object_as<KeyObject>((HANDLE)key);
    if (!k) return false;
    *path = k->path;
    return true;
}

std::string join(const std::string& base, LPCSTR sub) {
    std::string s = strip_slashes(sub ? sub : "");
    if (base.empty()) return s;
    if (s.empty()) return base;
    return base + "\\" + s;
}

bool is_predefined_other(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_USERS;
}

}  // namespace

bool registry_import(const std::string& text, std::string* error) {
    MachineLock lock("registry");
    Hive hive = load();
    if (!apply_text(&hive, text, error)) return false;
    DWORD err = 0;
    if (!save(hive, &err)) {
        *error = "cannot write the registry (error " + std::to_string(err) + ")";
        return false;
    }
    return true;
}

std::string registry_export() { return render(load()); }

}  // namespace w32

using namespace w32;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::string base;
    if (is_predefined_other(hKey)) return ERROR_FILE_NOT_FOUND;
    if (!key_path(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::string path = join(base, lpSubKey);
    Hive hive = load();
    if (!path.empty() && !hive.find(path)) return ERROR_FILE_NOT_FOUND;
    auto* k = new KeyObject;
    k->path = path.empty() ? "" : hive.find(path)->path;
    *phkResult = (HKEY)new_handle(k);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::string base;
    if (is_predefined_other(hKey)) return ERROR_ACCESS_DENIED;
    if (!key_path(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::string path = join(base, lpSubKey);
    MachineLock lock("registry");
    Hive hive = load();
    bool existed = path.empty() || hive.find(path);
    if (!existed) {
        hive.create(path);
        DWORD err = 0;
        if (!save(hive, &err)) return (LONG)err;
    }
    auto* k = new KeyObject;
    k->path = path.empty() ? "" : hive.find(path)->path;
    *phkResult = (HKEY)new_handle(k);
    if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::string path;
    if (!key_path(hKey, &path)) return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    Hive hive = load();
    Key* key = hive.find(path);
    if (!key) return path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    std::string name = lpValueName ? lpValueName : "";
    for (auto& v : key->values) {
        if (!equal_nocase_cp932(v.name, name)) continue;
        if (lpType) *lpType = v.type;
        if (!lpcbData) return ERROR_SUCCESS;
        DWORD needed = (DWORD)v.data.size();
        if (lpData && *lpcbData < needed) {
            *lpcbData = needed;
            return ERROR_MORE_DATA;
        }
        if (lpData) memcpy(lpData, v.data.data(), needed);
        *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    std::string path;
    if (!key_path(hKey, &path) || hKey == HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    MachineLock lock("registry");
    Hive hive = load();
    Key* key = hive.find(path);
    if (!key) return ERROR_KEY_DELETED;
    Value v;
    v.name = lpValueName ? lpValueName : "";
    v.type = dwType;
    v.data.assign(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    auto it = std::find_if(key->values.begin(), key->values.end(),
                           [&](const Value& x) { return equal_nocase_cp932(x.name, v.name); });
    if (it != key->values.end()) *it = v;
    else key->values.push_back(v);
    DWORD err = 0;
    return save(hive, &err) ? ERROR_SUCCESS : (LONG)err;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::string path;
    if (!key_path(hKey, &path)) return ERROR_INVALID_HANDLE;
    MachineLock lock("registry");
    Hive hive = load();
    Key* key = hive.find(path);
    if (!key) return ERROR_KEY_DELETED;
    std::string name = lpValueName ? lpValueName : "";
    auto it = std::find_if(key->values.begin(), key->values.end(),
                           [&](const Value& x) { return equal_nocase_cp932(x.name, name); });
    if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
    key->values.erase(it);
    DWORD err = 0;
    return save(hive, &err) ? ERROR_SUCCESS : (LONG)err;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::string base;
    if (!key_path(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::string path = join(base, lpSubKey);
    if (path.empty()) return ERROR_ACCESS_DENIED;
    MachineLock lock("registry");
    Hive hive = load();
    if (!hive.find(path)) return ERROR_FILE_NOT_FOUND;
    if (hive.has_subkeys(path)) return ERROR_ACCESS_DENIED;  // only leaf keys go
    hive.remove_tree(path);
    DWORD err = 0;
    return save(hive, &err) ? ERROR_SUCCESS : (LONG)err;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (!object_as<KeyObject>((HANDLE)hKey)) return ERROR_INVALID_HANDLE;
    CloseHandle((HANDLE)hKey);
    return ERROR_SUCCESS;
}
