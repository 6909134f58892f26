#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>

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

namespace {

// The ANSI spelling of a wide name; false when it has none that converts
// back to the same name (the system's conversion would pick a best fit).
bool ExactAnsi(const wchar_t* wide, std::string* ansi) {
    BOOL used_default = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &used_default);
    if (size <= 0) return false;
    ansi->assign(static_cast<size_t>(size - 1), '\0');
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi->data(), size, nullptr, &used_default) != size)
        return false;
    const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi->c_str(), -1, nullptr, 0);
    if (used_default || back <= 0) return false;
    std::wstring again(static_cast<size_t>(back - 1), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi->c_str(), -1, again.data(), back);
    return again == wide;
}

}  // namespace

bool ListDirectory(const std::string& path, std::vector<DirectoryItem>* items) {
    // Listed by their wide names: the ANSI listing would hand over a best
    // fit for a name the code page lacks, which may name another file.
    const int size = MultiByteToWideChar(CP_ACP, 0, (path + "\\*").c_str(), -1, nullptr, 0);
    if (size <= 0) return false;
    std::wstring pattern(static_cast<size_t>(size - 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, (path + "\\*").c_str(), -1, pattern.data(), size);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    items->clear();
    do {
        const std::wstring wide = data.cFileName;
        if (wide == L"." || wide == L"..") continue;
        DirectoryItem item;
        item.exact = ExactAnsi(wide.c_str(), &item.name);
        if (!item.exact) {
            // Shown only, never opened.
            const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
            item.name.assign(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
            if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, item.name.data(), n, nullptr, nullptr);
        }
        const DWORD a = data.dwFileAttributes;
        item.kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Link
                    : (a & FILE_ATTRIBUTE_DIRECTORY)                                     ? PathKind::Directory
                                                                                         : PathKind::File;
        items->push_back(item);
    } while (FindNextFileW(find, &data));
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

bool CreateNewFile(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void CopyPermissions(const std::string&, const std::string&) {}

std::string LastErrorText() {
    const DWORD code = GetLastError();
    if (code == 0) return "reason unknown";
    wchar_t text[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 256, nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ' || text[n - 1] == L'.')) --n;
    return n > 0 ? WideToUtf8(WideText(text, n)) : "error " + std::to_string(code);
}

char NativeSeparator() { return '\\'; }

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

uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace tool
