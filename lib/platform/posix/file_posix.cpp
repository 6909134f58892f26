// Files over POSIX descriptors. What POSIX cannot express is approximated:
// share modes are not enforced here (any number of descriptors may open a
// file whatever the share flags say, so tests of sharing run on win32 only);
// a file has no creation time, so the last write time stands in for it and
// setting it does nothing; a duplicated descriptor keeps the source's access.
#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/file.h"

namespace plat {
namespace {

constexpr int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 as a FileTime
constexpr int64_t kTicksPerSecond = 10000000;

int Fd(FileHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
FileHandle Handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd)); }

FileTime FromTimespec(const timespec& t) {
    return static_cast<FileTime>(kUnixEpoch + static_cast<int64_t>(t.tv_sec) * kTicksPerSecond + t.tv_nsec / 100);
}

timespec ToTimespec(FileTime t) {
    const int64_t since = static_cast<int64_t>(t) - kUnixEpoch;
    int64_t seconds = since / kTicksPerSecond;
    int64_t rest = since % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --seconds;
    }
    timespec out{};
    out.tv_sec = static_cast<time_t>(seconds);
    out.tv_nsec = static_cast<long>(rest * 100);
    return out;
}

// The bias in force now, as Win32 applies it to every time it converts.
int64_t LocalBiasTicks() {
    const time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return static_cast<int64_t>(local.tm_gmtoff) * kTicksPerSecond;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

FileHandle CreateFileHandle(const char* path, uint32_t access, uint32_t, uint32_t disposition) {
    if (path == nullptr || path[0] == 0) return InvalidFileHandle();
    const bool read = (access & kGenericRead) != 0;
    const bool write = (access & kGenericWrite) != 0;
    int flags = O_CLOEXEC;
    if (read && write)
        flags |= O_RDWR;
    else if (write)
        flags |= O_WRONLY;
    else if (read)
        flags |= O_RDONLY;
    else
        flags |= O_PATH;  // no access rights: the file can be named but not read or written
    if (disposition == kCreateAlways) {
        if (write) {
            flags |= O_CREAT | O_TRUNC;
        } else {
            const int created = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (created < 0) return InvalidFileHandle();
            close(created);
        }
    } else if (disposition != kOpenExisting) {
        return InvalidFileHandle();
    }
    const int fd = open(path, flags, 0666);
    if (fd < 0) return InvalidFileHandle();
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return InvalidFileHandle();
    }
    return Handle(fd);
}

bool CloseFileHandle(FileHandle handle) { return Fd(handle) >= 0 && close(Fd(handle)) == 0; }

bool ReadFileData(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    auto* p = static_cast<unsigned char*>(buffer);
    while (*done < count) {
        const ssize_t n = read(Fd(handle), p + *done, count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *done += static_cast<uint32_t>(n);
    }
    return true;
}

bool WriteFileData(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (*done < count) {
        const ssize_t n = write(Fd(handle), p + *done, count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *done += static_cast<uint32_t>(n);
    }
    return true;
}

uint32_t GetFileSizeLow(FileHandle handle) {
    struct stat st;
    if (fstat(Fd(handle), &st) != 0) return kInvalidFileSize;
    return static_cast<uint32_t>(st.st_size);
}

uint32_t SetFilePointer(FileHandle handle, int32_t distance, uint32_t origin) {
    const int fd = Fd(handle);
    off_t base;
    if (origin == kFileBegin) {
        base = 0;
    } else if (origin == kFileCurrent) {
        base = lseek(fd, 0, SEEK_CUR);
    } else if (origin == kFileEnd) {
        struct stat st;
        base = fstat(fd, &st) == 0 ? st.st_size : -1;
    } else {
        return kInvalidSetFilePointer;
    }
    if (base < 0) return kInvalidSetFilePointer;
    const off_t target = base + distance;
    if (target < 0 || lseek(fd, target, SEEK_SET) < 0) return kInvalidSetFilePointer;
    return static_cast<uint32_t>(target);
}

bool SetEndOfFile(FileHandle handle) {
    const off_t position = lseek(Fd(handle), 0, SEEK_CUR);
    return position >= 0 && ftruncate(Fd(handle), position) == 0;
}

bool DuplicateFileHandle(FileHandle source, FileHandle* target, uint32_t access, bool, bool same_access) {
    *target = InvalidFileHandle();
    const int flags = fcntl(Fd(source), F_GETFL);
    if (flags < 0) return false;
    if (!same_access) {
        const int mode = flags & O_ACCMODE;
        const bool can_read = (flags & O_PATH) == 0 && (mode == O_RDONLY || mode == O_RDWR);
        const bool can_write = (flags & O_PATH) == 0 && (mode == O_WRONLY || mode == O_RDWR);
        if (((access & kGenericRead) && !can_read) || ((access & kGenericWrite) && !can_write)) return false;
    }
    const int fd = fcntl(Fd(source), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return false;
    *target = Handle(fd);
    return true;
}

bool GetFileTimes(FileHandle handle, FileTime* creation, FileTime* access, FileTime* write) {
    struct stat st;
    if (fstat(Fd(handle), &st) != 0) return false;
    if (creation != nullptr) *creation = FromTimespec(st.st_mtim);
    if (access != nullptr) *access = FromTimespec(st.st_atim);
    if (write != nullptr) *write = FromTimespec(st.st_mtim);
    return true;
}

bool SetFileTimes(FileHandle handle, const FileTime*, const FileTime* access, const FileTime* write) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (access != nullptr) times[0] = ToTimespec(*access);
    if (write != nullptr) times[1] = ToTimespec(*write);
    return futimens(Fd(handle), times) == 0;
}

bool FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) {
    *local = static_cast<FileTime>(static_cast<int64_t>(*utc) + LocalBiasTicks());
    return true;
}

bool LocalFileTimeToFileTime(const FileTime* local, FileTime* utc) {
    *utc = static_cast<FileTime>(static_cast<int64_t>(*local) - LocalBiasTicks());
    return true;
}

bool FileTimeToSystemTime(const FileTime* time, SystemTime* split) {
    if (*time >= 0x8000000000000000ull) return false;
    const uint64_t ticks = *time;
    const uint64_t seconds = ticks / kTicksPerSecond;
    const uint64_t days1601 = seconds / 86400;
    const uint64_t of_day = seconds % 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(static_cast<int64_t>(days1601) + DaysFromCivil(1601, 1, 1), &y, &m, &d);
    split->wYear = static_cast<uint16_t>(y);
    split->wMonth = static_cast<uint16_t>(m);
    split->wDay = static_cast<uint16_t>(d);
    split->wDayOfWeek = static_cast<uint16_t>((days1601 + 1) % 7);  // 1601-01-01 was a Monday
    split->wHour = static_cast<uint16_t>(of_day / 3600);
    split->wMinute = static_cast<uint16_t>(of_day / 60 % 60);
    split->wSecond = static_cast<uint16_t>(of_day % 60);
    split->wMilliseconds = static_cast<uint16_t>(ticks % kTicksPerSecond / 10000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime* split, FileTime* time) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const SystemTime& s = *split;
    if (s.wYear < 1601 || s.wYear > 30827 || s.wMonth < 1 || s.wMonth > 12 || s.wDay < 1 || s.wHour > 23 ||
        s.wMinute > 59 || s.wSecond > 59 || s.wMilliseconds > 999) {
        return false;
    }
    const unsigned month_days = kDays[s.wMonth - 1] + (s.wMonth == 2 && IsLeap(s.wYear) ? 1 : 0);
    if (s.wDay > month_days) return false;
    const int64_t days = DaysFromCivil(s.wYear, s.wMonth, s.wDay) - DaysFromCivil(1601, 1, 1);
    const int64_t seconds = days * 86400 + s.wHour * 3600 + s.wMinute * 60 + s.wSecond;
    *time = static_cast<FileTime>(seconds * kTicksPerSecond + s.wMilliseconds * 10000LL);
    return true;
}

// Lexical, as on Win32: "." and ".." are resolved without looking at the disk.
uint32_t FullPathName(const char* path, uint32_t buffer_size, char* buffer, char** file_part) {
    if (path == nullptr || path[0] == 0) return 0;
    std::string joined;
    if (path[0] != '/') {
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return 0;
            cwd.resize(cwd.size() * 2);
        }
        joined = cwd.data();
        joined += '/';
    }
    joined += path;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string full;
    for (const auto& part : parts) full += "/" + part;
    const char last = joined.back();
    const bool directory = last == '/' || (joined.size() >= 2 && joined.compare(joined.size() - 2, 2, "/.") == 0) ||
                           (joined.size() >= 3 && joined.compare(joined.size() - 3, 3, "/..") == 0);
    if (full.empty() || directory) full += '/';
    if (full.size() >= buffer_size || buffer == nullptr) return static_cast<uint32_t>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part != nullptr) {
        const size_t slash = full.rfind('/');
        *file_part = slash + 1 < full.size() ? buffer + slash + 1 : nullptr;
    }
    return static_cast<uint32_t>(full.size());
}

char PathSeparator() { return '/'; }
bool DeleteFilePath(const char* path) { return unlink(path) == 0; }
bool CreateDirectoryPath(const char* path) { return mkdir(path, 0777) == 0; }
bool RemoveDirectoryPath(const char* path) { return rmdir(path) == 0; }

uint32_t GetTempDirectory(uint32_t buffer_size, char* buffer) {
    std::string dir = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
    if (dir.size() >= buffer_size || buffer == nullptr) return static_cast<uint32_t>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<uint32_t>(dir.size());
}

}  // namespace plat
