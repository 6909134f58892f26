// The repair tool: state shared by the driver, the repair dialog and the
// post-repair fix-ups.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr uint32_t kPathBufferSize = 260;

// Written once by the driver.
extern char SetupProgramPath[kPathBufferSize];
extern char InstallDirectory[kPathBufferSize];

// 168 slots of 64 bytes: 167 relative names and an empty one that ends it.
constexpr uint32_t kFileTableSlots = 168;
constexpr uint32_t kFileTableSlotSize = 64;
extern const char RepairFileTable[kFileTableSlots][kFileTableSlotSize];

// Driver (start-up).
char* FindSetupProgram();
int32_t ReadInstallLocation(const char* subkey, const char* marker, char* destination);

// Repair dialog and extraction.
constexpr WPARAM ID_NEXT_FILE = 40014;
constexpr int kRepairDialogId = 113;
extern uint32_t ChunkSize;
INT_PTR CALLBACK RepairDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
int ExtractListedFile(const char* name);
int WriteFileChunk(const char* path, const void* data, uint32_t offset, uint32_t count);
void CloseRepairObjects();

// Post-repair fix-ups.
void RebuildSetupLog();
int RestoreScriptAndShortcuts();
HRESULT CreateShortcut(const char* program_path, const char* link_path);

// Splits a path into its directory part (drive and directory, with the
// trailing separator) as the C run-time's splitter does, double-byte aware.
void DirectoryOfPath(const char* path, char* directory, uint32_t size);
