// The tool frame: what every installer tool shares. The product folder and
// "Install.log", the registry reads, the run frame's start-up steps, the
// command-line readers, the failure exit with its box and the clean-up of
// the installer engine's marker files.
#pragma once

#include "platform/win32.h"

// Process-wide strings, each MAX_PATH bytes, cleared by RunToolFrame.
extern char g_modulePath[MAX_PATH];
extern char g_productFolder[MAX_PATH];
extern char g_targetPath[MAX_PATH];

// Log levels.
extern const char kLevelInfo[];     // "情報"
extern const char kLevelWarning[];  // "警告": the entry also records GetLastError()
extern const char kLevelError[];    // "エラー"

// The product's uninstall key under HKEY_LOCAL_MACHINE.
extern const char kUninstallKey[];

// Reads one string value of at most MAX_PATH bytes (terminator included)
// into `buffer` (MAX_PATH bytes). Returns 0 or the Win32 error code of the
// first registry call that failed.
DWORD ReadRegistryValue(const char* keyPath, const char* valueName, char* buffer);
DWORD ReadUninstallValue(const char* valueName, char* buffer);
DWORD ReadInstallLocation(char* buffer);

// Sets g_productFolder to the install location followed by "\Nimbrel".
// Returns 1 when it has been set, 0 (after a warning entry) when not.
int GetInstallLogPath(void);

// Appends one entry to "<product folder>\Install.log" and pauses 100 ms.
// Never reports a failure.
void WriteInstallLog(const char* level, const char* text, int line);
// Same, with the text formatted like printf into a 1024-byte buffer.
void WriteInstallLogF(const char* level, int line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
// Tools whose writer first reads the current folder (and writes nothing when
// that read fails) call this once before anything is logged.
void RequireCurrentDirectoryForLog(void);

#define LOG_INFO(text) WriteInstallLog(kLevelInfo, (text), __LINE__)
#define LOG_WARNING(text) WriteInstallLog(kLevelWarning, (text), __LINE__)
#define LOG_ERROR(text) WriteInstallLog(kLevelError, (text), __LINE__)
#define LOG_INFO_F(...) WriteInstallLogF(kLevelInfo, __LINE__, __VA_ARGS__)
#define LOG_WARNING_F(...) WriteInstallLogF(kLevelWarning, __LINE__, __VA_ARGS__)
#define LOG_ERROR_F(...) WriteInstallLogF(kLevelError, __LINE__, __VA_ARGS__)

// Copies the double-quoted arguments of the command line into `count` slots
// of MAX_PATH bytes, scanning at most `scanLimit` bytes. Text outside quotes
// is dropped; there is no escape. Returns 1 when every argument fit its slot,
// 0 when one had to be cut (the tools' own limits make that impossible).
int ParseQuotedArguments(const char* commandLine, size_t scanLimit, char (*slots)[MAX_PATH], int count);

// Splits `"source" "destination"` into two slots of MAX_PATH bytes.
void SplitQuotedPair(const char* commandLine, char* first, char* second);

// Deletes the installer engine's four marker files in the product folder,
// each with up to 100 attempts a second apart. Does nothing while the
// product folder is unknown.
void DeleteInstallMarkers(void);

// The failure exit: a "警告" entry with the text, the marker clean-up, the
// failure box; returns exit code 0.
int FailureExit(const char* text, int line);
// The failure exit entered at its second step, after the tool's own entry.
int FailureExitAfterEntry(void);
// The failure box alone.
void ShowFailureBox(void);

#define TOOL_FAIL(text) FailureExit((text), __LINE__)

// Makes a file writable before it is replaced or deleted: clears its
// read-only bit, keeping its other attributes. A file that does not exist
// needs nothing. A failed attribute read writes "ファイルの属性の取得に失敗しました(%s)",
// a failed change the tool's own text (a format with the path); either then
// takes the failure exit from its second step. Returns 1 to go on, 0 after
// the failure exit.
int ClearReadOnlyAttribute(const char* path, const char* clearFailureFormat);

// The run frame's start-up steps that differ from tool to tool.
struct ToolFrame {
    int requireCommandLine;   // step 3: the command line must not be empty
    int (*preconditions)(void);  // step 5: returns 0 after taking the failure exit
    int logStart;             // step 6: "処理開始"
    int copyTargetPath;       // step 7: the command line becomes the target path
};

// The frame steps every tool takes: clear the process-wide strings, find the
// product folder, check the command line, read the module path, the tool's
// preconditions, "処理開始", and the target path with its entry. Returns 1 to
// go on with the tool's own work, or 0 after the failure exit has run.
int RunToolFrame(const char* commandLine, const ToolFrame* frame);

// Refuses a command line of `length` bytes that is longer than `limit`
// through the failure exit. Returns 1 when it fits.
int CheckCommandLineLength(size_t length, size_t limit, int line);

// Start-up information for a helper process whose window is hidden:
// cleared, its size set, STARTF_USESHOWWINDOW with SW_HIDE.
void PrepareHiddenStart(STARTUPINFOA* startup);

// The standard frames.
extern const ToolFrame kWholeLineTool;  // steps 1-4, 6, 7
