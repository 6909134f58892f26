#include "file/memory_file.h"

#include "core/hvb.h"
#include "core/memory.h"

EMemoryFile::~EMemoryFile() { Close(); }

ResultCode EMemoryFile::Create(uint32_t capacity) {
    FileLock lock(this);
    Close();
    buffer_ = static_cast<unsigned char*>(hvbHeapAllocate(nullptr, capacity, 0));
    if (buffer_ == nullptr) return ResultSuccess;  // stays closed; the heap has asked already
    capacity_ = capacity;
    length_ = 0;
    position_ = 0;
    open_flags_ = modeCreate | modeRead | modeWrite;
    return ResultSuccess;
}

ResultCode EMemoryFile::Open(const void* buffer, uint32_t length) {
    FileLock lock(this);
    Close();
    buffer_ = static_cast<unsigned char*>(const_cast<void*>(buffer));
    length_ = buffer_ != nullptr ? length : 0;
    capacity_ = length_;
    position_ = 0;
    open_flags_ = modeRead;
    return ResultSuccess;
}

void EMemoryFile::Close() {
    FileLock lock(this);
    if (Owned() && buffer_ != nullptr) hvbHeapFree(nullptr, buffer_, 0);
    buffer_ = nullptr;
    length_ = 0;
    position_ = 0;
    capacity_ = 0;
    open_flags_ = 0;
}

bool EMemoryFile::Grow(uint32_t size, uint32_t new_capacity) {
    if (size <= capacity_) return true;
    if (!Owned()) return false;
    auto* grown = static_cast<unsigned char*>(hvbHeapReallocate(nullptr, buffer_, new_capacity, 0));
    if (grown == nullptr) return false;
    buffer_ = grown;
    capacity_ = new_capacity;
    return true;
}

bool EMemoryFile::Reserve(uint32_t capacity) {
    FileLock lock(this);
    return buffer_ != nullptr && Grow(capacity, capacity);
}

HVBFileObject* EMemoryFile::Duplicate() {
    FileLock lock(this);
    auto* copy = new EMemoryFile;
    copy->Create(length_);
    copy->Write(buffer_, length_);
    copy->Seek(0, FromBegin);
    return copy;
}

uint32_t EMemoryFile::Read(void* buffer, uint32_t count) {
    FileLock lock(this);
    if (buffer_ == nullptr || position_ >= length_) return 0;
    if (count > length_ - position_) count = length_ - position_;
    MemoryMove(buffer, buffer_ + position_, count);
    position_ += count;
    return count;
}

uint32_t EMemoryFile::Write(const void* buffer, uint32_t count) {
    FileLock lock(this);
    if (buffer_ == nullptr || count == 0) return 0;
    if (!Owned()) {
        // A caller's buffer: overwrite what lies inside it, never beyond.
        if (position_ >= length_) return 0;
        if (count > length_ - position_) count = length_ - position_;
    } else {
        if (count > 0xFFFFFFFFu - position_) count = 0xFFFFFFFFu - position_;
        const uint32_t end = position_ + count;
        if (end > length_) {
            if (end > capacity_) {
                uint64_t want = (static_cast<uint64_t>(end) + count + 0xFFF) & ~static_cast<uint64_t>(0xFFF);
                if (want > 0xFFFFF000u) want = end;
                if (!Grow(end, static_cast<uint32_t>(want))) return 0;
            }
            length_ = end;
        }
    }
    MemoryMove(buffer_ + position_, buffer, count);
    position_ += count;
    return count;
}

uint32_t EMemoryFile::Seek(int32_t distance, uint32_t origin) {
    FileLock lock(this);
    uint32_t target = position_;
    if (origin == FromBegin)
        target = static_cast<uint32_t>(distance);
    else if (origin == FromCurrent)
        target = position_ + static_cast<uint32_t>(distance);
    else if (origin == FromEnd)
        target = length_ + static_cast<uint32_t>(distance);
    if (static_cast<int32_t>(target) < 0) target = 0;
    position_ = target;
    if (position_ > length_ && Owned() && buffer_ != nullptr) {
        // The buffer always covers the length; what lies between the old end
        // and the new one is undefined.
        if (Grow(position_, (position_ + 0xFFF) & ~0xFFFu)) length_ = position_;
    }
    return position_;
}

ResultCode EMemoryFile::SetEndOfFile() {
    length_ = position_ <= capacity_ ? position_ : capacity_;
    return ResultSuccess;
}
