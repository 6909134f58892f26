// Files, directories and file times, in Win32 terms: CreateFile with an
// access mask, share flags and a create disposition; SetFilePointer results;
// FILETIME (UTC, 100 ns since 1601) and SYSTEMTIME with the local-time
// conversions; GetFullPathName. The names differ from the Win32 functions
// only where those are macros in the Windows headers.
#pragma once

#include <cstdint>

namespace plat {

// A Win32 HANDLE; a POSIX descriptor on other systems.
using FileHandle = void*;
inline FileHandle InvalidFileHandle() { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1)); }

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 0x1u;
constexpr uint32_t kFileShareWrite = 0x2u;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

// Laid out as the Win32 SYSTEMTIME.
struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
// FILETIME as one number: 100 ns intervals since 1601-01-01.
using FileTime = uint64_t;

// CreateFileA (path, access, share, no security, disposition,
// FILE_ATTRIBUTE_NORMAL, no template); InvalidFileHandle() on failure.
FileHandle CreateFileHandle(const char* path, uint32_t access, uint32_t share, uint32_t disposition);
bool CloseFileHandle(FileHandle handle);
bool ReadFileData(FileHandle handle, void* buffer, uint32_t count, uint32_t* done);
bool WriteFileData(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done);
// GetFileSize without the high part: the low 32 bits, kInvalidFileSize on failure.
uint32_t GetFileSizeLow(FileHandle handle);
// SetFilePointer without the high part: the new position, or
// kInvalidSetFilePointer (position unchanged) on failure, e.g. before 0.
uint32_t SetFilePointer(FileHandle handle, int32_t distance, uint32_t origin);
bool SetEndOfFile(FileHandle handle);
// DuplicateHandle within the current process. same_access: the source's
// access (DUPLICATE_SAME_ACCESS); otherwise the given access mask.
bool DuplicateFileHandle(FileHandle source, FileHandle* target, uint32_t access, bool inheritable, bool same_access);

// GetFileTime / SetFileTime in UTC; null pointers skip a time.
bool GetFileTimes(FileHandle handle, FileTime* creation, FileTime* access, FileTime* write);
bool SetFileTimes(FileHandle handle, const FileTime* creation, const FileTime* access, const FileTime* write);
bool FileTimeToLocalFileTime(const FileTime* utc, FileTime* local);
bool LocalFileTimeToFileTime(const FileTime* local, FileTime* utc);
bool FileTimeToSystemTime(const FileTime* time, SystemTime* split);
bool SystemTimeToFileTime(const SystemTime* split, FileTime* time);

// GetFullPathNameA: the length written (terminator not counted) when it fits
// in buffer_size, else the size needed (terminator counted); 0 on failure.
// *file_part, when asked for, points at the file name inside buffer (null
// when the path ends with a separator).
uint32_t FullPathName(const char* path, uint32_t buffer_size, char* buffer, char** file_part);

// Directory separator of the system's paths.
char PathSeparator();
bool DeleteFilePath(const char* path);
bool CreateDirectoryPath(const char* path);
bool RemoveDirectoryPath(const char* path);
// GetTempPathA: the temporary directory with a final separator; the length
// written, or the size needed when it does not fit.
uint32_t GetTempDirectory(uint32_t buffer_size, char* buffer);

}  // namespace plat
