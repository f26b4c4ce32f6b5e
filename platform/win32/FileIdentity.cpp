// CreateFileA, GetFileInformationByHandle and CloseHandle over POSIX, for what a file is
// rather than what it holds: a handle is an open descriptor, the volume serial number
// stands for the device and the file index for the inode, so two paths that lead to one
// file or directory (through links) give the same identity, as on NTFS.
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

struct FileHandle {
    int descriptor;
};

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
    // Only opening what exists is supported; nothing here creates or writes files.
    if (!fileName || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Non-blocking, so that a FIFO in the way cannot hold the program up; it is refused below.
    int descriptor = open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    // Windows opens a directory only when asked for backup semantics.
    if (fstat(descriptor, &info) != 0 || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ||
        (S_ISDIR(info.st_mode) && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))) {
        close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return new FileHandle{descriptor};
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    struct stat info;
    if (!file || file == INVALID_HANDLE_VALUE || !information ||
        fstat(static_cast<FileHandle*>(file)->descriptor, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    auto device = static_cast<uint64_t>(info.st_dev);
    auto inode = static_cast<uint64_t>(info.st_ino);
    auto size = static_cast<uint64_t>(info.st_size);
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    information->nFileIndexLow = static_cast<DWORD>(inode);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (!object || object == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* file = static_cast<FileHandle*>(object);
    close(file->descriptor);
    delete file;
    return TRUE;
}
