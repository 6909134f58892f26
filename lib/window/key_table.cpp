#include "window/key_table.h"

#include <new>

int32_t EKeyAssignmentTable::Search(const EKeyEvent& input) const {
    int32_t low = 0;
    int32_t high = static_cast<int32_t>(items_.GetCount()) - 1;
    while (low <= high) {
        const int32_t middle = low + (high - low) / 2;
        const int c = CompareKeyEvents(items_.GetAt(middle)->input, input);
        if (c == 0) return middle;
        if (c < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return -low - 1;
}

bool EKeyAssignmentTable::Set(const EKeyEvent& input, const EKeyEvent& output) {
    const int32_t at = Search(input);
    if (at >= 0) {
        items_.GetAt(at)->output = output;
        return true;
    }
    auto* item = new (std::nothrow) EKeyAssignment{input, output};
    if (item == nullptr) return false;
    if (!items_.InsertAt(static_cast<uint32_t>(-at - 1), item)) {
        delete item;
        return false;
    }
    return true;
}

void EKeyAssignmentTable::Remove(const EKeyEvent& input) {
    const int32_t at = Search(input);
    if (at < 0) return;
    delete items_.GetAt(at);
    items_.RemoveAt(at);
}

void EKeyAssignmentTable::RemoveAll() {
    for (uint32_t i = 0; i < items_.GetCount(); ++i) delete items_.GetAt(i);
    items_.RemoveAll();
}

const EKeyEvent* EKeyAssignmentTable::Find(const EKeyEvent& input) const {
    const int32_t at = Search(input);
    return at >= 0 ? &items_.GetAt(at)->output : nullptr;
}

bool EKeyAssignmentTable::Resolve(const EKeyEvent& key, EKeyEvent* final_event) const {
    const EKeyEvent* output = Find(key);
    if (output == nullptr) {
        *final_event = key;
        return false;
    }
    // A cycle of assignments ends after a fixed number of steps.
    for (int step = 0; step < kMaxChainSteps; ++step) {
        const EKeyEvent* next = Find(*output);
        if (next == nullptr) break;
        output = next;
    }
    *final_event = *output;
    return true;
}

void EKeyAssignmentTable::ListInputsFor(const EKeyEvent& output, EPtrArray* inputs) const {
    for (uint32_t i = 0; i < items_.GetCount(); ++i) {
        const EKeyAssignment* item = items_.GetAt(i);
        if (!(item->output == output)) continue;
        auto* copy = new (std::nothrow) EKeyEvent(item->input);
        if (copy != nullptr && !inputs->Add(copy)) delete copy;
    }
}
