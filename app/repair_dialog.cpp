// Dialog 113: copies every file of the table out of the archive inside the
// setup program into the installation directory.
#include <windows.h>

#include "archive/tolma_archive.h"
#include "core/hvb.h"
#include "file/exe_image_file.h"
#include "file/memory_file.h"
#include "file/raw_file.h"
#include "repair.h"

uint32_t ChunkSize = 0x9C4000;

namespace {

// Constructed before the entry point in this order, destroyed in reverse.
ERawFile g_setup_file;
EXEImageFileObject g_setup_image;
EMemoryFile g_memory_file;
TOLMAArchive g_archive;

RepairSequence g_sequence(RepairFileTable, ExtractListedFile);
bool g_painted = false;
bool g_opened = false;
void* g_transfer = nullptr;

bool OpenArchive() {
    if (g_setup_file.Open(SetupProgramPath, modeRead | shareRead) != 0) return false;
    if (g_setup_image.OpenPEImageFile(&g_setup_file) != 0) return false;
    if (g_setup_image.OpenResource(MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0) != 0) return false;
    if (g_archive.Open(&g_setup_image, nullptr) != 0) return false;
    g_transfer = hvbHeapAllocate(nullptr, ChunkSize, 0);
    return g_transfer != nullptr;
}

}  // namespace

int WriteFileChunk(const WideChar* path, const void* data, uint32_t offset, uint32_t count) {
    auto* directory = static_cast<WideChar*>(hvbHeapAllocate(nullptr, kPathBufferSize * sizeof(WideChar), 0));
    DirectoryOfWidePath(path, directory, kPathBufferSize);
    if (directory[0] != 0) CreateDirectoryW(directory, nullptr);
    hvbHeapFree(nullptr, directory, 0);

    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, offset == 0 ? CREATE_ALWAYS : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ShowOwnMessage("書きこみで失敗しました", "fname", MB_OK);
        return 0;
    }
    SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, data, count, &written, nullptr);
    CloseHandle(file);
    // A short write (a full disk) is a failure, not a complete copy.
    return ok && written == count ? 1 : 0;
}

int ExtractListedFile(const char* name) {
    if (!g_opened) {
        g_opened = true;
        if (!OpenArchive()) return 0;
    }
    // The installation's folder is the system's, the listed name ours.
    WideChar target[kPathBufferSize];
    if (!JoinWidePath(target, kPathBufferSize, InstallDirectory, name)) return 0;

    if (g_archive.OpenFile(name, nullptr, 0) != 0) {
        ShowOwnMessage("tolmaファイルからファイルがみつかりませんでした", name, MB_OK);
        return 0;
    }
    uint32_t remaining = g_archive.GetLength();
    uint32_t offset = 0;
    int result;
    for (;;) {
        const uint32_t count = remaining < ChunkSize ? remaining : ChunkSize;
        // Fewer bytes than asked means the archive ended early: the buffer
        // would otherwise go out holding stale bytes as if they were the file.
        if (g_archive.Read(g_transfer, count) != count) {
            result = 0;
            break;
        }
        result = WriteFileChunk(target, g_transfer, offset, count);
        if (result == 0 || count == remaining) break;
        offset += count;
        remaining -= count;
    }
    g_archive.CloseFile();
    return result;
}

void CloseRepairObjects() {
    hvbHeapFree(nullptr, g_transfer, 0);
    g_transfer = nullptr;
    g_archive.Close();
    g_memory_file.Close();
    g_setup_image.CloseResource();
    g_setup_image.Close();
    g_setup_file.Close();
}

INT_PTR CALLBACK RepairDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    RepairAction action = RepairAction::kNone;
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_PAINT: {
            // Painting validates the dialog (an unvalidated window is sent
            // WM_PAINT again whenever the queue is empty), and the first paint
            // draws the text at once, before the first file is started.
            PAINTSTRUCT paint;
            BeginPaint(dialog, &paint);
            EndPaint(dialog, &paint);
            if (!g_painted) {
                g_painted = true;
                RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
                action = g_sequence.Start();
            }
            break;
        }
        case WM_COMMAND:
            action = g_sequence.Command(wparam);
            break;
        default:
            return FALSE;
    }
    switch (action) {
        case RepairAction::kPostNextFile:
            // A posted message always goes before WM_PAINT, and one is
            // posted after every file: without painting here the dialog is
            // never drawn again once it has been covered or exposed while the
            // copy runs.
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            // Posted rather than sent: a chain of nested sends, one level per
            // file, is cut off by systems that bound window-procedure
            // recursion (Wine stops at 64 levels and drops the message,
            // leaving the dialog waiting for ever).
            PostMessageA(dialog, WM_COMMAND, ID_NEXT_FILE, 0);
            break;
        case RepairAction::kEndCopied:
            EndDialog(dialog, kDialogCopied);
            break;
        case RepairAction::kEndFailed:
            EndDialog(dialog, kDialogFailed);
            break;
        case RepairAction::kNone:
            break;
    }
    return TRUE;
}
