// The repair tool: state shared by the driver, the repair dialog and the
// post-repair fix-ups.
#pragma once

#include <windows.h>

#include <cstdint>

#include "file_table.h"
#include "paths.h"
#include "repair_sequence.h"

constexpr uint32_t kPathBufferSize = 260;

// Written once by the driver.
extern char SetupProgramPath[kPathBufferSize];
extern char InstallDirectory[kPathBufferSize];

// A message box with a text and caption of the program's own: CP932 on any
// system, shown through the wide call.
constexpr int kOwnTextUnits = 256;
int ShowOwnMessage(const char* text, const char* caption, UINT buttons);

// Driver (start-up).
char* FindSetupProgram();
int32_t ReadInstallLocation(const char* subkey, const char* marker, char* destination);

// Repair dialog and extraction.
constexpr int kRepairDialogId = 113;
extern uint32_t ChunkSize;
INT_PTR CALLBACK RepairDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
int ExtractListedFile(const char* name);
int WriteFileChunk(const WideChar* path, const void* data, uint32_t offset, uint32_t count);
void CloseRepairObjects();

// Post-repair fix-ups.
void RebuildSetupLog();
int RestoreScriptAndShortcuts();
HRESULT CreateShortcut(const WideChar* program_path, const WideChar* link_path);
