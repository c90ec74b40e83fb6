// Unpacker: extracts an archive by running the product's Java class
// ZipDecomp on the product's Java runtime, handing it the tool's own command
// line, and judges the outcome from what the class prints.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const char kSuccessWord[] = "Success\r\n";
const char kErrorWord[] = "Error\r\n";
const size_t kJavaCommandSize = 1024;
const DWORD kCapturedSize = 1024;  // at most 1023 bytes are kept, so it stays terminated
// While the Java process runs, its output is drained this often, so that a
// process that writes more than the pipe holds never waits for a reader.
const DWORD kDrainIntervalMs = 50;

const char kExtractionBox[] =
    "[%s]\r\nファイルの解凍に失敗しました。(終了コード:%d)\r\n"
    "バックグラウンドで起動中のアプリケーションを終了した上で再度実行してください。";

char g_classFolder[MAX_PATH];
char g_childFolder[MAX_PATH];

int CheckUnpackerPreconditions(void) {
    memset(g_classFolder, 0, sizeof g_classFolder);
    memset(g_childFolder, 0, sizeof g_childFolder);
    DWORD length = GetCurrentDirectoryA(MAX_PATH, g_classFolder);
    if (length == 0 || length >= MAX_PATH) {
        g_classFolder[0] = '\0';  // a folder that does not fit is no class path
        return TOOL_FAIL("カレントパスの取得に失敗しました。");
    }
    char windowsFolder[MAX_PATH];
    UINT windowsLength = GetWindowsDirectoryA(windowsFolder, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH) return TOOL_FAIL("ウインドウディレクトリパスの取得に失敗しました。");
    if (snprintf(g_childFolder, MAX_PATH, "%s\\System32", windowsFolder) >= MAX_PATH) {
        LOG_WARNING_F("作業フォルダのパスが長すぎます。(%s\\System32)", windowsFolder);
        return FailureExitAfterEntry();
    }
    return 1;
}

const ToolFrame kUnpackerFrame = {1, CheckUnpackerPreconditions, 1, 1};

// Moves what waits in the pipe into the captured text: the first 1023
// bytes of the output are kept, the rest is read and dropped.
int DrainPipe(HANDLE readEnd, char* captured, DWORD* used) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(readEnd, NULL, 0, NULL, &waiting, NULL)) return 0;
    while (waiting > 0) {
        char chunk[4096];
        DWORD got = 0;
        if (!ReadFile(readEnd, chunk, waiting < sizeof chunk ? waiting : (DWORD)sizeof chunk, &got, NULL)) return 0;
        DWORD room = kCapturedSize - 1 - *used;
        DWORD keep = got < room ? got : room;
        memcpy(captured + *used, chunk, keep);
        *used += keep;
        waiting -= got < waiting ? got : waiting;
    }
    return 1;
}

// Judges the captured text and ends the tool: 1 in all three outcomes.
int JudgeExtraction(const char* captured, DWORD exitCode) {
    if (strcmp(captured, kErrorWord) == 0) {
        LOG_INFO_F("解凍に失敗しました。(%s)", g_targetPath);
        DeleteInstallMarkers();
        char message[1024];
        snprintf(message, sizeof message, kExtractionBox, g_targetPath, (int)exitCode);
        MessageBoxA(NULL, message, "Setup", MB_TOPMOST | MB_ICONERROR);
        ShowFailureBox();
        return 1;
    }
    if (strcmp(captured, kSuccessWord) == 0) {
        LOG_INFO_F("解凍に成功しました。(%s)", g_targetPath);
        return 1;
    }
    // The entry holds the whole captured text (up to 1023 bytes) beside the
    // target path, more than the logger's own 1024-byte buffer takes.
    char entry[MAX_PATH + kCapturedSize + 64];
    snprintf(entry, sizeof entry, "解凍の成否が不明。(%s)(%s)", g_targetPath, captured);
    WriteInstallLog(kLevelInfo, entry, __LINE__);
    DeleteInstallMarkers();
    ShowFailureBox();
    return 1;
}

}  // namespace

// Runs ZipDecomp on the command line and judges its output.
int ExtractArchive(void) {
    char jreFolder[MAX_PATH];
    memset(jreFolder, 0, sizeof jreFolder);
    if (ReadUninstallValue("JRE_HOME", jreFolder) != 0) return TOOL_FAIL("JRE_HOMEの取得に失敗しました。");
    LOG_INFO_F("JRE_HOME(%s)", jreFolder);

    // The longest parts (three of 259 bytes) always fit the 1024 bytes.
    char javaCommand[kJavaCommandSize];
    memset(javaCommand, 0, sizeof javaCommand);
    snprintf(javaCommand, sizeof javaCommand, "\"%s\\bin\\java\" -classpath \"%s\" ZipDecomp %s", jreFolder, g_classFolder,
             g_targetPath);
    LOG_INFO_F("実行コマンドライン(%s)", javaCommand);

    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE readEnd = NULL, writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return TOOL_FAIL("パイプの作成に失敗しました。");

    STARTUPINFOA startup;
    PrepareHiddenStart(&startup);
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    LOG_INFO("プロセスを起動します。");
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, javaCommand, NULL, NULL, TRUE, 0, NULL, g_childFolder, &startup, &process))
        return TOOL_FAIL("プロセスの起動に失敗しました。");

    char captured[kCapturedSize];
    memset(captured, 0, sizeof captured);
    DWORD used = 0;
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, kDrainIntervalMs);
        if (wait == WAIT_OBJECT_0) break;
        if (wait != WAIT_TIMEOUT) return TOOL_FAIL("プロセスの終了待機に失敗しました。");
        if (!DrainPipe(readEnd, captured, &used)) return TOOL_FAIL("標準出力に読み出しに失敗しました。");
    }
    LOG_INFO("プロセスを終了しました。");

    DWORD waiting = 0;
    if (!PeekNamedPipe(readEnd, NULL, 0, NULL, &waiting, NULL) || (waiting == 0 && used == 0))
        return TOOL_FAIL("標準出力に読みだす情報がありません。");
    if (!DrainPipe(readEnd, captured, &used)) return TOOL_FAIL("標準出力に読み出しに失敗しました。");

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.hProcess, &exitCode)) return TOOL_FAIL("終了コードの取得に失敗しました。");
    LOG_INFO_F("終了コード:%d", (int)exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return JudgeExtraction(captured, exitCode);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kUnpackerFrame)) return 0;
    return ExtractArchive();
}
