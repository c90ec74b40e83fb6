// SpanGuard: refuses an install path longer than 60 bytes (CP932), telling
// the user and removing the installer's marker files.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/frame.h"

namespace {

const int kPathLengthLimit = 60;
const size_t kMessageSize = 1024;

const char kTooLongBox[] =
    "[%s]\r\n指定したインストール先のパスが長すぎます。(上限:%d、現在:%d)\r\n"
    "インストール先を検討した上で再度実行してください。";

const ToolFrame kSpanGuardFrame = {1, NULL, 1, 0};

}  // namespace

int CheckInstallPathLength(const char* commandLine) {
    size_t length = strlen(commandLine);
    // The path must fit the 1024-byte message buffers together with the
    // longest text it is shown in; a longer one is refused, never cut.
    int fixed = snprintf(NULL, 0, kTooLongBox, "", kPathLengthLimit, (int)length);
    if (!CheckCommandLineLength(length, kMessageSize - 1 - (size_t)fixed, __LINE__)) return 0;

    char* path = (char*)malloc(length + 1);
    if (!path) return TOOL_FAIL("メモリの確保に失敗しました。");
    memcpy(path, commandLine, length + 1);

    LOG_INFO_F("チェック対象パス(%s)", commandLine);
    LOG_INFO_F("上限パス長(%d)：入力パス長(%d)", kPathLengthLimit, (int)length);
    if (length <= (size_t)kPathLengthLimit) {
        LOG_INFO("パス長はオーバーしていません。");
        free(path);
        return 1;
    }
    LOG_ERROR("パス長がオーバーしています。");
    DeleteInstallMarkers();
    char message[kMessageSize];
    snprintf(message, sizeof message, kTooLongBox, path, kPathLengthLimit, (int)length);
    MessageBoxA(NULL, message, "Setup", MB_TOPMOST | MB_ICONERROR);
    ShowFailureBox();
    free(path);
    return 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kSpanGuardFrame)) return 0;
    return CheckInstallPathLength(lpCmdLine);
}
