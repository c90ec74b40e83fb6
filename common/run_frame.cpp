// The run frame of the installer tools: start-up steps, command-line
// readers, the failure exit and the marker clean-up.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

const ToolFrame kWholeLineTool = {1, NULL, 1, 1};

namespace {

const char* const kMarkerFiles[] = {"InstSystem.txt", "InstText.txt", "InstProgram.txt", "InstComplete.txt"};
const int kDeleteAttempts = 100;
const DWORD kRetryPauseMs = 1000;

const char kFailureBoxText[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";

}  // namespace

int ParseQuotedArguments(const char* commandLine, size_t scanLimit, char (*slots)[MAX_PATH], int count) {
    for (int i = 0; i < count; ++i) memset(slots[i], 0, MAX_PATH);
    if (!commandLine || count <= 0) return 1;
    size_t n = 0;
    while (n < scanLimit && commandLine[n]) ++n;
    int inQuotes = 0, slot = 0, fits = 1;
    size_t used = 0;
    for (size_t i = 0; i < n && slot < count; ++i) {
        char c = commandLine[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            if (!inQuotes) {
                slots[slot][used] = '\0';
                ++slot;
                used = 0;
            }
        } else if (inQuotes) {
            if (used < MAX_PATH - 1)
                slots[slot][used++] = c;
            else
                fits = 0;
        }
    }
    return fits;
}

void SplitQuotedPair(const char* commandLine, char* first, char* second) {
    memset(first, 0, MAX_PATH);
    memset(second, 0, MAX_PATH);
    long n = (long)strlen(commandLine);
    long p = -1;
    for (long i = 1; i < n; ++i)
        if (commandLine[i] == ' ' && commandLine[i - 1] == '"') {
            p = i;
            break;
        }
    long secondStart = 2;
    if (p >= 0) {
        long firstLength = p - 2;  // bytes 1 .. p-2
        if (firstLength > MAX_PATH - 1) firstLength = MAX_PATH - 1;
        if (firstLength > 0) memcpy(first, commandLine + 1, (size_t)firstLength);
        secondStart = p + 2;
    }
    long secondLength = (n - 2) - secondStart + 1;  // bytes secondStart .. n-2
    if (secondLength > MAX_PATH - 1) secondLength = MAX_PATH - 1;
    if (secondLength > 0) memcpy(second, commandLine + secondStart, (size_t)secondLength);
}

void DeleteInstallMarkers(void) {
    // Without a product folder the marker paths would point into the root of
    // the current drive, where no marker of ours lies: nothing to delete.
    if (g_productFolder[0] == '\0') return;
    for (const char* name : kMarkerFiles) {
        char path[MAX_PATH];
        snprintf(path, MAX_PATH, "%s\\%s", g_productFolder, name);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
            LOG_INFO_F("ファイルは存在しませんでした。(%s)", path);
            continue;
        }
        int deleted = 0;
        for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
            if (DeleteFileA(path)) {
                LOG_INFO_F("ファイルの削除に成功しました。(%s)", path);
                deleted = 1;
                break;
            }
            LOG_INFO_F("ファイルの削除失敗したためリトライします。(%s)", path);
            Sleep(kRetryPauseMs);
        }
        if (!deleted) LOG_WARNING_F("ファイルの削除に失敗しました。(%s)", path);
    }
}

void PrepareHiddenStart(STARTUPINFOA* startup) {
    memset(startup, 0, sizeof *startup);
    startup->cb = sizeof *startup;
    startup->dwFlags = STARTF_USESHOWWINDOW;
    startup->wShowWindow = SW_HIDE;
}

void ShowFailureBox(void) { MessageBoxA(NULL, kFailureBoxText, "Setup", MB_TOPMOST | MB_ICONERROR); }

int FailureExitAfterEntry(void) {
    DeleteInstallMarkers();
    ShowFailureBox();
    return 0;
}

int FailureExit(const char* text, int line) {
    WriteInstallLog(kLevelWarning, text, line);
    return FailureExitAfterEntry();
}

int ClearReadOnlyAttribute(const char* path, const char* clearFailureFormat) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &info)) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return 1;
        LOG_WARNING_F("ファイルの属性の取得に失敗しました(%s)", path);
        return FailureExitAfterEntry();
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return 1;
    if (SetFileAttributesA(path, info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY)) return 1;
    char message[1024];
    snprintf(message, sizeof message, clearFailureFormat, path);
    WriteInstallLog(kLevelWarning, message, __LINE__);
    return FailureExitAfterEntry();
}

int CheckCommandLineLength(size_t length, size_t limit, int line) {
    if (length <= limit) return 1;
    WriteInstallLogF(kLevelWarning, line, "コマンドラインが長すぎます。(%uバイト、上限%uバイト)", (unsigned)length,
                     (unsigned)limit);
    return FailureExitAfterEntry();
}

int RunToolFrame(const char* commandLine, const ToolFrame* frame) {
    memset(g_modulePath, 0, sizeof g_modulePath);
    memset(g_productFolder, 0, sizeof g_productFolder);
    memset(g_targetPath, 0, sizeof g_targetPath);

    if (!GetInstallLogPath()) return TOOL_FAIL("インストールパスが取得できません。");
    if (frame->requireCommandLine && (!commandLine || commandLine[0] == '\0')) return TOOL_FAIL("引数がありません。");
    DWORD length = GetModuleFileNameA(NULL, g_modulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        // A cut path is no module path.
        memset(g_modulePath, 0, sizeof g_modulePath);
        return TOOL_FAIL("自ファイル名の取得に失敗しました。");
    }
    if (frame->preconditions && !frame->preconditions()) return 0;
    if (frame->logStart) LOG_INFO("処理開始");
    if (frame->copyTargetPath) {
        if (!CheckCommandLineLength(strlen(commandLine), MAX_PATH - 1, __LINE__)) return 0;
        snprintf(g_targetPath, MAX_PATH, "%s", commandLine);
        LOG_INFO_F("チェック対象パス(%s)", g_targetPath);
    }
    return 1;
}
