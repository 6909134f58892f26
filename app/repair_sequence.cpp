#include "repair_sequence.h"

RepairAction RepairSequence::Begin() {
    if (state_ != State::kWaiting) return RepairAction::kNone;
    state_ = State::kCopying;
    return RepairAction::kPostNextFile;
}

RepairAction RepairSequence::End(RepairAction action) {
    state_ = State::kEnded;
    return action;
}

RepairAction RepairSequence::Start() { return Begin(); }

RepairAction RepairSequence::Command(uintptr_t id) {
    if (state_ == State::kEnded) return RepairAction::kNone;
    if (id == ID_NEXT_FILE) {
        state_ = State::kCopying;
        // An empty table has nothing missing: done at once.
        if (table_[next_][0] == '\0') return End(RepairAction::kEndCopied);
        if (copy_(table_[next_]) == 0) return End(RepairAction::kEndFailed);
        ++next_;
        return table_[next_][0] == '\0' ? End(RepairAction::kEndCopied) : RepairAction::kPostNextFile;
    }
    // Each next file is posted, so keys reach the dialog between files. The
    // copy once under way cannot be stopped half-way by Escape, nor started a
    // second time by Enter.
    if (state_ == State::kCopying) return RepairAction::kNone;
    if (id == kCommandOk) return Begin();
    if (id == kCommandCancel) return End(RepairAction::kEndFailed);
    return RepairAction::kNone;
}
