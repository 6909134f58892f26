// Start-up and repair driver: the program entry.
#include <windows.h>

#include <cstring>

#include "core/hvb.h"
#include "repair.h"
#include "text/string.h"

char SetupProgramPath[kPathBufferSize];
char InstallDirectory[kPathBufferSize];

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ぽるてぃ体験版";
const char kMarker[] = "setup.log";
const char kClassName[] = "Startup";

// The driver's messages, numbered as the user-facing texts are listed.
enum DriverMessage { kConfirm = 1, kNoSetupProgram, kNotInstalled, kCopyFailed, kRepaired };

struct MessageRow {
    const char* text;
    const char* caption;
    UINT buttons;
};

const MessageRow kMessages[] = {
    {"足りないファイルをインストールします\n転送処理を優先するため、OSの動作が重くなるので注意してください",
     "修正セットアップ", MB_OKCANCEL},
    {"体験版SETUPプログラムが見つかりません\n体験版の入ったDVDを正しくセットしてください", "エラー", MB_OK},
    {"インストール先が見つかりません\n体験版をインストールしてから再度起動してください", "エラー", MB_OK},
    {"ファイルを全てコピーする事ができませんでした\nHDD容量等チェックしてください", "エラー", MB_OK},
    {"足りないファイルをインストールしました", "修復セットアップ", MB_OK},
};

int Message(DriverMessage message) {
    const MessageRow& row = kMessages[message - 1];
    return ShowOwnMessage(row.text, row.caption, row.buttons);
}

// A key by a name of ours: by the name itself first (what a Unicode
// installer, or one run in code page 932, made), then by its CP932 bytes read
// in the system's code page (what an installer of ours run there made).
LONG OpenOwnKey(HKEY parent, const char* name, REGSAM access, HKEY* key) {
    WideChar wide[kPathBufferSize];
    if (RegOpenKeyExW(parent, plat::OwnText(name, wide, kPathBufferSize), 0, access, key) == ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(parent, name, 0, access, key);
}

// Whether the string value reads in the system's code page as it is stored.
// What that code page cannot hold reads as default characters or as a
// look-alike ("Ｇａｍｅ" as "Game"): another path, one that may exist.
bool ValueHoldsInCodePage(HKEY key, const WCHAR* name) {
    WideChar stored[kPathBufferSize];
    DWORD type = 0;
    DWORD bytes = sizeof stored;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(stored), &bytes) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return true;
    const int units = static_cast<int>(bytes / sizeof(WideChar));
    if (units == 0) return true;
    char narrow[kPathBufferSize * 2];
    WideChar back[kPathBufferSize];
    const int n = plat::WideToAnsi(stored, units, narrow, sizeof narrow);
    return n != 0 && plat::AnsiToWide(narrow, n, back, kPathBufferSize) == units &&
           std::memcmp(back, stored, bytes - bytes % sizeof(WideChar)) == 0;
}

LRESULT CALLBACK StartupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_COMMAND) return 0;
    return DefWindowProcA(window, message, wparam, lparam);
}

// Makes the directory of the program's own path the current directory. The
// first token of the command line, split at double quotes, is that path. A
// line of any length is taken whole (it is copied to a heap buffer of its own
// size rather than into a fixed one).
void EnterProgramDirectory() {
    const char* line = GetCommandLineA();
    const uint32_t length = static_cast<uint32_t>(std::strlen(line));
    auto* token = static_cast<char*>(hvbHeapAllocate(nullptr, length + 1, 0));
    auto* directory = static_cast<char*>(hvbHeapAllocate(nullptr, length + 1, 0));
    const char* start = line;
    while (*start == '"') ++start;
    const char* end = start;
    while (*end != '\0' && *end != '"') ++end;
    std::memcpy(token, start, static_cast<size_t>(end - start));
    token[end - start] = '\0';
    DirectoryOfPath(token, directory, length + 1);
    SetCurrentDirectoryA(directory);
    hvbHeapFree(nullptr, directory, 0);
    hvbHeapFree(nullptr, token, 0);
}

bool RegisterStartupClass(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = StartupWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc) != 0;
}

}  // namespace

int ShowOwnMessage(const char* text, const char* caption, UINT buttons) {
    WideChar wide_text[kOwnTextUnits];
    WideChar wide_caption[kOwnTextUnits];
    return MessageBoxW(nullptr, plat::OwnText(text, wide_text, kOwnTextUnits),
                       plat::OwnText(caption, wide_caption, kOwnTextUnits), buttons);
}

char* FindSetupProgram() {
    SetupProgramPath[0] = '\0';
    // An empty removable drive would otherwise raise the system's own error
    // box for every probe.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char* found = nullptr;
    for (int drive = 0; drive < 26 && found == nullptr; ++drive) {
        const char root[] = {static_cast<char>('A' + drive), ':', '\0'};
        JoinPath(SetupProgramPath, kPathBufferSize, root, "setup\\setup.exe");
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(SetupProgramPath, &data);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            found = SetupProgramPath;
        }
    }
    SetErrorMode(previous);
    return found;
}

int32_t ReadInstallLocation(const char* subkey, const char* marker, char* destination) {
    HKEY key;
    if (OpenOwnKey(HKEY_LOCAL_MACHINE, subkey, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return -1;
    // Zeroed, so that a value stored without its terminator still reads as a
    // string of at most 128 bytes.
    char value[kPathBufferSize] = {};
    DWORD bytes = 128;
    const LONG status = RegQueryValueExA(key, "InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
    const bool holds = status == ERROR_SUCCESS && ValueHoldsInCodePage(key, L"InstallLocation");
    RegCloseKey(key);
    value[128] = '\0';
    lstrcpyA(destination, value);
    if (status != ERROR_SUCCESS) return -1;
    // Not the installation, though perhaps a folder that exists.
    if (!holds) return -1;
    char marker_path[kPathBufferSize];
    if (!JoinPath(marker_path, kPathBufferSize, value, marker)) return -1;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(marker_path, &data);
    if (search == INVALID_HANDLE_VALUE) return -1;
    FindClose(search);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    EnterProgramDirectory();
    if (FindWindowA(kClassName, kClassName) != nullptr) return 0;
    if (!RegisterStartupClass(instance)) return 0;
    zmrInitializeLibrary();

    if (Message(kConfirm) == IDCANCEL) {
        zmrCloseLibrary();
        return 0;
    }
    if (FindSetupProgram() == nullptr) {
        Message(kNoSetupProgram);
        return 0;
    }
    if (ReadInstallLocation(kUninstallKey, kMarker, InstallDirectory) == -1) {
        Message(kNotInstalled);
        return 0;
    }
    // -1, a dialog that could not be created, copied nothing.
    // A Unicode dialog: an ANSI one takes its UTF-16 template's texts through
    // the system's code page.
    const INT_PTR result = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(kRepairDialogId), nullptr, RepairDialogProc, 0);
    if (!RepairCompleted(result)) {
        Message(kCopyFailed);
        CloseRepairObjects();
        return 0;
    }
    CloseRepairObjects();
    RebuildSetupLog();
    RestoreScriptAndShortcuts();
    Message(kRepaired);
    return 0;
}
