// A program of the kit for the tests of process creation: prints the
// command line tail it received in brackets and the current folder, ends
// with the exit code in PROBE_EXIT (32 bits), and, when PROBE_RUN names a
// command line, first starts that and waits for it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    printf("probe [%s] in %s\n", lpCmdLine, cwd);
    fflush(stdout);
    char run[1024];
    DWORD n = GetEnvironmentVariableA("PROBE_RUN", run, sizeof run);
    if (n > 0 && n < sizeof run) {
        SetEnvironmentVariableA("PROBE_RUN", NULL);
        STARTUPINFOA si;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        if (!CreateProcessA(NULL, run, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 100;
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    char code[16];
    n = GetEnvironmentVariableA("PROBE_EXIT", code, sizeof code);
    return n > 0 && n < sizeof code ? (int)strtoul(code, NULL, 10) : 0;
}
