// The repair dialog's walk through the file table, apart from the window it
// runs in: the dialog procedure feeds it the first paint and each command and
// carries out the action it returns.
#pragma once

#include <cstdint>

#include "file_table.h"

// WM_COMMAND identifiers, compared with the whole wParam.
constexpr uintptr_t kCommandOk = 1;      // IDOK: Enter
constexpr uintptr_t kCommandCancel = 2;  // IDCANCEL: Escape, or the window closed
constexpr uintptr_t ID_NEXT_FILE = 40014;

// The dialog's end values; DialogBoxParamW gives -1 when it could not create
// the dialog at all.
constexpr intptr_t kDialogCopied = 1;
constexpr intptr_t kDialogFailed = 0;
constexpr bool RepairCompleted(intptr_t dialog_result) { return dialog_result == kDialogCopied; }

enum class RepairAction { kNone, kPostNextFile, kEndCopied, kEndFailed };

class RepairSequence {
public:
    // Copies one listed file; non-zero on success.
    using CopyFunction = int (*)(const char* name);

    constexpr RepairSequence(const char (*table)[kFileTableSlotSize], CopyFunction copy) : table_(table), copy_(copy) {}

    // The dialog's first paint.
    RepairAction Start();
    RepairAction Command(uintptr_t id);

private:
    enum class State { kWaiting, kCopying, kEnded };

    RepairAction Begin();
    RepairAction End(RepairAction action);

    const char (*table_)[kFileTableSlotSize];
    CopyFunction copy_;
    State state_ = State::kWaiting;
    uint32_t next_ = 0;
};
