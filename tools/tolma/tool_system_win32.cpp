#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

#include "tool_system.h"
#include "unicode.h"

namespace tool {

namespace {

bool IsConsole(DWORD which, HANDLE* handle) {
    *handle = GetStdHandle(which);
    DWORD mode;
    return *handle != INVALID_HANDLE_VALUE && GetConsoleMode(*handle, &mode) != 0;
}

void Print(DWORD which, FILE* stream, const std::string& utf8) {
    HANDLE handle;
    WideText wide;
    if (IsConsole(which, &handle) && Utf8ToWide(utf8, &wide)) {
        std::fflush(stream);
        DWORD written;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace

bool ListDirectory(const std::string& path, std::vector<DirectoryItem>* items) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    items->clear();
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const DWORD a = data.dwFileAttributes;
        const PathKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Link
                              : (a & FILE_ATTRIBUTE_DIRECTORY)                                     ? PathKind::Directory
                                                                                                   : PathKind::File;
        items->push_back({name, kind});
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(items->begin(), items->end(),
              [](const DirectoryItem& a, const DirectoryItem& b) { return a.name < b.name; });
    return true;
}

PathKind GetPathKind(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::None;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::File;
}

bool GetFileInfo(const std::string& path, uint64_t* size, uint64_t* write_time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *write_time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

namespace {

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return FileIdentity(a, &ia) && FileIdentity(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool MakeDirectory(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && GetPathKind(path) == PathKind::Directory;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

char NativeSeparator() { return '\\'; }

bool IsReservedName(const std::string& name) {
    // A device name stays a device with any extension and trailing spaces.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (stem == device) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
        stem[3] <= '9')
        return true;
    return false;
}

bool NativeToArchive(const std::string& native, std::string* archive) {
    *archive = native;
    return true;
}

bool ArchiveToNative(const std::string& archive, std::string* native) {
    *native = archive;
    return true;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string a(size > 0 ? size - 1 : 0, '\0');
        if (size > 1) WideCharToMultiByte(CP_ACP, 0, wide[i], -1, a.data(), size, nullptr, nullptr);
        arguments.push_back(a);
    }
    LocalFree(wide);
    return arguments;
}

bool ArgumentToArchive(const char* argument, std::string* archive) {
    *archive = argument;
    return true;
}

void PrintOut(const std::string& utf8) { Print(STD_OUTPUT_HANDLE, stdout, utf8); }

void PrintError(const std::string& utf8) {
    std::fflush(stdout);
    Print(STD_ERROR_HANDLE, stderr, utf8);
}

bool WriteOut(const void* data, uint32_t count) {
    static bool binary = false;
    if (!binary) {
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
        binary = true;
    }
    return std::fwrite(data, 1, count, stdout) == count;
}

bool ErrorIsTerminal() {
    HANDLE handle;
    return IsConsole(STD_ERROR_HANDLE, &handle);
}

}  // namespace tool
