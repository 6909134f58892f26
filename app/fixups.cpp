// After a complete repair: the installation log from its template, the script
// file from its spare copy, and the three desktop shortcuts.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "core/hvb.h"
#include "repair.h"
#include "setup_log.h"

namespace {

const char kShellFolders[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct Shortcut {
    const char* program;
    const char* link;
};
const Shortcut kShortcuts[] = {
    {"pro.exe", "ぽるてぃ体験版.lnk"},
    {"chara.exe", "ぽるてぃキャラクター紹介.lnk"},
    {"org.exe", "ぽるてぃぷりむオリジナル.lnk"},
};

void WriteLogLine(void* log, const char* bytes, uint32_t count) {
    DWORD written;
    WriteFile(static_cast<HANDLE>(log), bytes, count, &written, nullptr);
}

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
    HANDLE log = INVALID_HANDLE_VALUE;
    if (JoinPath(log_path, kPathBufferSize, InstallDirectory, "setup.log")) {
        log = CreateFileA(log_path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    }
    if (log != INVALID_HANDLE_VALUE) {
        RewriteSetupTemplate(text, size, InstallDirectory, WriteLogLine, log);
        CloseHandle(log);
    }
    hvbHeapFree(nullptr, text, 0);
}

HRESULT CreateShortcut(const WideChar* program_path, const WideChar* link_path) {
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(status)) {
        WideChar text[kOwnTextUnits];
        MessageBoxW(nullptr, plat::OwnText("ショートカット作成失敗", text, kOwnTextUnits), link_path, MB_OK);
        return status;
    }
    link->SetPath(program_path);
    auto* directory = static_cast<WideChar*>(hvbHeapAllocate(nullptr, kPathBufferSize * sizeof(WideChar), 0));
    DirectoryOfWidePath(program_path, directory, kPathBufferSize);
    link->SetWorkingDirectory(directory);
    hvbHeapFree(nullptr, directory, 0);
    IPersistFile* file = nullptr;
    status = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(status)) {
        status = file->Save(link_path, TRUE);
        file->Release();
    }
    link->Release();
    return status;
}

int RestoreScriptAndShortcuts() {
    char path[kPathBufferSize];
    if (!JoinPath(path, kPathBufferSize, InstallDirectory, "script\\1_5_22.scn")) return 0;
    if (!CopyFileA("data.dat", path, FALSE)) return 0;

    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    char desktop[kPathBufferSize] = {};
    const bool have_desktop = DesktopFolder(key, desktop);
    RegCloseKey(key);
    if (!have_desktop) return 1;

    for (const Shortcut& row : kShortcuts) {
        // The shell's desktop folder may be up to 259 bytes: a link that
        // would not fit is left out, the others are still made. The folders
        // are the system's, the programs' and links' names ours.
        WideChar program[kPathBufferSize];
        WideChar link[kPathBufferSize];
        if (!JoinWidePath(program, kPathBufferSize, InstallDirectory, row.program) ||
            !JoinWidePath(link, kPathBufferSize, desktop, row.link)) {
            continue;
        }
        CreateShortcut(program, link);
    }
    return 1;
}
