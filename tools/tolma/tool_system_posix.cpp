// 64-bit offsets and sizes: a 32-bit readdir fails on directories whose
// positions do not fit (ext4's hashed ones, seen by a 32-bit program on a
// 64-bit kernel), and a 32-bit stat on files of 2 GiB or more.
#define _FILE_OFFSET_BITS 64
#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool_system.h"
#include "unicode.h"

namespace tool {

bool ListDirectory(const std::string& path, std::vector<DirectoryItem>* items) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    items->clear();
    for (;;) {
        errno = 0;
        const dirent* d = readdir(dir);
        if (d == nullptr) break;
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = path + "/" + name;
        struct stat st;
        PathKind kind = GetPathKind(full);
        if (kind == PathKind::Link && stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) kind = PathKind::File;
        items->push_back({name, kind});
    }
    // Null ends the listing and reports a failure alike; a listing cut short
    // is no listing.
    const bool complete = errno == 0;
    closedir(dir);
    if (!complete) return false;
    std::sort(items->begin(), items->end(),
              [](const DirectoryItem& a, const DirectoryItem& b) { return a.name < b.name; });
    return true;
}

PathKind GetPathKind(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return PathKind::None;
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    return PathKind::Other;
}

bool GetFileInfo(const std::string& path, uint64_t* size, uint64_t* write_time) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    const int64_t seconds = static_cast<int64_t>(st.st_mtim.tv_sec) + 11644473600LL;
    *write_time = seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000u + st.st_mtim.tv_nsec / 100;
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && GetPathKind(path) == PathKind::Directory;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool CreateNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool RenameOver(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void CopyPermissions(const std::string& from, const std::string& to) {
    struct stat st;
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 07777);
}

std::string LastErrorText() { return errno != 0 ? std::strerror(errno) : "reason unknown"; }

char NativeSeparator() { return '/'; }

bool NativeToArchive(const std::string& native, std::string* archive) {
    // The code page's best-fit table turns characters it lacks into others
    // (an accented letter into the plain one, the yen sign into the
    // backslash byte) without saying so: only a name that converts back to
    // itself is the same name.
    WideText wide, back;
    return Utf8ToWide(native, &wide) && WideToAnsiText(wide, archive) && AnsiToWideText(*archive, &back) &&
           back == wide;
}

bool ArchiveToNative(const std::string& archive, std::string* native) {
    WideText wide;
    if (!AnsiToWideText(archive, &wide)) return false;
    // A byte the code page cannot read becomes the default character;
    // refuse rather than write a name other than the stored one.
    for (WideChar c : wide)
        if (c == plat::kWideDefaultChar) return false;
    *native = WideToUtf8(wide);
    return true;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

bool ArgumentToArchive(const char* argument, std::string* archive) { return NativeToArchive(argument, archive); }

void PrintOut(const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }

void PrintError(const std::string& utf8) {
    std::fflush(stdout);
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

bool WriteOut(const void* data, uint32_t count) { return std::fwrite(data, 1, count, stdout) == count; }

bool ErrorIsTerminal() { return isatty(2) != 0; }

uint32_t ProcessorCount() {
    // The processors this process may run on (taskset narrows them), else
    // those online.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<uint32_t>(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

}  // namespace tool
