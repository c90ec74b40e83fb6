// Internals of the emulated machine shared by the platform's areas and the
// `w32` command. Not part of the Win32 surface: programs never include it.
//
// A machine is a folder (named by W32_MACHINE) holding:
//   machine.ini      settings, one "key=value" per line (clock, volumes, ...)
//   drives/<x>/      the drives; drive Z: is the host's root folder
//   registry.reg     HKEY_LOCAL_MACHINE, in the registry editor's text format
//   journal.jsonl    what the user was shown (message boxes, ...)
//   clock            the accelerated clock's shared advance
//   locks/           lock files that serialise writers across processes
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base.h"

namespace w32 {

// The machine's folder. Exits the process with a message on standard error
// when W32_MACHINE is unset or does not name a machine.
const std::string& machine_root();
// Same, but returns an empty string instead of exiting.
std::string machine_root_or_empty();
bool is_machine(const std::string& dir);

// machine.ini access; values are UTF-8.
std::string setting(const std::string& key, const std::string& fallback = "");
void set_setting(const std::string& key, const std::string& value);
std::vector<std::pair<std::string, std::string>> read_settings(const std::string& root);
void write_settings(const std::string& root, const std::vector<std::pair<std::string, std::string>>& items);

// Code page 932 <-> UTF-8. to_utf8 reports failure for bytes that are not
// valid CP932; to_cp932 replaces characters CP932 lacks with '?'.
bool cp932_to_utf8(std::string_view in, std::string* out);
std::string to_utf8(std::string_view cp932);
std::string to_cp932(std::string_view utf8);
bool is_lead_byte(unsigned char c);
// Case-insensitive comparison of CP932 text: ASCII letters fold, the second
// byte of a double-byte character never does.
bool equal_nocase_cp932(std::string_view a, std::string_view b);
bool equal_nocase_ascii(std::string_view a, std::string_view b);

// Maps errno to the Windows error code that the equivalent Win32 call gives.
DWORD error_from_errno(int err);
// Sets the thread's last error and returns FALSE: `return fail(ERROR_X);`.
BOOL fail(DWORD code);

// A Windows path resolved to the host.
struct Resolved {
    DWORD error = 0;          // 0 when the path is well formed and its drive exists
    std::string host;         // host path (UTF-8)
    std::string windows;      // the full Windows path (CP932), normalised
    bool parent_exists = false;  // the folder that would hold the last component exists
};
enum ResolveFlags { kResolveDefault = 0, kAllowWildcards = 1 };
Resolved resolve_path(const char* windows_path, int flags = kResolveDefault);
// The Windows path (CP932) of a host path: inside a drive folder of the
// machine "X:\...", anywhere else "Z:\...".
std::string windows_path_of(const std::string& host);
// The "not found" code a missing path gets: 2 when its folder exists, else 3.
DWORD missing_code(const Resolved& r);

// File attributes kept with the file (extended attribute "user.w32.attrib").
// Returns INVALID_FILE_ATTRIBUTES with *error set when the path is missing.
DWORD host_attributes(const std::string& host, DWORD* error);
bool set_host_attributes(const std::string& host, DWORD attrs);

// Whether any process on the host holds the file open, or, for a folder, has
// it (or a folder inside it) as its current folder or holds something inside
// it open. This is what makes Windows refuse deletes and renames.
bool file_in_use(const std::string& host);
bool folder_in_use(const std::string& host);
// Whether some process has exactly this folder as its current folder: such a
// folder is held open without delete sharing, so it cannot be removed or
// renamed itself (ERROR_SHARING_VIOLATION).
bool folder_is_current(const std::string& host);

// Writes a file so that readers see either the old or the new content, never
// a part; keeps the attributes of the file it replaces.
bool write_file_atomically(const std::string& host, const std::string& data, DWORD* error);
bool read_file(const std::string& host, std::string* data);

// An exclusive lock held while the object lives, on a file under locks/.
class MachineLock {
public:
    explicit MachineLock(const std::string& name);
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;
private:
    int fd_ = -1;
};

// Appends one JSON object (a complete line without the newline) to the
// journal.
void journal_append(const std::string& json);
std::string json_escape(std::string_view utf8);

// Machine time, in milliseconds since 1970-01-01 00:00 local time of the
// machine.
long long machine_local_ms();
void machine_sleep(DWORD ms);
bool machine_clock_fast();
long long host_local_ms();  // the host's local time, without offset or advance
long long real_ms(int clock_id);
std::string format_machine_time(long long local_ms);  // "YYYY/MM/DD HH:MM:SS.mmm"

// The image name of this process ("SpanGuard.exe").
std::string image_name();

// Process start-up for programs of the POSIX build: checks the machine,
// places the process in it and returns the command line tail (CP932).
char* process_start(int argc, char** argv);

// Kernel objects behind HANDLEs.
struct Object {
    virtual ~Object() = default;
};
HANDLE new_handle(Object* object);
Object* object_of(HANDLE handle);
template <class T>
T* object_as(HANDLE handle) {
    return dynamic_cast<T*>(object_of(handle));
}

// An object that WaitForSingleObject can wait for. wait() returns
// WAIT_OBJECT_0 (0), WAIT_TIMEOUT or WAIT_FAILED with the last error set.
struct Waitable : Object {
    virtual DWORD wait(DWORD ms) = 0;
};

// An object that stands on a host file descriptor (a pipe end, ...); the
// descriptor is closed with the object. ReadFile and WriteFile work on it.
struct HostFd : Object {
    explicit HostFd(int descriptor, bool inherit) : fd(descriptor), inheritable(inherit) {}
    ~HostFd() override;
    int fd;
    bool inheritable;
    bool readable = true;  // the access the handle was opened for
    bool writable = true;
};

// Whether the executable at this host path is a program of the kit: one
// built on our entry shim, which carries the ELF section ".w32kit". Such a
// program takes its Windows command line whole; any other host program
// gets it split into arguments.
bool is_kit_program(const std::string& host);

}  // namespace w32

namespace w32 {
// The registry's text file. registry_import merges a .reg text (UTF-8,
// "REGEDIT4" or "Windows Registry Editor Version 5.00") into the hive;
// registry_export prints the hive in the second format.
bool registry_import(const std::string& text, std::string* error);
std::string registry_export();
}  // namespace w32

namespace w32 {
// Security descriptors kept with files and folders (security.cpp). The
// parts are kept in Windows' binary layout: SIDs and ACLs as they stand in a
// self-relative descriptor. An empty `dacl` with SE_DACL_PRESENT set in
// `control` is a null DACL; without SE_DACL_PRESENT there is no DACL.
struct SecurityParts {
    WORD control = 0;  // SE_* bits, without SE_SELF_RELATIVE
    std::string owner, group, sacl, dacl;
};
// The descriptor of an existing file or folder (a default one when none was
// set), and its replacement.
bool read_security(const std::string& host, SecurityParts* parts, DWORD* error);
bool write_security(const std::string& host, const SecurityParts& parts, DWORD* error);
bool parse_security(const void* descriptor, size_t size, SecurityParts* parts, DWORD* error);
std::string build_security(const SecurityParts& parts);  // self-relative
// An ACL header for `count` entries followed by the entries.
std::string make_acl(BYTE revision, WORD count, const std::string& aces);
}  // namespace w32
