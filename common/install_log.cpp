// The product folder, the registry reads and "Install.log".
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/frame.h"

char g_modulePath[MAX_PATH];
char g_productFolder[MAX_PATH];
char g_targetPath[MAX_PATH];

const char kLevelInfo[] = "情報";
const char kLevelWarning[] = "警告";
const char kLevelError[] = "エラー";

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Nimbrel";

namespace {

// The longest name the tools put below the product folder.
const char kLongestProductFile[] = "\\InstComplete.txt";

int g_logNeedsCurrentDirectory = 0;

}  // namespace

DWORD ReadRegistryValue(const char* keyPath, const char* valueName, char* buffer) {
    HKEY key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) return (DWORD)rc;
    DWORD size = MAX_PATH;
    rc = RegQueryValueExA(key, valueName, NULL, NULL, (LPBYTE)buffer, &size);
    if (rc != ERROR_SUCCESS) {
        RegCloseKey(key);
        return (DWORD)rc;
    }
    rc = RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return (DWORD)rc;
    // A value stored without its terminator is terminated here; one that
    // fills the whole buffer without a terminator does not fit.
    if (size == 0 || buffer[size - 1] != '\0') {
        if (size >= MAX_PATH) {
            buffer[0] = '\0';
            return ERROR_MORE_DATA;
        }
        buffer[size] = '\0';
    }
    return 0;
}

DWORD ReadUninstallValue(const char* valueName, char* buffer) {
    return ReadRegistryValue(kUninstallKey, valueName, buffer);
}

DWORD ReadInstallLocation(char* buffer) { return ReadUninstallValue("InstallLocation", buffer); }

int GetInstallLogPath(void) {
    char location[MAX_PATH] = {0};
    DWORD code = ReadInstallLocation(location);
    if (code != 0) {
        LOG_WARNING_F("インストールパスの取得に失敗しました。(%d)", (int)code);
        return 0;
    }
    // The product folder must leave room for the names the tools put in it;
    // a longer location is refused instead of being cut.
    if (strlen(location) + strlen("\\Nimbrel") + strlen(kLongestProductFile) >= MAX_PATH) {
        LOG_WARNING_F("インストールパスが長すぎます。(%s)", location);
        return 0;
    }
    snprintf(g_productFolder, MAX_PATH, "%s\\Nimbrel", location);
    return 1;
}

void RequireCurrentDirectoryForLog(void) { g_logNeedsCurrentDirectory = 1; }

void WriteInstallLog(const char* level, const char* text, int line) {
    int warning = strcmp(level, kLevelWarning) == 0;
    DWORD lastError = warning ? GetLastError() : 0;
    if (g_logNeedsCurrentDirectory) {
        char current[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(MAX_PATH, current);
        if (n == 0 || n >= MAX_PATH) return;
    }

    char logPath[MAX_PATH] = {0};
    snprintf(logPath, MAX_PATH, "%s\\Install.log", g_productFolder);

    SYSTEMTIME now;
    GetLocalTime(&now);
    char section[16];
    char key[32];
    snprintf(section, sizeof section, "%04d/%02d/%02d", now.wYear, now.wMonth, now.wDay);
    snprintf(key, sizeof key, "%02d:%02d:%02d.%03d", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);

    // The usual allowance leaves room for a full module path, a four-digit
    // line and a five-digit error code; a value that needs more gets more,
    // so an entry is always written whole.
    size_t allowance = strlen(level) + strlen(text) + (warning ? 281 : 274);
    int needed = warning ? snprintf(NULL, 0, "[%s]%s(line:%4d)%s(%d)", level, g_modulePath, line, text, (int)lastError)
                         : snprintf(NULL, 0, "[%s]%s(line:%4d)%s", level, g_modulePath, line, text);
    if (needed < 0) return;
    size_t size = (size_t)needed + 1 > allowance ? (size_t)needed + 1 : allowance;
    char* value = (char*)calloc(size, 1);
    if (!value) return;  // no memory for the entry: it is dropped
    if (warning)
        snprintf(value, size, "[%s]%s(line:%4d)%s(%d)", level, g_modulePath, line, text, (int)lastError);
    else
        snprintf(value, size, "[%s]%s(line:%4d)%s", level, g_modulePath, line, text);

    WritePrivateProfileStringA(section, key, value, logPath);
    Sleep(100);
    WritePrivateProfileStringA(NULL, NULL, NULL, logPath);
    free(value);
}

void WriteInstallLogF(const char* level, int line, const char* format, ...) {
    // Read before anything else can change it, and hand it on to the entry.
    DWORD lastError = GetLastError();
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    SetLastError(lastError);
    WriteInstallLog(level, message, line);
}
