// AclWiden: on an NTFS volume, gives every access-allowed entry of a
// folder's DACL full file access (FILE_ALL_ACCESS). Entries of other types,
// the entries' flags and trustees and their order stay as they were. Network
// paths are refused; folders on other file systems are left alone.
#include <cstring>

#include "common/frame.h"

namespace {

const DWORD kDescriptorSize = 1024;
const DWORD kFileSystemNameSize = 32;
const ACCESS_MASK kFullFileAccess = 0x1F01FF;  // FILE_ALL_ACCESS

// The volume root of a path: its bytes up to and including the first
// backslash, looking at all but the path's last byte. The second byte of a
// double-byte character is never taken for a backslash.
void GetVolumeRoot(const char* path, char* root) {
    memset(root, 0, MAX_PATH);
    size_t length = strlen(path);
    for (size_t i = 0; i + 1 < length; ++i) {
        root[i] = path[i];
        if (IsDBCSLeadByte((BYTE)path[i]) && i + 2 < length) {
            ++i;
            root[i] = path[i];
            continue;
        }
        if (path[i] == '\\') break;
    }
}

// Sets the mask of every access-allowed entry of the list to full access.
void WidenAllowedEntries(PACL dacl, const char* path) {
    ACL_SIZE_INFORMATION sizeInfo;
    if (!GetAclInformation(dacl, &sizeInfo, sizeof sizeInfo, AclSizeInformation)) {
        LOG_WARNING_F("ACLリストの取得に失敗しました。(%s)", path);
        return;
    }
    for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
        LPVOID ace;
        if (!GetAce(dacl, i, &ace)) continue;
        ACE_HEADER* header = (ACE_HEADER*)ace;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) ((ACCESS_ALLOWED_ACE*)ace)->Mask = kFullFileAccess;
    }
}

// Reads the folder's DACL into a 1024-byte block, widens it and writes it
// back. Every failure here is a warning; the folder keeps its rights.
void WidenFolderAccess(const char* path) {
    PSECURITY_DESCRIPTOR descriptor = (PSECURITY_DESCRIPTOR)GlobalAlloc(GMEM_FIXED, kDescriptorSize);
    DWORD needed = 0;
    if (!descriptor ||
        !GetFileSecurityA(path, DACL_SECURITY_INFORMATION, descriptor, kDescriptorSize, &needed)) {
        LOG_WARNING_F("セキュリティ情報の取得に失敗しました(%s)", path);
        if (descriptor) GlobalFree(descriptor);
        return;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        LOG_WARNING_F("随意ACLリストの取得に失敗しました。(%s)", path);
    } else if (present != TRUE) {
        LOG_WARNING_F("随意リストの中身がありませんでした。(%s)", path);
    } else if (dacl == NULL) {
        // A null DACL has no list to walk: it already lets everyone do
        // everything, so there is nothing to widen and nothing is written.
        LOG_WARNING_F("随意ACLがNULLのため変更しません。(%s)", path);
    } else {
        WidenAllowedEntries(dacl, path);
        if (!SetFileSecurityA(path, DACL_SECURITY_INFORMATION, descriptor))
            LOG_WARNING_F("セキュリティ情報の設定に失敗しました。(%s)", path);
    }
    GlobalFree(descriptor);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    if (!RunToolFrame(lpCmdLine, &kWholeLineTool)) return 0;
    const char* path = g_targetPath;
    if (path[0] == '\\') return TOOL_FAIL("ネットワークパスには対応していません。");

    char root[MAX_PATH];
    GetVolumeRoot(path, root);
    char fileSystem[kFileSystemNameSize] = "";
    DWORD maxComponent = 0, flags = 0;
    if (!GetVolumeInformationA(root, NULL, 0, NULL, &maxComponent, &flags, fileSystem, kFileSystemNameSize))
        return TOOL_FAIL("ファイルシステム情報の取得に失敗しました。");
    LOG_INFO_F("ファイルシステム(%s)", fileSystem);
    if (strcmp(fileSystem, "NTFS") == 0) WidenFolderAccess(path);
    LOG_INFO("フォルダアクセス権処理終了");
    return 1;
}
