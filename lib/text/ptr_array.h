// A growable array of untyped pointers, and the typed variant that owns
// (destroys) its elements.
#pragma once

#include <cstdint>

#include "core/object.h"

class EPtrArray : public HVBObject {
    HVB_DECLARE_CLASS(EPtrArray, HVBObject)

public:
    EPtrArray() = default;
    // Copy of source[first .. first + count), count -1 meaning to the end,
    // clipped to the source; the copy takes the source's growth step.
    EPtrArray(const EPtrArray& source, uint32_t first = 0, int32_t count = -1);
    EPtrArray& operator=(const EPtrArray&) = delete;
    ~EPtrArray() override;

    // Storage for exactly n pointers (the count is cut to it). False when
    // the heap has nothing to give; the array is then unchanged.
    virtual bool SetLimit(uint32_t n);
    virtual void FreeBuffer();

    // A step of 0 keeps the stored one; a stored 0 means half the count, at
    // least 1. New slots are null.
    bool SetSize(uint32_t n, uint32_t step = 0);
    void Reserve(uint32_t n, uint32_t step = 0);
    // Past the end, the array grows to index + 1 with null slots between.
    bool InsertAt(uint32_t index, void* pointer);
    bool Add(void* pointer) { return InsertAt(count_, pointer); }
    // Out-of-range parts are ignored.
    void RemoveAt(uint32_t index, uint32_t n = 1);
    void RemoveAll();
    void Swap(uint32_t i, uint32_t j);
    // Inserts source[first .. first + n) at `at`; n -1 means all of it.
    bool InsertArray(uint32_t at, const EPtrArray& source, uint32_t first = 0, int32_t n = -1);

    // Null out of range.
    void* GetAt(uint32_t index) const { return index < count_ ? items_[index] : nullptr; }
    void* operator[](uint32_t index) const { return GetAt(index); }
    // False out of range.
    bool SetAt(uint32_t index, void* pointer);
    uint32_t GetCount() const { return count_; }
    uint32_t GetLimit() const { return limit_; }
    uint32_t GetGrowthStep() const { return step_; }
    void** GetData() const { return items_; }

private:
    void** items_ = nullptr;
    uint32_t count_ = 0;
    uint32_t limit_ = 0;
    uint32_t step_ = 0;
};

// Owns its elements: destroying the array destroys every non-null element.
template <typename T>
class ETypedPtrArray : public EPtrArray {
public:
    ETypedPtrArray() = default;
    ETypedPtrArray(const ETypedPtrArray&) = delete;
    ETypedPtrArray& operator=(const ETypedPtrArray&) = delete;
    ~ETypedPtrArray() override {
        for (uint32_t i = 0; i < GetCount(); ++i) delete static_cast<T*>(GetAt(i));
        RemoveAll();
    }

    T* GetAt(uint32_t index) const { return static_cast<T*>(EPtrArray::GetAt(index)); }
    T* operator[](uint32_t index) const { return GetAt(index); }
};
