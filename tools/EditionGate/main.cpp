// EditionGate: the version gate of an update. Compare mode reads the
// installed system's version file and the package's and deletes the
// package's file when the package is not newer; write mode writes a version
// file. The exit code is 1 in every mode.
//
// Command line: three double-quoted arguments, MODE_ARG VER_FILE_NAME
// INSTALL_VER_FILE_NAME:
//   "-r" "<current version file>" "<package version file>"   compare mode
//   "-w" "<version file to write>" "<f1> <f2> <f3> <f4> <f5>" write mode
// anything else in MODE_ARG is logged and does nothing.
//
// Version files are read and written through Win32 file handles rather than
// the C library's streams: the paths are Windows paths, which the C library
// of the POSIX build does not know, and a handle behaves the same on both
// builds. A handle has no text mode, so the line end is written as CR LF
// explicitly and CR is read as the white space it is; a CTRL+Z ends the text
// as it does for a file read in text mode.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const DWORD kVersionFileLimit = 64;  // a version file holds fewer bytes
const int kFieldCount = 5;
const int kComparedFields = 4;
const size_t kWordSize = 64;
const size_t kScanLimit = MAX_PATH;
const char kTextEnd = 0x1A;  // CTRL+Z

enum { kModeArg, kVerFileName, kInstallVerFileName, kSlotCount };
char g_arguments[kSlotCount][MAX_PATH];

// No "処理開始" and no target path: the arguments are parsed instead.
const ToolFrame kEditionGateFrame = {1, NULL, 0, 0};

// An open version file and the position of the reader in its text.
struct VersionFile {
    HANDLE handle;
    char text[kVersionFileLimit];
    DWORD length;
    DWORD at;
};

int IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The open routine. Mode "r" opens an existing file for reading, "w+"
// creates or empties one for reading and writing. A file of 64 bytes or
// more is refused. Returns 1 when the file is open.
int OpenVersionFile(const char* path, const char* mode, VersionFile* file) {
    memset(file, 0, sizeof *file);
    int forWriting = strcmp(mode, "w+") == 0;
    file->handle = CreateFileA(path, forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, forWriting ? CREATE_ALWAYS : OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    LOG_INFO_F("Open file name is %s", path);
    if (file->handle != INVALID_HANDLE_VALUE) {
        DWORD size = SetFilePointer(file->handle, 0, NULL, FILE_END);
        SetFilePointer(file->handle, 0, NULL, FILE_BEGIN);
        if (size >= kVersionFileLimit) {
            LOG_WARNING("***FileSize Error***");
            CloseHandle(file->handle);
            file->handle = INVALID_HANDLE_VALUE;
        }
    }
    if (file->handle == INVALID_HANDLE_VALUE) {
        LOG_INFO("***FileOpen Failed***");
        return 0;
    }
    return 1;
}

void CloseVersionFile(VersionFile* file) {
    if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}

// Reads the next white-space-separated word into `word` (kWordSize bytes).
// Returns 0, leaving `word` as it was, when there is none.
int ReadWord(VersionFile* file, char* word) {
    while (file->at < file->length && IsBlank(file->text[file->at])) ++file->at;
    if (file->at >= file->length) return 0;
    size_t n = 0;
    while (file->at < file->length && !IsBlank(file->text[file->at]) && n < kWordSize - 1)
        word[n++] = file->text[file->at++];
    word[n] = '\0';
    return 1;
}

// A field's value: an optional sign and the leading decimal digits; the
// rest of the word is ignored. Values beyond the 32-bit range stop at its
// ends instead of overflowing.
int ConvertField(const char* word) {
    const char* p = word;
    int negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return (int)value;
}

// The reader: "VERSION=" and five fields. A missing field repeats the word
// read before it. Returns 0 after a warning when the file's format is wrong.
int ReadVersionFile(VersionFile* file, int* fields) {
    DWORD read = 0;
    if (!ReadFile(file->handle, file->text, kVersionFileLimit - 1, &read, NULL)) read = 0;
    const char* end = (const char*)memchr(file->text, kTextEnd, read);
    file->length = end ? (DWORD)(end - file->text) : read;
    file->at = 0;
    char word[kWordSize] = "";
    if (!ReadWord(file, word) || strcmp(word, "VERSION=") != 0) {
        LOG_WARNING("***File Format Error***");
        return 0;
    }
    for (int i = 0; i < kFieldCount; ++i) {
        ReadWord(file, word);
        fields[i] = ConvertField(word);
    }
    return 1;
}

// The package is newer when, at the first of the first four fields where the
// versions differ, the current field is the smaller.
int IsNewerVersion(const int* current, const int* package) {
    for (int i = 0; i < kComparedFields; ++i)
        if (current[i] != package[i]) return current[i] < package[i];
    return 0;
}

int CompareMode(void) {
    const char* currentPath = g_arguments[kVerFileName];
    const char* packagePath = g_arguments[kInstallVerFileName];
    LOG_INFO("***NORMAL(COMP) MODE***");
    int current[kFieldCount], package[kFieldCount];
    VersionFile currentFile, packageFile;
    int haveCurrent = 0, havePackage = 0;
    if (!OpenVersionFile(currentPath, "r", &currentFile))
        LOG_INFO("***Now File Open Failed***");
    else if (!ReadVersionFile(&currentFile, current))
        LOG_INFO("***Now File Format Error***");
    else
        haveCurrent = 1;
    if (!OpenVersionFile(packagePath, "r", &packageFile))
        LOG_INFO("***New File Open Error***");
    else if (!ReadVersionFile(&packageFile, package))
        LOG_INFO("***New File Format Error***");
    else
        havePackage = 1;

    int newer = 0;
    if (havePackage && haveCurrent) {
        LOG_INFO_F("現状Ver：%d.%d.%d.%d.%d インストールVer：%d.%d.%d.%d.%d", current[0], current[1], current[2],
                   current[3], current[4], package[0], package[1], package[2], package[3], package[4]);
        newer = IsNewerVersion(current, package);
    } else if (havePackage) {
        newer = 1;
    }
    CloseVersionFile(&currentFile);
    CloseVersionFile(&packageFile);
    if (newer) return 1;

    LOG_INFO("同バージョンもしくは旧バージョンなのでシステムは更新しない。");
    if (DeleteFileA(packagePath))
        LOG_INFO_F("ファイルの削除に成功しました。(%s)", packagePath);
    else
        LOG_WARNING_F("ファイルの削除に失敗しました。(%s)", packagePath);
    DeleteFileA(packagePath);  // a second attempt, neither logged nor examined
    return 1;
}

// Write mode takes its seven words from the three arguments: the mode, the
// path (one word however many blanks it holds, since it is quoted) and the
// first five white-space-separated words of the third argument. Missing
// field words are written empty, so that the file reads them as repeats of
// the field before.
int WriteMode(void) {
    LOG_INFO("***WRITE MODE***");
    const char* path = g_arguments[kVerFileName];
    char fieldWords[kFieldCount][MAX_PATH];
    memset(fieldWords, 0, sizeof fieldWords);
    const char* p = g_arguments[kInstallVerFileName];
    for (int i = 0; i < kFieldCount; ++i) {
        while (*p && IsBlank(*p)) ++p;
        size_t n = 0;
        while (*p && !IsBlank(*p)) fieldWords[i][n++] = *p++;
    }

    VersionFile file;
    if (!OpenVersionFile(path, "w+", &file)) {
        LOG_WARNING("***Write FileOpen Error***");
        return 1;
    }
    char text[16 + kFieldCount * MAX_PATH];
    int length = snprintf(text, sizeof text, "VERSION= ");
    for (int i = 0; i < kFieldCount; ++i)
        length += snprintf(text + length, sizeof text - length, "%s ", fieldWords[i]);
    length += snprintf(text + length, sizeof text - length, "\r\n");
    DWORD written;
    WriteFile(file.handle, text, (DWORD)length, &written, NULL);
    CloseVersionFile(&file);
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kEditionGateFrame)) return 0;
    ParseQuotedArguments(lpCmdLine, kScanLimit, g_arguments, kSlotCount);
    const char* mode = g_arguments[kModeArg];
    if (strcmp(mode, "-r") == 0) return CompareMode();
    if (strcmp(mode, "-w") == 0) return WriteMode();
    LOG_INFO_F("***OTHER MODE***(MODE_ARG=%s,VER_FILE_NAME=%s,INSTALL_VER_FILE_NAME=%s)", mode,
               g_arguments[kVerFileName], g_arguments[kInstallVerFileName]);
    return 1;
}
