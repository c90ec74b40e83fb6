// Relabel: gives a folder a new path on the same volume. The command line
// holds the present path and the new path, each in double quotes; the rename
// is retried while another program still holds the folder.
#include <cstring>

#include "common/frame.h"

namespace {

const int kRenameAttempts = 100;
const DWORD kRetryPauseMs = 1000;

// Slot 0: the present path, slot 1: the new path.
char g_paths[2][MAX_PATH];

}  // namespace

// Renames with up to 100 attempts a second apart. Returns the exit code.
int RenameFolder(const char* from, const char* to) {
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        if (MoveFileExA(from, to, 0)) {
            LOG_INFO_F("フォルダ名の変更に成功しました(%s)⇒(%s)", from, to);
            return 1;
        }
        LOG_INFO_F("フォルダ名の変更に失敗しました(%s)⇒(%s)", from, to);
        Sleep(kRetryPauseMs);
    }
    // The last failed attempt's entry stands for the failure: no warning.
    return FailureExitAfterEntry();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    memset(g_paths, 0, sizeof g_paths);
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    // The frame has refused a command line that does not fit the target
    // path, so every argument fits its slot.
    ParseQuotedArguments(lpCmdLine, strlen(lpCmdLine), g_paths, 2);
    return RenameFolder(g_paths[0], g_paths[1]);
}
