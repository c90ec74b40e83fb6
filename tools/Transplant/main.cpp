// Transplant: gives the product a private copy of the installed Java
// runtime 1.6.0_15. Mirror copies the runtime's folder into the destination
// folder named on the command line; Relabel then renames the copy to "JRE".
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const char kVersionKeyFormat[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\%s";
const char kJreVersion[] = "1.6.0_15";
const size_t kCommandSize = 1024;

// The full path of a program that lies beside this tool. The tool runs
// with administrator rights, so its helpers are named by full path: a bare
// name would fall back to the current folder and PATH when the helper is
// missing here, and run whatever was planted there.
int ProgramBesideTool(const char* name, char* path) {
    const char* slash = strrchr(g_modulePath, '\\');
    int folderLength = slash ? (int)(slash - g_modulePath) : 0;
    int needed = snprintf(path, MAX_PATH, "%.*s\\%s", folderLength, g_modulePath, name);
    return CheckCommandLineLength((size_t)needed, MAX_PATH - 1, __LINE__);
}

// Starts a command line as this tool's helpers are started and waits for
// it. Returns 1, or 0 after the failure exit.
int RunHelper(char* commandLine) {
    STARTUPINFOA startup;
    PrepareHiddenStart(&startup);
    LOG_INFO("プロセスを起動します。");
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        return TOOL_FAIL("プロセスの起動に失敗しました。");
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0)
        return TOOL_FAIL("プロセスの終了待機に失敗しました。");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LOG_INFO("プロセスを終了しました。");
    return 1;
}

}  // namespace

// Copies the runtime named by its registry entry into the destination
// folder (the target path) and renames the copy to "JRE".
int CopyJreToInstallFolder(void) {
    char versionKey[1024];
    snprintf(versionKey, sizeof versionKey, kVersionKeyFormat, kJreVersion);
    char javaHome[MAX_PATH];
    memset(javaHome, 0, sizeof javaHome);
    DWORD error = ReadRegistryValue(versionKey, "JavaHome", javaHome);
    if (error != 0) {
        LOG_WARNING_F("JREインストールパスの取得に失敗しました。(%d)", (int)error);
        return FailureExitAfterEntry();
    }

    char mirror[MAX_PATH], relabel[MAX_PATH];
    if (!ProgramBesideTool("Mirror.exe", mirror) || !ProgramBesideTool("Relabel.exe", relabel)) return 0;

    char copyCommand[kCommandSize];
    int needed = snprintf(copyCommand, sizeof copyCommand, "\"%s\" \"%s\" \"%s\"", mirror, javaHome, g_targetPath);
    if (!CheckCommandLineLength((size_t)needed, sizeof copyCommand - 1, __LINE__)) return 0;
    if (!RunHelper(copyCommand)) return 0;

    // The runtime folder's name follows the last backslash, found byte by
    // byte from the end.
    const char* name = NULL;
    for (size_t i = strlen(javaHome); i > 0; --i)
        if (javaHome[i - 1] == '\\') {
            name = javaHome + i;
            break;
        }
    if (!name) return TOOL_FAIL("コピー先JREフォルダの取得に失敗しました。");

    char renameCommand[kCommandSize];
    needed = snprintf(renameCommand, sizeof renameCommand, "\"%s\" \"%s\\%s\" \"%s\\JRE\"", relabel, g_targetPath, name,
                      g_targetPath);
    if (!CheckCommandLineLength((size_t)needed, sizeof renameCommand - 1, __LINE__)) return 0;
    if (!RunHelper(renameCommand)) return 0;
    return 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    return CopyJreToInstallFolder();
}
