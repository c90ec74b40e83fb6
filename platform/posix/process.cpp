// Processes of the emulated machine: CreateProcessA with Windows' way of
// finding the program in a command line, exit codes, waits, anonymous pipes
// and the environment.
//
// Every process is a host process. What it is started as depends on the
// program file:
//   - a program of the kit (built on our entry shim, marked by the ELF
//     section ".w32kit") receives the Windows command line unchanged in
//     W32_CMDLINE, and records its full 32-bit exit code in the file named
//     by W32_EXIT_FILE; it removes both variables at once, so neither ever
//     reaches a process it starts;
//   - a ".bat" or ".cmd" file runs as a POSIX shell script, through a link
//     named "cmd.exe" so that the process carries that image name;
//   - any other host program (the Java runtime, a shell script) receives the
//     command line split into arguments by the C runtime's rules, and its
//     exit code is the host's 8 bits.
// The environment of the host processes is UTF-8; the A functions convert
// to and from CP932 at the boundary, as they do for paths.
#include "process.h"

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "machine.h"
#include "sysinfo.h"

extern char** environ;

namespace w32 {

HostFd::~HostFd() {
    if (fd >= 0) close(fd);
}

namespace {

// ---- Kit programs -------------------------------------------------------

template <class Ehdr, class Shdr>
bool has_kit_section(int fd) {
    Ehdr eh;
    if (pread(fd, &eh, sizeof eh, 0) != (ssize_t)sizeof eh) return false;
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum) return false;
    std::vector<Shdr> sections(eh.e_shnum);
    size_t bytes = sizeof(Shdr) * eh.e_shnum;
    if (pread(fd, sections.data(), bytes, (off_t)eh.e_shoff) != (ssize_t)bytes) return false;
    const Shdr& names = sections[eh.e_shstrndx];
    if (names.sh_size == 0 || names.sh_size > (1u << 20)) return false;
    std::string table(names.sh_size, '\0');
    if (pread(fd, &table[0], table.size(), (off_t)names.sh_offset) != (ssize_t)table.size()) return false;
    for (const Shdr& s : sections)
        if (s.sh_name < table.size() && strcmp(table.c_str() + s.sh_name, ".w32kit") == 0) return true;
    return false;
}

}  // namespace

bool is_kit_program(const std::string& host) {
    int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char ident[EI_NIDENT];
    bool kit = false;
    if (pread(fd, ident, sizeof ident, 0) == (ssize_t)sizeof ident && memcmp(ident, ELFMAG, SELFMAG) == 0) {
        if (ident[EI_CLASS] == ELFCLASS64) kit = has_kit_section<Elf64_Ehdr, Elf64_Shdr>(fd);
        else if (ident[EI_CLASS] == ELFCLASS32) kit = has_kit_section<Elf32_Ehdr, Elf32_Shdr>(fd);
    }
    close(fd);
    return kit;
}

namespace {

// ---- Environment --------------------------------------------------------

// The index in environ of NAME (matched ignoring case, as Windows does), or -1.
int find_variable(const std::string& name) {
    for (int i = 0; environ && environ[i]; ++i) {
        const char* eq = strchr(environ[i], '=');
        if (eq && equal_nocase_ascii(std::string_view(environ[i], eq - environ[i]), name)) return i;
    }
    return -1;
}

// ---- Command lines ------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Splits a command line by the C runtime's rules: the program name is taken
// up to the closing quote or the first blank, without escapes; the
// arguments after it honour quotes, "" inside quotes, and backslashes before
// a quote.
std::vector<std::string> split_arguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0, n = line.size();
    bool quoted = false;
    while (i < n && (quoted || !is_blank(line[i]))) {
        if (line[i] == '"') quoted = !quoted;
        ++i;
    }
    for (;;) {
        while (i < n && is_blank(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        quoted = false;
        while (i < n && (quoted || !is_blank(line[i]))) {
            if (line[i] == '\\') {
                size_t slashes = 0;
                while (i < n && line[i] == '\\') ++slashes, ++i;
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg.push_back('"');
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (line[i] == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg.push_back('"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg.push_back(line[i++]);
        }
        args.push_back(arg);
    }
    return args;
}

std::string folder_of(const std::string& windows_path) {
    size_t slash = windows_path.find_last_of('\\');
    return slash == std::string::npos ? "" : windows_path.substr(0, slash);
}

// The folders searched for a program named without a path, in Windows'
// order: the caller's own folder, the current folder, the system folder,
// the 16-bit system folder, the Windows folder, then PATH.
std::vector<std::string> search_folders() {
    std::vector<std::string> folders;
    char module[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
    if (n > 0 && n < sizeof module) folders.push_back(folder_of(module));
    char cwd[MAX_PATH];
    n = GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n > 0 && n < sizeof cwd) folders.push_back(cwd);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    folders.push_back(std::string(windows) + "\\System32");
    folders.push_back(std::string(windows) + "\\System");
    folders.push_back(windows);
    char path[32767];
    n = GetEnvironmentVariableA("PATH", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        std::string list = path;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) folders.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    return folders;
}

struct Program {
    std::string host;     // the file to run
    std::string windows;  // its Windows path, for the journal
};

bool existing_file(const std::string& windows_path, Program* program) {
    Resolved r = resolve_path(windows_path.c_str());
    if (r.error) return false;
    struct stat st;
    if (stat(r.host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    program->host = r.host;
    program->windows = r.windows;
    return true;
}

// Finds the program a name stands for: ".exe" is appended when the name
// has no extension (a name ending in a dot keeps none); a name without a
// path is looked for in the search folders.
bool find_program(std::string name, Program* program) {
    while (!name.empty() && is_blank(name.back())) name.pop_back();
    if (name.empty()) return false;
    size_t base = name.find_last_of("\\/:");
    base = base == std::string::npos ? 0 : base + 1;
    if (name.back() == '.') name.pop_back();
    else if (name.find('.', base) == std::string::npos) name += ".exe";
    if (base > 0) return existing_file(name, program);
    for (const std::string& folder : search_folders())
        if (existing_file(folder + "\\" + name, program)) return true;
    return false;
}

// Finds the program of a command line: a quoted first token names it
// exactly; otherwise the line is tried up to each blank in turn, from the
// left, so that "C:\Program Files\x\setup.exe /s" runs "C:\Program.exe"
// when that exists.
bool program_of_command_line(const std::string& line, Program* program) {
    size_t start = 0;
    while (start < line.size() && is_blank(line[start])) ++start;
    if (start < line.size() && line[start] == '"') {
        size_t close = line.find('"', start + 1);
        if (close == std::string::npos) close = line.size();
        return find_program(line.substr(start + 1, close - start - 1), program);
    }
    for (size_t i = start; i <= line.size(); ++i) {
        if (i < line.size() && !is_blank(line[i])) continue;
        if (i > start && !is_blank(line[i - 1]) && find_program(line.substr(start, i - start), program)) return true;
    }
    return false;
}

bool has_extension(const std::string& path, const char* ext) {
    size_t n = strlen(ext);
    return path.size() >= n && equal_nocase_ascii(std::string_view(path).substr(path.size() - n), ext);
}

// The link through which batch files run: "cmd.exe", pointing at the host
// shell, outside the machine's drives.
std::string shell_link() {
    std::string dir = machine_root() + "/bin";
    mkdir(dir.c_str(), 0755);
    std::string link = dir + "/cmd.exe";
    if (symlink("/bin/sh", link.c_str()) != 0 && errno != EEXIST) return "/bin/sh";
    return link;
}

std::string new_exit_file() {
    static std::atomic<unsigned> counter{0};
    std::string dir = machine_root() + "/procs";
    mkdir(dir.c_str(), 0755);
    return dir + "/" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(real_ms(CLOCK_MONOTONIC)) + ".exit";
}

// The child's environment as host "NAME=value" strings.
std::vector<std::string> child_environment(const char* block) {
    std::vector<std::string> env;
    if (block) {
        for (const char* p = block; *p; p += strlen(p) + 1) env.push_back(to_utf8(p));
    } else {
        for (char** e = environ; e && *e; ++e) env.push_back(*e);
    }
    std::vector<std::string> kept;
    bool machine = false;
    for (auto& kv : env) {
        if (kv.compare(0, 12, "W32_CMDLINE=") == 0 || kv.compare(0, 14, "W32_EXIT_FILE=") == 0) continue;
        if (kv.compare(0, 12, "W32_MACHINE=") == 0) machine = true;
        kept.push_back(kv);
    }
    // The machine is where the process lives, not a Windows variable: a
    // block of the caller's own never drops it.
    if (!machine) kept.push_back("W32_MACHINE=" + machine_root());
    return kept;
}

int fd_of(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return -1;
    HostFd* f = object_as<HostFd>(handle);
    return f ? f->fd : -1;
}

struct Process : Waitable {
    pid_t pid = -1;
    bool reaped = false;
    int status = 0;
    std::string exit_file;
    bool terminated = false;
    DWORD terminate_code = 0;
    DWORD exit_code = STILL_ACTIVE;

    ~Process() override {
        if (!exit_file.empty() && reaped) unlink(exit_file.c_str());
    }

    void finish(int st) {
        reaped = true;
        status = st;
        std::string text;
        if (terminated) exit_code = terminate_code;
        else if (!exit_file.empty() && read_file(exit_file, &text) && !text.empty())
            exit_code = (DWORD)strtoul(text.c_str(), nullptr, 10);
        else if (WIFEXITED(st)) exit_code = (DWORD)WEXITSTATUS(st);
        else exit_code = 128u + (DWORD)WTERMSIG(st);  // killed by the host, as a shell reports it
        if (!exit_file.empty()) unlink(exit_file.c_str());
    }

    bool try_reap(bool block) {
        if (reaped) return true;
        int st = 0;
        pid_t r;
        while ((r = waitpid(pid, &st, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
        }
        if (r == pid) {
            finish(st);
            return true;
        }
        return false;
    }

    DWORD wait(DWORD ms) override {
        if (ms == INFINITE) return try_reap(true) ? WAIT_OBJECT_0 : (fail(ERROR_INVALID_HANDLE), WAIT_FAILED);
        // A timed wait passes machine time as Sleep does, so that it is
        // accelerated with the machine's clock.
        long long deadline = machine_local_ms() + ms;
        DWORD step = machine_clock_fast() ? 100 : 10;
        for (;;) {
            if (try_reap(false)) return WAIT_OBJECT_0;
            long long left = deadline - machine_local_ms();
            if (left <= 0) return WAIT_TIMEOUT;
            machine_sleep((DWORD)(left < step ? left : step));
        }
    }
};

struct Thread : Object {};

void record_start(const Program& program, const std::string& line, DWORD flags, const STARTUPINFOA* si,
                  const std::string& cwd, pid_t child) {
    std::string json = "{\"kind\":\"process\",\"time\":\"" + format_machine_time(machine_local_ms()) +
                       "\",\"pid\":" + std::to_string(getpid()) + ",\"child\":" + std::to_string(child) +
                       ",\"image\":\"" + json_escape(to_utf8(program.windows)) + "\",\"cmdline\":\"" +
                       json_escape(to_utf8(line)) + "\",\"cwd\":\"" + json_escape(to_utf8(cwd)) +
                       "\",\"flags\":" + std::to_string(flags);
    if (si && (si->dwFlags & STARTF_USESHOWWINDOW)) json += ",\"show\":" + std::to_string(si->wShowWindow);
    journal_append(json + "}");
}

// In the child between fork and exec: places the standard handles (-1 for
// none) on 0, 1 and 2.
void place_std_handles(const int wanted[3]) {
    int moved[3];
    for (int i = 0; i < 3; ++i) {
        int src = wanted[i] >= 0 ? wanted[i] : open("/dev/null", i == 0 ? O_RDONLY : O_WRONLY);
        moved[i] = fcntl(src, F_DUPFD_CLOEXEC, 10);
    }
    for (int i = 0; i < 3; ++i) dup2(moved[i], i);
}

}  // namespace
}  // namespace w32

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    using namespace w32;
    if (!lpProcessInformation || !lpStartupInfo) return fail(ERROR_INVALID_PARAMETER);
    std::string line = lpCommandLine ? lpCommandLine : "";
    Program program;
    if (lpApplicationName) {
        // The application name is taken as given: no search, no ".exe".
        if (!existing_file(lpApplicationName, &program)) return fail(ERROR_FILE_NOT_FOUND);
        if (line.empty()) line = lpApplicationName;
    } else if (!program_of_command_line(line, &program)) {
        return fail(ERROR_FILE_NOT_FOUND);
    }

    std::string cwd_host, cwd_windows;
    if (lpCurrentDirectory) {
        Resolved r = resolve_path(lpCurrentDirectory);
        struct stat st;
        if (r.error || stat(r.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
        cwd_host = r.host;
        cwd_windows = r.windows;
    } else {
        char cwd[MAX_PATH];
        if (GetCurrentDirectoryA(sizeof cwd, cwd) < sizeof cwd) cwd_windows = cwd;
    }

    std::vector<std::string> env = child_environment(static_cast<const char*>(lpEnvironment));
    std::vector<std::string> args;
    std::string exec_path = program.host, exit_file;
    bool kit = is_kit_program(program.host);
    if (kit) {
        args.push_back(program.host);
        exit_file = new_exit_file();
        env.push_back("W32_CMDLINE=" + line);
        env.push_back("W32_EXIT_FILE=" + exit_file);
    } else {
        if (has_extension(program.host, ".bat") || has_extension(program.host, ".cmd")) {
            exec_path = shell_link();
            args.push_back("cmd.exe");
        }
        args.push_back(program.host);
        for (auto& a : split_arguments(line)) args.push_back(to_utf8(a));
        if (exec_path == program.host && access(program.host.c_str(), X_OK) != 0)
            return fail(ERROR_BAD_EXE_FORMAT);
    }

    int std_fds[3] = {-1, -1, -1};
    bool use_std = (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0;
    if (use_std) {
        std_fds[0] = fd_of(lpStartupInfo->hStdInput);
        std_fds[1] = fd_of(lpStartupInfo->hStdOutput);
        std_fds[2] = fd_of(lpStartupInfo->hStdError);
        // Only inheritable handles reach the child, and only when asked to.
        for (int i = 0; i < 3; ++i) {
            HANDLE h = i == 0 ? lpStartupInfo->hStdInput : i == 1 ? lpStartupInfo->hStdOutput : lpStartupInfo->hStdError;
            HostFd* f = std_fds[i] >= 0 ? object_as<HostFd>(h) : nullptr;
            if (f && (!bInheritHandles || !f->inheritable)) std_fds[i] = -1;
        }
    }

    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int status_pipe[2];
    if (pipe2(status_pipe, O_CLOEXEC) != 0) return fail(error_from_errno(errno));
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(status_pipe[0]);
        close(status_pipe[1]);
        return fail(error_from_errno(errno));
    }
    if (pid == 0) {
        close(status_pipe[0]);
        int err = 0;
        if (!cwd_host.empty() && chdir(cwd_host.c_str()) != 0) err = errno;
        if (!err) {
            if (use_std) place_std_handles(std_fds);
            signal(SIGPIPE, SIG_DFL);
            execve(exec_path.c_str(), argv.data(), envp.data());
            err = errno;
        }
        ssize_t w = write(status_pipe[1], &err, sizeof err);
        (void)w;
        _exit(127);
    }
    close(status_pipe[1]);
    int child_err = 0;
    ssize_t got;
    while ((got = read(status_pipe[0], &child_err, sizeof child_err)) < 0 && errno == EINTR) {
    }
    close(status_pipe[0]);
    if (got == (ssize_t)sizeof child_err) {
        int st;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        return fail(child_err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : error_from_errno(child_err));
    }

    record_start(program, line, dwCreationFlags, lpStartupInfo, cwd_windows, pid);
    auto* process = new Process;
    process->pid = pid;
    process->exit_file = exit_file;
    lpProcessInformation->hProcess = new_handle(process);
    lpProcessInformation->hThread = new_handle(new Thread);
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    w32::Waitable* object = w32::object_as<w32::Waitable>(hHandle);
    if (!object) {
        w32::fail(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->wait(dwMilliseconds);
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    auto* process = w32::object_as<w32::Process>(hProcess);
    if (!process || !lpExitCode) return w32::fail(ERROR_INVALID_HANDLE);
    process->try_reap(false);
    *lpExitCode = process->exit_code;
    return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    auto* process = w32::object_as<w32::Process>(hProcess);
    if (!process) return w32::fail(ERROR_INVALID_HANDLE);
    if (process->reaped) return w32::fail(ERROR_ACCESS_DENIED);
    process->terminated = true;
    process->terminate_code = uExitCode;
    if (kill(process->pid, SIGKILL) != 0) return w32::fail(w32::error_from_errno(errno));
    process->try_reap(true);
    return TRUE;
}

BOOL CreatePipe(PHANDLE hReadPipe, PHANDLE hWritePipe, LPSECURITY_ATTRIBUTES lpPipeAttributes, DWORD nSize) {
    if (!hReadPipe || !hWritePipe) return w32::fail(ERROR_INVALID_PARAMETER);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return w32::fail(w32::error_from_errno(errno));
    // Windows' default pipe buffer is small; so is ours, so that a writer
    // that outruns its reader blocks here as it would there.
    fcntl(fds[1], F_SETPIPE_SZ, nSize ? (int)nSize : 4096);
    bool inherit = lpPipeAttributes && lpPipeAttributes->bInheritHandle;
    *hReadPipe = w32::new_handle(new w32::HostFd(fds[0], inherit));
    *hWritePipe = w32::new_handle(new w32::HostFd(fds[1], inherit));
    return TRUE;
}

BOOL PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize, LPDWORD lpBytesRead,
                   LPDWORD lpTotalBytesAvail, LPDWORD lpBytesLeftThisMessage) {
    auto* pipe = w32::object_as<w32::HostFd>(hNamedPipe);
    if (!pipe) return w32::fail(ERROR_INVALID_HANDLE);
    // Copying the waiting bytes out without consuming them is not offered:
    // callers here only ask how many wait.
    if (lpBuffer && nBufferSize) return w32::fail(ERROR_NOT_SUPPORTED);
    int avail = 0;
    if (ioctl(pipe->fd, FIONREAD, &avail) != 0) return w32::fail(w32::error_from_errno(errno));
    if (lpBytesRead) *lpBytesRead = 0;
    if (lpTotalBytesAvail) *lpTotalBytesAvail = (DWORD)avail;
    if (lpBytesLeftThisMessage) *lpBytesLeftThisMessage = 0;
    return TRUE;
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    int i = lpName ? w32::find_variable(lpName) : -1;
    if (i < 0) {
        w32::fail(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::string value = w32::to_cp932(strchr(environ[i], '=') + 1);
    if (!lpBuffer || nSize <= value.size()) return (DWORD)value.size() + 1;
    memcpy(lpBuffer, value.c_str(), value.size() + 1);
    if (value.empty()) SetLastError(0);
    return (DWORD)value.size();
}

BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    if (!lpName || !*lpName || strchr(lpName, '=')) return w32::fail(ERROR_INVALID_PARAMETER);
    int i = w32::find_variable(lpName);
    std::string name = lpName;
    if (i >= 0) {
        // Keep the spelling of the variable that is already there.
        name.assign(environ[i], strchr(environ[i], '=') - environ[i]);
    }
    if (!lpValue) {
        if (i < 0) return w32::fail(ERROR_ENVVAR_NOT_FOUND);
        unsetenv(name.c_str());
        return TRUE;
    }
    if (setenv(name.c_str(), w32::to_utf8(lpValue).c_str(), 1) != 0) return w32::fail(w32::error_from_errno(errno));
    return TRUE;
}
