// Capacity: refuses an installation destination whose volume has less than
// 500 MB (524,288,000 bytes) available to the user, telling the user both
// figures and removing the installer's marker files.
#include <cstdio>

#include "common/frame.h"

namespace {

const ULONGLONG kRequiredFreeBytes = 524288000ull;  // 500 * 1,048,576
const size_t kMessageSize = 1024;

// The figures are printed with "%lld" and a long long cast: the C library of
// the POSIX build has no "%I64d", and the Windows build's C99 printf knows
// "%lld" as well.
const char kShortEntry[] =
    "指定したインストール先に十分なディスク容量がありません(現在:%lldBYTE、必要量:%lldBYTE)";
const char kShortBox[] =
    "[%s]\r\n指定したインストール先に十分なディスク容量がありません\r\n(現在:%lldBYTE、必要量:%lldBYTE)\r\n"
    "インストール先を検討した上で再度実行してください。";

}  // namespace

int CheckFreeDiskSpace(const char* path) {
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExA(path, &available, &total, &totalFree))
        return TOOL_FAIL("ディスク容量の取得に失敗しました。");
    if (available.QuadPart >= kRequiredFreeBytes) {
        LOG_INFO("ディスク容量充足しています。");
        return 1;
    }
    LOG_ERROR_F(kShortEntry, (long long)available.QuadPart, (long long)kRequiredFreeBytes);
    DeleteInstallMarkers();
    char message[kMessageSize];
    snprintf(message, sizeof message, kShortBox, path, (long long)available.QuadPart, (long long)kRequiredFreeBytes);
    MessageBoxA(NULL, message, "Setup", MB_TOPMOST | MB_ICONERROR);
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    return CheckFreeDiskSpace(g_targetPath);
}
