// PruneTree: removes a folder with everything in it, depth first. Read-only
// files are made writable first; every deletion is retried while another
// program still holds what it deletes. A folder that is not there counts as
// removed.
#include <cstdio>
#include <cstring>

#include "common/frame.h"

namespace {

const int kRemoveAttempts = 100;
const DWORD kRetryPauseMs = 1000;

enum EntryKind { kFile, kFolder };

// Forms "<folder>\<name>" in a MAX_PATH buffer. A path that does not fit is
// refused rather than cut: warning, marker clean-up, box; returns 0.
int FormEntryPath(char* out, const char* folder, const char* name) {
    if (strlen(folder) + 1 + strlen(name) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        LOG_WARNING_F("パスが長すぎます。(%s\\%s)", folder, name);
        return FailureExitAfterEntry();
    }
    snprintf(out, MAX_PATH, "%s\\%s", folder, name);
    return 1;
}

int IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Deletes a file or removes an empty folder (or a link) with up to 100
// attempts, one entry and a pause of a second after each failed one.
// Something that another program removed meanwhile is gone, which is all
// this tool wants: it counts as removed instead of failing 100 times.
int RemoveWithRetry(const char* path, EntryKind kind) {
    for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
        if (kind == kFolder ? RemoveDirectoryA(path) : DeleteFileA(path)) return 1;
        if (IsGone(GetLastError())) {
            if (kind == kFolder)
                LOG_INFO_F("フォルダは見つかりませんでした。(%s)", path);
            else
                LOG_INFO_F("ファイルは存在しませんでした。(%s)", path);
            return 1;
        }
        if (kind == kFolder)
            LOG_INFO_F("フォルダの削除に失敗しました(%s)", path);
        else
            LOG_INFO_F("ファイルの削除に失敗したためリトライします。(%s))", path);
        Sleep(kRetryPauseMs);
    }
    return 0;
}

// Deletes one file of the tree, clearing its read-only bit first.
int DeleteTreeFile(const char* path) {
    if (!ClearReadOnlyAttribute(path, "読み取り属性設定に失敗しました(%s)")) return 0;
    if (RemoveWithRetry(path, kFile)) return 1;
    LOG_WARNING_F("ファイルの削除に失敗しました(%s))", path);
    return FailureExitAfterEntry();
}

// Whether a listed entry is a link to a folder (a junction or a directory
// symbolic link).
int IsFolderLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

int EmptyFolderTree(const char* path);

// Removes one entry of a folder: a subfolder with its content, a file, or a
// link. A link to a folder is removed as the link and never emptied through
// it, so nothing outside the named folder is touched.
int RemoveFolderEntry(const char* folder, const WIN32_FIND_DATAA* entry) {
    char path[MAX_PATH];
    if (!FormEntryPath(path, folder, entry->cFileName)) return 0;
    if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteTreeFile(path);
    if (!IsFolderLink(entry->dwFileAttributes) && !EmptyFolderTree(path)) return 0;
    if (RemoveWithRetry(path, kFolder)) return 1;
    LOG_WARNING_F("フォルダの削除に失敗しました(%s)", path);
    return FailureExitAfterEntry();
}

// Removes everything below `path`, leaving the folder itself. Returns 1, or
// 0 after the failure has been reported (warning, marker clean-up, box).
int EmptyFolderTree(const char* path) {
    char pattern[MAX_PATH];
    if (!FormEntryPath(pattern, path, "*.*")) return 0;
    WIN32_FIND_DATAA entry;
    memset(&entry, 0, sizeof entry);
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) {
        LOG_WARNING_F("フォルダ内の検索に失敗しました(%s)", path);
        return FailureExitAfterEntry();
    }
    int removed = 1;
    do {
        if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0)
            removed = RemoveFolderEntry(path, &entry);
        memset(&entry, 0, sizeof entry);
    } while (removed && FindNextFileA(find, &entry));
    FindClose(find);
    return removed;
}

// Removes the named folder with its content. Returns the exit code.
int RemoveFolderTree(const char* path) {
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof found);
    HANDLE find = FindFirstFileA(path, &found);
    if (find == INVALID_HANDLE_VALUE) {
        LOG_INFO_F("フォルダは見つかりませんでした。(%s)", path);
        LOG_INFO("フォルダ削除に成功しました。");
        return 1;
    }
    FindClose(find);
    // A named folder that is itself a link is removed as the link.
    if (!IsFolderLink(found.dwFileAttributes) && !EmptyFolderTree(path)) {
        LOG_WARNING("再帰フォルダコピーに失敗しました。");
        return 0;
    }
    if (RemoveWithRetry(path, kFolder)) {
        LOG_INFO("フォルダ削除に成功しました。");
        return 1;
    }
    LOG_WARNING_F("フォルダの削除に失敗しました(%s)", path);
    return FailureExitAfterEntry();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    return RemoveFolderTree(g_targetPath);
}
