// After a complete repair: the installation log from its template, the script
// file from its spare copy, and the three desktop shortcuts.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "core/hvb.h"
#include "repair.h"

namespace {

const char kShellFolders[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kPlaceholder[] = "@INSTDIR";
constexpr uint32_t kPlaceholderLength = 8;
constexpr uint32_t kLineSize = 1024;

struct Shortcut {
    const char* program;
    const char* link;
};
const Shortcut kShortcuts[] = {
    {"\\pro.exe", "\\ぽるてぃ体験版.lnk"},
    {"\\chara.exe", "\\ぽるてぃキャラクター紹介.lnk"},
    {"\\org.exe", "\\ぽるてぃぷりむオリジナル.lnk"},
};

// One output line of the log. A line longer than the buffer goes out in
// pieces rather than overflowing it; the bytes written are the same.
class LineWriter {
public:
    explicit LineWriter(HANDLE file) : file_(file) {}
    void Append(const char* bytes, uint32_t count) {
        while (count > 0) {
            if (length_ == kLineSize) Flush();
            const uint32_t n = count < kLineSize - length_ ? count : kLineSize - length_;
            std::memcpy(line_ + length_, bytes, n);
            length_ += n;
            bytes += n;
            count -= n;
        }
    }
    void Flush() {
        DWORD written;
        WriteFile(file_, line_, length_, &written, nullptr);
        length_ = 0;
    }

private:
    HANDLE file_;
    char line_[kLineSize];
    uint32_t length_ = 0;
};

// The desktop folder: the shell's registered value, or, where that cannot be
// read, the folder the shell reports.
bool DesktopFolder(HKEY key, char* folder) {
    DWORD bytes = 128;
    char value[kPathBufferSize] = {};
    if (RegQueryValueExA(key, "Desktop", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) == ERROR_SUCCESS &&
        value[0] != '\0') {
        value[128] = '\0';
        lstrcpyA(folder, value);
        return true;
    }
    return SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, folder));
}

}  // namespace

void RebuildSetupLog() {
    HANDLE source = CreateFileA("setup.lst", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (source == INVALID_HANDLE_VALUE) return;
    const DWORD size = GetFileSize(source, nullptr);
    if (size == INVALID_FILE_SIZE) {
        CloseHandle(source);
        return;
    }
    auto* text = static_cast<char*>(hvbHeapAllocate(nullptr, size, 0));
    DWORD read = 0;
    if (text == nullptr || !ReadFile(source, text, size, &read, nullptr) || read != size) {
        hvbHeapFree(nullptr, text, 0);
        CloseHandle(source);
        return;
    }
    CloseHandle(source);

    char log_path[kPathBufferSize];
    wsprintfA(log_path, "%s\\setup.log", InstallDirectory);
    HANDLE log = CreateFileA(log_path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);

    // Every byte 0x5C doubled, trail bytes of double-byte characters included.
    char escaped[2 * kPathBufferSize];
    uint32_t escaped_length = 0;
    for (const char* p = InstallDirectory; *p != '\0'; ++p) {
        escaped[escaped_length++] = *p;
        if (*p == '\\') escaped[escaped_length++] = '\\';
    }

    LineWriter line(log);
    uint32_t at = 0;
    while (at < size) {
        if (size - at >= kPlaceholderLength && std::memcmp(text + at, kPlaceholder, kPlaceholderLength) == 0) {
            line.Append(escaped, escaped_length);
            at += kPlaceholderLength;
        } else {
            line.Append(text + at, 1);
            ++at;
        }
        if (at < size && text[at] == '\n') {
            line.Append("\n", 1);
            ++at;
            line.Flush();
        }
    }
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    hvbHeapFree(nullptr, text, 0);
}

HRESULT CreateShortcut(const char* program_path, const char* link_path) {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(status)) {
        MessageBoxA(nullptr, "ショートカット作成失敗", link_path, MB_OK);
        return status;
    }
    link->SetPath(program_path);
    auto* directory = static_cast<char*>(hvbHeapAllocate(nullptr, kPathBufferSize, 0));
    DirectoryOfPath(program_path, directory, kPathBufferSize);
    link->SetWorkingDirectory(directory);
    hvbHeapFree(nullptr, directory, 0);
    IPersistFile* file = nullptr;
    status = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(status)) {
        WCHAR wide[kPathBufferSize];
        MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, kPathBufferSize);
        status = file->Save(wide, TRUE);
        file->Release();
    }
    link->Release();
    return status;
}

int RestoreScriptAndShortcuts() {
    char path[kPathBufferSize];
    wsprintfA(path, "%s\\script\\1_5_22.scn", InstallDirectory);
    if (!CopyFileA("data.dat", path, FALSE)) return 0;

    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    char desktop[kPathBufferSize] = {};
    const bool have_desktop = DesktopFolder(key, desktop);
    RegCloseKey(key);
    if (!have_desktop) return 1;

    for (const Shortcut& row : kShortcuts) {
        char program[kPathBufferSize];
        char link[kPathBufferSize];
        wsprintfA(program, "%s%s", InstallDirectory, row.program);
        wsprintfA(link, "%s%s", desktop, row.link);
        CreateShortcut(program, link);
    }
    return 1;
}
