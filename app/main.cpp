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

void Message(const char* text, const char* caption, UINT buttons = MB_OK) {
    MessageBoxA(nullptr, text, caption, buttons);
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

void DirectoryOfPath(const char* path, char* directory, uint32_t size) {
    // Everything up to and including the last separator (backslash, slash, or
    // the colon of a drive), never taking the trail byte of a double-byte
    // character for a separator.
    const char* cut = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == '/' || *p == ':') cut = p + 1;
    }
    uint32_t n = static_cast<uint32_t>(cut - path);
    if (n >= size) n = size - 1;
    std::memcpy(directory, path, n);
    directory[n] = '\0';
}

char* FindSetupProgram() {
    SetupProgramPath[0] = '\0';
    // An empty removable drive would otherwise raise the system's own error
    // box for every probe.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char* found = nullptr;
    for (int drive = 0; drive < 26 && found == nullptr; ++drive) {
        wsprintfA(SetupProgramPath, "%c:\\", 'A' + drive);
        lstrcatA(SetupProgramPath, "setup\\setup.exe");
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
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return -1;
    // Zeroed, so that a value stored without its terminator still reads as a
    // string of at most 128 bytes.
    char value[kPathBufferSize] = {};
    DWORD bytes = 128;
    const LONG status = RegQueryValueExA(key, "InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    value[128] = '\0';
    lstrcpyA(destination, value);
    if (status != ERROR_SUCCESS) return -1;
    lstrcatA(value, "\\");
    lstrcatA(value, marker);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(value, &data);
    if (search == INVALID_HANDLE_VALUE) return -1;
    FindClose(search);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    EnterProgramDirectory();
    if (FindWindowA(kClassName, kClassName) != nullptr) return 0;
    if (!RegisterStartupClass(instance)) return 0;
    zmrInitializeLibrary();

    if (MessageBoxA(nullptr,
                    "足りないファイルをインストールします\n転送処理を優先するため、OSの動作が重くなるので注意してください",
                    "修正セットアップ", MB_OKCANCEL) == IDCANCEL) {
        zmrCloseLibrary();
        return 0;
    }
    if (FindSetupProgram() == nullptr) {
        Message("体験版SETUPプログラムが見つかりません\n体験版の入ったDVDを正しくセットしてください", "エラー");
        return 0;
    }
    if (ReadInstallLocation(kUninstallKey, kMarker, InstallDirectory) == -1) {
        Message("インストール先が見つかりません\n体験版をインストールしてから再度起動してください", "エラー");
        return 0;
    }
    if (DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kRepairDialogId), nullptr, RepairDialogProc, 0) == 0) {
        Message("ファイルを全てコピーする事ができませんでした\nHDD容量等チェックしてください", "エラー");
        CloseRepairObjects();
        return 0;
    }
    CloseRepairObjects();
    RebuildSetupLog();
    RestoreScriptAndShortcuts();
    Message("足りないファイルをインストールしました", "修復セットアップ");
    return 0;
}
