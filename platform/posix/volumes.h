// Volumes: free space and file-system information per drive (POSIX build).
#pragma once
#include "base.h"

#define ERROR_BAD_LENGTH 24L
#define ERROR_DIR_NOT_ROOT 144L

#define FILE_CASE_SENSITIVE_SEARCH 0x00000001u
#define FILE_CASE_PRESERVED_NAMES 0x00000002u
#define FILE_UNICODE_ON_DISK 0x00000004u
#define FILE_PERSISTENT_ACLS 0x00000008u

// Free space of the volume that holds the folder `lpDirectoryName` (any
// folder of the volume). Each output may be NULL.
BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);

// Label, serial number, limits and file-system name of the volume whose
// root folder is `lpRootPathName` ("C:\"). Each output may be NULL.
BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize);
