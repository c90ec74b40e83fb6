// Replicate: copies a file onto another path, overwriting what is there.
// The command line holds the source and the destination, each in double
// quotes. A read-only destination is made writable first; the copy is
// retried while it fails.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const int kCopyAttempts = 100;
const DWORD kRetryPauseMs = 1000;

char g_source[MAX_PATH];
char g_destination[MAX_PATH];

}  // namespace

// Copies `source` onto `destination`. Returns the exit code.
int CopyFileWithRetry(const char* source, const char* destination) {
    if (!ClearReadOnlyAttribute(destination, "読み取り専用フラグの削除に失敗しました(%s)")) return 0;
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        if (CopyFileA(source, destination, FALSE)) {
            LOG_INFO("コピーに成功しました。");
            return 1;
        }
        LOG_INFO_F("ファイルのコピーに失敗したためリトライします。(%s)⇒(%s)", source, destination);
        Sleep(kRetryPauseMs);
    }
    return TOOL_FAIL("コピーに失敗しました。");
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    RequireCurrentDirectoryForLog();
    memset(g_source, 0, sizeof g_source);
    memset(g_destination, 0, sizeof g_destination);
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    // The frame has refused a command line that does not fit the target
    // path, so both paths fit their slots.
    char work[1024];
    snprintf(work, sizeof work, "%s", lpCmdLine);
    SplitQuotedPair(work, g_source, g_destination);
    return CopyFileWithRetry(g_source, g_destination);
}
