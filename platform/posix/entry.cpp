// Start-up of a program of the POSIX build: the host's main() calls the
// program's WinMain with the command line text after the program name.
//
// A program started by another program of the machine (CreateProcessA) gets
// its Windows command line unchanged through W32_CMDLINE, which is removed
// from the environment at once so that it never reaches a grandchild. A
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

namespace {
std::string g_command_line;

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
    exit((int)exitCode);
}

int main(int argc, char** argv) {
    char* tail = w32::process_start(argc, argv);
    int code = WinMain(nullptr, nullptr, tail, SW_SHOWDEFAULT);
    ExitProcess((UINT)code);
    return code;
}
