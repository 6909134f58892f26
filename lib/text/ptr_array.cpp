#include "text/ptr_array.h"

#include "core/hvb.h"
#include "core/memory.h"

EPtrArray::EPtrArray(const EPtrArray& source, uint32_t first, int32_t count) : HVBObject() {
    step_ = source.step_;
    if (first >= source.count_) return;
    uint32_t n = source.count_ - first;
    if (count >= 0 && static_cast<uint32_t>(count) < n) n = static_cast<uint32_t>(count);
    if (n == 0 || !SetSize(n)) return;
    MemoryMove(items_, source.items_ + first, n * sizeof(void*));
}

EPtrArray::~EPtrArray() { EPtrArray::FreeBuffer(); }

bool EPtrArray::SetLimit(uint32_t n) {
    if (n > 0x3FFFFFFFu) return false;
    if (n == 0) {
        FreeBuffer();
        count_ = 0;
        return true;
    }
    void* p = hvbHeapReallocate(nullptr, items_, n * sizeof(void*), 0);
    if (p == nullptr) return false;
    items_ = static_cast<void**>(p);
    limit_ = n;
    if (count_ > n) count_ = n;
    return true;
}

void EPtrArray::FreeBuffer() {
    if (items_ != nullptr) hvbHeapFree(nullptr, items_, 0);
    items_ = nullptr;
    limit_ = 0;
    if (count_ > 0) count_ = 0;
}

bool EPtrArray::SetSize(uint32_t n, uint32_t step) {
    if (step != 0) step_ = step;
    uint32_t in_force = step_;
    if (in_force == 0) in_force = count_ / 2 > 1 ? count_ / 2 : 1;
    if (items_ == nullptr || limit_ < n) {
        const uint64_t want = static_cast<uint64_t>(n) + in_force - n % in_force;
        if (want > 0x3FFFFFFFu || !SetLimit(static_cast<uint32_t>(want))) return false;
    }
    for (uint32_t i = count_; i < n; ++i) items_[i] = nullptr;
    count_ = n;
    return true;
}

void EPtrArray::Reserve(uint32_t n, uint32_t step) {
    if (step != 0) step_ = step;
    if (n >= count_ && n > 0) SetLimit(n);
}

bool EPtrArray::InsertAt(uint32_t index, void* pointer) {
    const uint32_t old = count_;
    if (old == 0xFFFFFFFFu || index == 0xFFFFFFFFu) return false;
    if (!SetSize(old + 1 > index + 1 ? old + 1 : index + 1)) return false;
    if (index < old) MemoryMove(items_ + index + 1, items_ + index, (old - index) * sizeof(void*));
    items_[index] = pointer;
    return true;
}

void EPtrArray::RemoveAt(uint32_t index, uint32_t n) {
    if (index >= count_) return;
    if (n > count_ - index) n = count_ - index;
    const uint32_t tail = count_ - index - n;
    if (tail > 0) MemoryMove(items_ + index, items_ + index + n, tail * sizeof(void*));
    SetSize(count_ - n);
}

void EPtrArray::RemoveAll() {
    FreeBuffer();
    count_ = 0;
}

void EPtrArray::Swap(uint32_t i, uint32_t j) {
    if (i >= count_ || j >= count_) return;
    void* t = items_[i];
    items_[i] = items_[j];
    items_[j] = t;
}

bool EPtrArray::SetAt(uint32_t index, void* pointer) {
    if (index >= count_) return false;
    items_[index] = pointer;
    return true;
}

// An insertion point past the end grows the array to it first (null slots),
// so that the moved and copied ranges always lie inside the storage.
bool EPtrArray::InsertArray(uint32_t at, const EPtrArray& source, uint32_t first, int32_t n) {
    if (first >= source.count_) return true;
    uint32_t count = n < 0 ? source.count_ : static_cast<uint32_t>(n);
    if (count > source.count_ - first) count = source.count_ - first;
    if (count == 0) return true;
    // Inserting from ourselves: take the pointers before anything moves.
    void** from = source.items_ + first;
    void** copy = nullptr;
    if (&source == this) {
        copy = static_cast<void**>(hvbHeapAllocate(nullptr, count * sizeof(void*), 0));
        if (copy == nullptr) return false;
        MemoryMove(copy, from, count * sizeof(void*));
        from = copy;
    }
    const uint32_t old = count_;
    const uint32_t base = at > old ? at : old;
    bool ok = static_cast<uint64_t>(base) + count <= 0x3FFFFFFFu && SetSize(base + count);
    if (ok) {
        if (at < old) MemoryMove(items_ + at + count, items_ + at, (old - at) * sizeof(void*));
        MemoryMove(items_ + at, from, count * sizeof(void*));
    }
    if (copy != nullptr) hvbHeapFree(nullptr, copy, 0);
    return ok;
}
