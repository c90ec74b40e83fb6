// Start-up of a program of the POSIX build: the host's main() calls the
// program's WinMain with the command line text after the program name.
//
// A program started by another program of the machine (CreateProcessA) gets
// its Windows command line unchanged through W32_CMDLINE, and the file in
// which to leave its 32-bit exit code through W32_EXIT_FILE; both are
// removed from the environment at once so that they never reach a
// grandchild. Every program built on this shim carries the ELF section
// ".w32kit", by which CreateProcessA tells it from other host programs. A
// program started from a host shell gets its arguments joined by single
// blanks, converted to CP932; when the shell's folder lies outside the
// machine's drives it starts in C:\, so that it never writes into the
// host's own folders by accident.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "machine.h"

namespace w32 {

// The mark of a program of the kit.
extern "C" __attribute__((used, section(".w32kit"))) const char w32_kit_program[] = "w32 kit program";

namespace {
std::string g_command_line;
std::string g_exit_file;

bool inside_drives(const std::string& root) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return false;
    std::string drives = root + "/drives/";
    return strncmp(cwd, drives.c_str(), drives.size()) == 0;
}

const char* skip_program_name(const char* p) {
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}
}  // namespace

char* process_start(int argc, char** argv) {
    const std::string& root = machine_root();
    const char* inherited = getenv("W32_CMDLINE");
    if (const char* exit_file = getenv("W32_EXIT_FILE")) {
        g_exit_file = exit_file;
        unsetenv("W32_EXIT_FILE");
    }
    if (inherited) {
        g_command_line = inherited;
        unsetenv("W32_CMDLINE");
    } else {
        if (!inside_drives(root)) {
            std::string c = root + "/drives/c";
            if (chdir(c.c_str()) != 0) {
                fprintf(stderr, "cannot enter %s\n", c.c_str());
                exit(125);
            }
        }
        std::string tail;
        for (int i = 1; i < argc; ++i) {
            if (i > 1) tail += ' ';
            tail += argv[i];
        }
        char module[MAX_PATH];
        GetModuleFileNameA(nullptr, module, sizeof module);
        g_command_line = std::string("\"") + module + "\"";
        std::string converted = to_cp932(tail);
        if (!converted.empty()) g_command_line += " " + converted;
        else if (argc > 1) g_command_line += " ";
    }
    return const_cast<char*>(skip_program_name(g_command_line.c_str()));
}

}  // namespace w32

LPSTR GetCommandLineA(void) { return const_cast<char*>(w32::g_command_line.c_str()); }

void ExitProcess(UINT exitCode) {
    fflush(nullptr);
    // The host keeps only 8 bits of an exit status: the parent reads the
    // whole code from this file.
    if (!w32::g_exit_file.empty()) {
        DWORD ignored;
        w32::write_file_atomically(w32::g_exit_file, std::to_string(exitCode), &ignored);
    }
    exit((int)exitCode);
}

int main(int argc, char** argv) {
    char* tail = w32::process_start(argc, argv);
    int code = WinMain(nullptr, nullptr, tail, SW_SHOWDEFAULT);
    ExitProcess((UINT)code);
    return code;
}
