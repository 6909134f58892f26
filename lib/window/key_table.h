// The input filter's assignment table: input key to output key, sorted by
// input key, at most one assignment per input.
#pragma once

#include <cstdint>

#include "text/ptr_array.h"
#include "window/key_event.h"

struct EKeyAssignment {
    EKeyEvent input;
    EKeyEvent output;
};

class EKeyAssignmentTable {
public:
    // How many further assignments a chain follows after the first.
    static constexpr int kMaxChainSteps = 16;

    // Inserts, or replaces the output of the same input. False when the
    // heap has nothing to give.
    bool Set(const EKeyEvent& input, const EKeyEvent& output);
    void Remove(const EKeyEvent& input);
    void RemoveAll();
    // Null when the input has no assignment.
    const EKeyEvent* Find(const EKeyEvent& input) const;
    // The event a key stands for after following its chain of assignments;
    // the key itself when it has none. Returns whether it has one.
    bool Resolve(const EKeyEvent& key, EKeyEvent* final_event) const;
    // Appends a new EKeyEvent copy of every input assigned to output; the
    // caller owns them.
    void ListInputsFor(const EKeyEvent& output, EPtrArray* inputs) const;

    uint32_t GetCount() const { return items_.GetCount(); }
    const EKeyAssignment* GetAt(uint32_t index) const { return items_.GetAt(index); }

private:
    // Index of the input, or where it would go (negated, minus 1).
    int32_t Search(const EKeyEvent& input) const;

    ETypedPtrArray<EKeyAssignment> items_;
};
