#include <windows.h>

#include "platform/file.h"

static_assert(sizeof(plat::SystemTime) == sizeof(SYSTEMTIME));

namespace plat {
namespace {

HANDLE Native(FileHandle handle) { return static_cast<HANDLE>(handle); }

FILETIME ToNative(FileTime t) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(t);
    f.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return f;
}

FileTime FromNative(const FILETIME& f) { return static_cast<FileTime>(f.dwHighDateTime) << 32 | f.dwLowDateTime; }

}  // namespace

FileHandle CreateFileHandle(const char* path, uint32_t access, uint32_t share, uint32_t disposition) {
    return ::CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool CloseFileHandle(FileHandle handle) { return ::CloseHandle(Native(handle)) != FALSE; }

bool ReadFileData(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(Native(handle), buffer, count, &n, nullptr);
    *done = ok ? n : 0;
    return ok != FALSE;
}

bool WriteFileData(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(Native(handle), buffer, count, &n, nullptr);
    *done = ok ? n : 0;
    return ok != FALSE;
}

uint32_t GetFileSizeLow(FileHandle handle) { return ::GetFileSize(Native(handle), nullptr); }

uint32_t SetFilePointer(FileHandle handle, int32_t distance, uint32_t origin) {
    return ::SetFilePointer(Native(handle), distance, nullptr, origin);
}

bool SetEndOfFile(FileHandle handle) { return ::SetEndOfFile(Native(handle)) != FALSE; }

bool DuplicateFileHandle(FileHandle source, FileHandle* target, uint32_t access, bool inheritable, bool same_access) {
    HANDLE process = ::GetCurrentProcess();
    HANDLE out = INVALID_HANDLE_VALUE;
    const BOOL ok = ::DuplicateHandle(process, Native(source), process, &out, same_access ? 0 : access,
                                      inheritable ? TRUE : FALSE, same_access ? DUPLICATE_SAME_ACCESS : 0);
    *target = ok ? out : InvalidFileHandle();
    return ok != FALSE;
}

bool GetFileTimes(FileHandle handle, FileTime* creation, FileTime* access, FileTime* write) {
    FILETIME c, a, w;
    if (!::GetFileTime(Native(handle), &c, &a, &w)) return false;
    if (creation != nullptr) *creation = FromNative(c);
    if (access != nullptr) *access = FromNative(a);
    if (write != nullptr) *write = FromNative(w);
    return true;
}

bool SetFileTimes(FileHandle handle, const FileTime* creation, const FileTime* access, const FileTime* write) {
    FILETIME c, a, w;
    if (creation != nullptr) c = ToNative(*creation);
    if (access != nullptr) a = ToNative(*access);
    if (write != nullptr) w = ToNative(*write);
    return ::SetFileTime(Native(handle), creation != nullptr ? &c : nullptr, access != nullptr ? &a : nullptr,
                         write != nullptr ? &w : nullptr) != FALSE;
}

bool FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) {
    const FILETIME in = ToNative(*utc);
    FILETIME out;
    if (!::FileTimeToLocalFileTime(&in, &out)) return false;
    *local = FromNative(out);
    return true;
}

bool LocalFileTimeToFileTime(const FileTime* local, FileTime* utc) {
    const FILETIME in = ToNative(*local);
    FILETIME out;
    if (!::LocalFileTimeToFileTime(&in, &out)) return false;
    *utc = FromNative(out);
    return true;
}

bool FileTimeToSystemTime(const FileTime* time, SystemTime* split) {
    const FILETIME in = ToNative(*time);
    return ::FileTimeToSystemTime(&in, reinterpret_cast<SYSTEMTIME*>(split)) != FALSE;
}

bool SystemTimeToFileTime(const SystemTime* split, FileTime* time) {
    FILETIME out;
    if (!::SystemTimeToFileTime(reinterpret_cast<const SYSTEMTIME*>(split), &out)) return false;
    *time = FromNative(out);
    return true;
}

uint32_t FullPathName(const char* path, uint32_t buffer_size, char* buffer, char** file_part) {
    return ::GetFullPathNameA(path, buffer_size, buffer, file_part);
}

char PathSeparator() { return '\\'; }
bool DeleteFilePath(const char* path) { return ::DeleteFileA(path) != FALSE; }
bool CreateDirectoryPath(const char* path) { return ::CreateDirectoryA(path, nullptr) != FALSE; }
bool RemoveDirectoryPath(const char* path) { return ::RemoveDirectoryA(path) != FALSE; }
uint32_t GetTempDirectory(uint32_t buffer_size, char* buffer) { return ::GetTempPathA(buffer_size, buffer); }

}  // namespace plat
