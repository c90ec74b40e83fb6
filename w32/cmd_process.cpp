// w32 run: starts a Windows command line on the machine as CreateProcessA
// would, waits for it and ends with its exit code.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/win32.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

int cmd_run(const Args& args) {
    size_t first = 0;
    std::string folder;
    if (args.size() >= 2 && args[0] == "--cwd") {
        folder = w32::to_cp932(args[1]);
        first = 2;
    }
    if (args.size() <= first) return usage_error("run", "name a command line");
    const std::string& root = w32::machine_root();
    std::string line;
    for (size_t i = first; i < args.size(); ++i) line += (i > first ? " " : "") + args[i];
    // Outside the machine's drives the command starts in C:\, as the kit's
    // programs do.
    char cwd[PATH_MAX];
    std::string drives = root + "/drives/";
    if (!getcwd(cwd, sizeof cwd) || strncmp(cwd, drives.c_str(), drives.size()) != 0) {
        if (chdir((root + "/drives/c").c_str()) != 0) return failure("run", "cannot enter C:\\");
    }
    std::vector<char> buffer;
    std::string cp932 = w32::to_cp932(line);
    buffer.assign(cp932.begin(), cp932.end());
    buffer.push_back('\0');
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, TRUE, 0, NULL, folder.empty() ? NULL : folder.c_str(), &si, &pi))
        return failure("run", "cannot start '" + line + "' (error " + std::to_string(GetLastError()) + ")");
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code))
        return failure("run", "cannot wait for '" + line + "'");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

Register run_cmd({"run", "run [--cwd WINPATH] WINCMDLINE...",
                  "start a Windows command line (the words joined by blanks) as CreateProcessA does, in the "
                  "given working folder, wait for it and exit with its exit code",
                  cmd_run});

}  // namespace
}  // namespace w32cmd
