#include "file/stream_file.h"

#include <new>

#include "core/hvb.h"
#include "core/memory.h"
#include "file/memory_file.h"

HVBFileObject* EStreamFileBuffer::Duplicate() { return new EStreamFileBuffer; }

uint32_t EStreamFileBuffer::Seek(int32_t distance, uint32_t origin) {
    int64_t target = distance;
    if (origin == FromEnd) target += EStreamBuffer::GetLength();
    if (target > 0) EStreamBuffer::Skip(static_cast<uint32_t>(target));
    return 0;
}

ESyncStreamFile::ESyncStreamFile()
    : finished_event_(plat::CreateManualResetEvent(false)), data_event_(plat::CreateManualResetEvent(false)) {}

ESyncStreamFile::~ESyncStreamFile() {
    if (finished_event_ != nullptr) plat::CloseEvent(finished_event_);
    if (data_event_ != nullptr) plat::CloseEvent(data_event_);
    FreeBlocks();
}

void ESyncStreamFile::FreeBlocks() {
    for (uint32_t i = 0; i < blocks_.GetCount(); ++i) {
        auto* block = static_cast<Block*>(blocks_.GetAt(i));
        if (block == nullptr) continue;
        hvbHeapFree(nullptr, block->data, 0);
        delete block;
    }
    blocks_.RemoveAll();
}

uint32_t ESyncStreamFile::GetBlockUsed(uint32_t index) const {
    const auto* block = static_cast<const Block*>(blocks_.GetAt(index));
    return block != nullptr ? block->used : 0;
}

void ESyncStreamFile::Reset(uint32_t expected_length) {
    FileLock lock(this);
    plat::ResetEvent(finished_event_);
    plat::ResetEvent(data_event_);
    FreeBlocks();
    expected_length_ = expected_length;
    open_flags_ = modeCreate | modeRead | modeWrite;
    read_position_ = 0;
    written_length_ = 0;
    finished_ = false;
}

void ESyncStreamFile::WaitForChange() {
    const plat::EventHandle events[2] = {data_event_, finished_event_};
    Unlock();
    plat::WaitForAnyEvent(events, 2);
    Lock();
}

void ESyncStreamFile::UpdateDataEvent() {
    // The data event says that bytes lie between the read position and the
    // written length: every reader sees it, and a reader that wakes counts
    // the bytes again rather than trusting the wake.
    if (read_position_ < written_length_) {
        plat::SetEvent(data_event_);
    } else {
        plat::ResetEvent(data_event_);
    }
}

uint32_t ESyncStreamFile::Write(const void* buffer, uint32_t count) {
    FileLock lock(this);
    const auto* source = static_cast<const unsigned char*>(buffer);
    uint32_t total = 0;
    // Never past 4 GiB: positions are 32-bit.
    if (count > 0xFFFFFFFFu - written_length_) count = 0xFFFFFFFFu - written_length_;
    while (total < count) {
        const uint32_t index = written_length_ / kBlockSize;
        auto* block = static_cast<Block*>(blocks_.GetAt(index));
        if (block == nullptr) {
            if (index >= blocks_.GetCount() && !blocks_.SetSize(index + 1)) break;
            auto* data = static_cast<unsigned char*>(hvbHeapAllocate(nullptr, kBlockSize, 0));
            if (data == nullptr) break;
            block = new (std::nothrow) Block{data, 0};
            if (block == nullptr) {
                hvbHeapFree(nullptr, data, 0);
                break;
            }
            blocks_.SetAt(index, block);
        }
        uint32_t n = kBlockSize - block->used;
        if (n > count - total) n = count - total;
        MemoryMove(block->data + block->used, source + total, n);
        block->used += n;
        written_length_ += n;
        total += n;
    }
    UpdateDataEvent();
    return total;
}

uint32_t ESyncStreamFile::Read(void* buffer, uint32_t count) {
    FileLock lock(this);
    auto* target = static_cast<unsigned char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        uint32_t available = written_length_ - read_position_;
        while (available == 0 && !finished_) {
            WaitForChange();
            available = written_length_ - read_position_;
        }
        if (available == 0) break;
        const auto* block = static_cast<const Block*>(blocks_.GetAt(read_position_ / kBlockSize));
        const uint32_t offset = read_position_ % kBlockSize;
        uint32_t n = count - total;
        if (n > available) n = available;
        if (n > kBlockSize - offset) n = kBlockSize - offset;
        MemoryMove(target + total, block->data + offset, n);
        read_position_ += n;
        total += n;
    }
    UpdateDataEvent();
    return total;
}

uint32_t ESyncStreamFile::Seek(int32_t distance, uint32_t origin) {
    FileLock lock(this);
    uint32_t target = static_cast<uint32_t>(distance);
    if (origin == FromCurrent) {
        target += read_position_;
    } else if (origin == FromEnd) {
        target += expected_length_ != kNotAnnounced ? expected_length_ : written_length_;
    }
    while (written_length_ < target) {
        if (finished_) return read_position_;
        WaitForChange();
    }
    read_position_ = target;
    UpdateDataEvent();
    return target;
}

ResultCode ESyncStreamFile::SetEndOfFile() {
    FileLock lock(this);
    open_flags_ = modeRead;
    expected_length_ = written_length_;
    finished_ = true;
    plat::SetEvent(finished_event_);
    return ResultSuccess;
}

HVBFileObject* ESyncStreamFile::Duplicate() {
    auto* copy = new EMemoryFile;
    copy->Create(written_length_);
    for (uint32_t i = 0; i < blocks_.GetCount(); ++i) {
        const auto* block = static_cast<const Block*>(blocks_.GetAt(i));
        if (block != nullptr) copy->Write(block->data, block->used);
    }
    copy->Seek(static_cast<int32_t>(read_position_), FromBegin);
    return copy;
}
