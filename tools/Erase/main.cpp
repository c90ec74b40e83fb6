// Erase: deletes one file, retrying while another program holds it. A file
// that is not there counts as deleted. Its attributes are left alone, so a
// read-only file stays.
#include "common/frame.h"

namespace {

const int kDeleteAttempts = 100;
const DWORD kRetryPauseMs = 1000;

int ReportNotPresent(const char* path) {
    LOG_INFO_F("ファイルは存在しませんでした。(%s)", path);
    LOG_INFO("ファイルを削除しました。");
    return 1;
}

}  // namespace

// Deletes `path`. Returns the exit code.
int DeleteFileWithRetry(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &info)) return ReportNotPresent(path);
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (DeleteFileA(path)) {
            LOG_INFO("ファイルを削除しました。");
            return 1;
        }
        // Removed by another program meanwhile: not present, as if it had
        // never been there, rather than a failure after 100 attempts.
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ReportNotPresent(path);
        LOG_INFO_F("ファイルの削除に失敗したためリトライします。(%s)", path);
        Sleep(kRetryPauseMs);
    }
    return TOOL_FAIL("ファイルの削除に失敗しました。");
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    RequireCurrentDirectoryForLog();
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    return DeleteFileWithRetry(g_targetPath);
}
