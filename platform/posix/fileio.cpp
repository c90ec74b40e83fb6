// File handles on the emulated machine: a handle holds an open host file
// descriptor and the access it was opened for.
#include "fileio.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "machine.h"

namespace {

// Files and pipes alike are open host descriptors.
using FileObject = w32::HostFd;

FileObject* file_of(HANDLE h) {
    FileObject* f = w32::object_as<FileObject>(h);
    if (!f) w32::fail(ERROR_INVALID_HANDLE);
    return f;
}

// The file behind a handle for a read or write: clears the count of bytes
// moved and fails as Windows does when the call cannot go ahead.
FileObject* file_for_transfer(HANDLE h, LPDWORD count, LPOVERLAPPED overlapped, bool write) {
    if (count) *count = 0;
    if (overlapped) {
        w32::fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    FileObject* f = file_of(h);
    if (f && !(write ? f->writable : f->readable)) {
        w32::fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return f;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        w32::fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    w32::Resolved r = w32::resolve_path(lpFileName);
    if (r.error) {
        w32::fail(r.error);
        return INVALID_HANDLE_VALUE;
    }
    bool wantWrite = (dwDesiredAccess & GENERIC_WRITE) != 0;
    bool truncates = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    struct stat st;
    bool exists = stat(r.host.c_str(), &st) == 0;
    if (exists) {
        DWORD err = 0;
        DWORD attrs = w32::host_attributes(r.host, &err);
        // Folders are not opened as files; read-only files refuse writing;
        // replacing a hidden or system file needs those attributes asked for.
        if (S_ISDIR(st.st_mode) || ((attrs & FILE_ATTRIBUTE_READONLY) && (wantWrite || truncates)) ||
            (dwCreationDisposition == CREATE_ALWAYS &&
             (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~dwFlagsAndAttributes))) {
            w32::fail(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (dwCreationDisposition == CREATE_NEW) {
            w32::fail(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
    } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
        w32::fail(w32::missing_code(r));
        return INVALID_HANDLE_VALUE;
    } else if (!r.parent_exists) {
        w32::fail(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool wantRead = (dwDesiredAccess & GENERIC_READ) != 0;
    int flags = O_CLOEXEC | (wantRead && wantWrite ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY);
    if (!exists) flags |= O_CREAT;
    if (truncates && exists) flags |= O_TRUNC;
    // O_TRUNC needs write access on the host even for a read-only handle.
    if ((flags & O_TRUNC) && !wantWrite) flags = (flags & ~O_RDONLY) | O_RDWR;
    int fd = open(r.host.c_str(), flags, 0644);
    if (fd < 0) {
        w32::fail(w32::error_from_errno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (!exists) {
        DWORD attrs = dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        w32::set_host_attributes(r.host, attrs | FILE_ATTRIBUTE_ARCHIVE);
    }
    auto* f = new FileObject(fd, lpSecurityAttributes && lpSecurityAttributes->bInheritHandle);
    f->readable = wantRead;
    f->writable = wantWrite;
    // Replacing or opening-always an existing file succeeds with this code.
    w32::fail(exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
                  ? ERROR_ALREADY_EXISTS
                  : ERROR_SUCCESS);
    return w32::new_handle(f);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    FileObject* f = file_for_transfer(hFile, lpNumberOfBytesRead, lpOverlapped, false);
    if (!f) return FALSE;
    if (nNumberOfBytesToRead == 0) return TRUE;
    ssize_t n;
    do n = read(f->fd, lpBuffer, nNumberOfBytesToRead);
    while (n < 0 && errno == EINTR);
    if (n < 0) return w32::fail(w32::error_from_errno(errno));
    struct stat st;
    // A pipe whose writers have all gone and that holds nothing more.
    if (n == 0 && fstat(f->fd, &st) == 0 && S_ISFIFO(st.st_mode)) return w32::fail(ERROR_BROKEN_PIPE);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = (DWORD)n;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    FileObject* f = file_for_transfer(hFile, lpNumberOfBytesWritten, lpOverlapped, true);
    if (!f) return FALSE;
    signal(SIGPIPE, SIG_IGN);  // a pipe without reader is an error code, not the end of the process
    const char* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = write(f->fd, p + done, nNumberOfBytesToWrite - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
            return w32::fail(errno == EPIPE ? ERROR_NO_DATA : w32::error_from_errno(errno));
        }
        done += (DWORD)n;
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    FileObject* f = file_of(hFile);
    struct stat st;
    if (!f || fstat(f->fd, &st) != 0) {
        if (f) w32::fail(w32::error_from_errno(errno));
        return INVALID_FILE_SIZE;
    }
    unsigned long long size = (unsigned long long)st.st_size;
    if (lpFileSizeHigh) *lpFileSizeHigh = (DWORD)(size >> 32);
    w32::fail(ERROR_SUCCESS);
    return (DWORD)size;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    FileObject* f = file_of(hFile);
    if (!f) return INVALID_SET_FILE_POINTER;
    long long distance = lpDistanceToMoveHigh ? ((long long)*lpDistanceToMoveHigh << 32) | (DWORD)lDistanceToMove
                                              : (long long)lDistanceToMove;
    int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    if (dwMoveMethod > FILE_END) {
        w32::fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t at = lseek(f->fd, (off_t)distance, whence);
    if (at < 0) {
        // A position before the start of the file.
        w32::fail(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = (LONG)((unsigned long long)at >> 32);
    w32::fail(ERROR_SUCCESS);
    return (DWORD)at;
}
