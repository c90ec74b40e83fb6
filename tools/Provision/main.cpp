// Provision: installs the Java runtime 1.6.0_15 silently with the runtime's
// own installer from the folder named on the command line, and judges the
// result by the installer's exit code when the runtime was found missing.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const char kInstallerName[] = "jre-6u15-windows-i586.exe";
const char kInstallerOptions[] = "/s ADDLOCAL=ALL IEXPLORER=1 NETSCAPE=1 MOZILLA=1 REBOOT=Suppress";
const char kJreMissing[] = "JRE_CHECK_ON";
const size_t kInstallerCommandSize = 512;

char g_jreCheck[16];

int CheckProvisionPreconditions(void) {
    char currentFolder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, currentFolder);
    if (length == 0 || length >= MAX_PATH) return TOOL_FAIL("カレントパスの取得に失敗しました。");
    memset(g_jreCheck, 0, sizeof g_jreCheck);
    DWORD valueLength = GetEnvironmentVariableA("QOR_INSTALL_JRE_CHECK", g_jreCheck, sizeof g_jreCheck);
    if (valueLength == 0) return TOOL_FAIL("「QOR_INSTALL_JRE_CHECK」の環境変数の取得に失敗しました。");
    // A value too long for the 16 bytes is not read; it cannot be
    // "JRE_CHECK_ON" either.
    if (valueLength >= sizeof g_jreCheck) memset(g_jreCheck, 0, sizeof g_jreCheck);
    return 1;
}

const ToolFrame kProvisionFrame = {1, CheckProvisionPreconditions, 1, 1};

}  // namespace

// Runs the runtime's installer from the folder in the target path and
// judges its exit code.
int InstallJre(void) {
    // The installer is named in quotes: this tool runs with administrator
    // rights, and an unquoted path with blanks ("C:\Program Files\...")
    // would be tried blank by blank, running a planted "C:\Program.exe".
    char installerCommand[kInstallerCommandSize];
    int needed = snprintf(installerCommand, sizeof installerCommand, "\"%s\\%s\" %s", g_targetPath, kInstallerName,
                          kInstallerOptions);
    if (!CheckCommandLineLength((size_t)needed, sizeof installerCommand - 1, __LINE__)) return 0;

    STARTUPINFOA startup;
    PrepareHiddenStart(&startup);
    LOG_INFO("プロセスを起動します。");
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, installerCommand, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, g_targetPath, &startup,
                        &process))
        return TOOL_FAIL("プロセスの起動に失敗しました。");
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0)
        return TOOL_FAIL("プロセスの終了待機に失敗しました。");
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.hProcess, &exitCode)) return TOOL_FAIL("終了コードの取得に失敗しました。");
    LOG_INFO_F("終了コード:%d", (int)exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    if (strcmp(g_jreCheck, kJreMissing) == 0 && exitCode != 0) return TOOL_FAIL("JREのインストールに失敗しました。");
    LOG_INFO("JREのインストールに成功しました。");
    return 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kProvisionFrame)) return 0;
    return InstallJre();
}
