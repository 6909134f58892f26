#include "file/stream_file.h"

#include <initializer_list>
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
    : finished_event_(plat::CreateManualResetEvent(false)),
      data_event_(plat::CreateManualResetEvent(false)),
      written_event_(plat::CreateManualResetEvent(false)) {
    // Nothing may wait on events that do not exist, even before a Reset.
    finished_ = !HasEvents();
}

ESyncStreamFile::~ESyncStreamFile() {
    for (plat::EventHandle event : {finished_event_, data_event_, written_event_}) {
        if (event != nullptr) plat::CloseEvent(event);
    }
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

bool ESyncStreamFile::HasEvents() const {
    return finished_event_ != nullptr && data_event_ != nullptr && written_event_ != nullptr;
}

void ESyncStreamFile::Reset(uint32_t expected_length) {
    FileLock lock(this);
    FreeBlocks();
    expected_length_ = expected_length;
    open_flags_ = modeCreate | modeRead | modeWrite;
    read_position_ = 0;
    written_length_ = 0;
    finished_ = false;
    if (!HasEvents()) {
        expected_length_ = 0;
        open_flags_ = modeRead;
        finished_ = true;
        return;
    }
    plat::ResetEvent(finished_event_);
    plat::ResetEvent(data_event_);
}

void ESyncStreamFile::WaitFor(plat::EventHandle event) {
    const plat::EventHandle events[2] = {event, finished_event_};
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
    if (!HasEvents()) return 0;
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
    if (total > 0 && seekers_ > 0) {
        // Every seeker waiting now is woken; those that come later wait for
        // the next write.
        ++written_generation_;
        seekers_to_wake_ = seekers_;
        plat::SetEvent(written_event_);
    }
    return total;
}

uint32_t ESyncStreamFile::Read(void* buffer, uint32_t count) {
    FileLock lock(this);
    auto* target = static_cast<unsigned char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        uint32_t available = written_length_ - read_position_;
        while (available == 0 && !finished_) {
            // Every byte is taken: the event must say so before the wait,
            // or the wait returns at once and the reader spins.
            UpdateDataEvent();
            WaitFor(data_event_);
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
        const uint32_t generation = written_generation_;
        ++seekers_;
        WaitFor(written_event_);
        --seekers_;
        if (written_generation_ != generation && --seekers_to_wake_ == 0) plat::ResetEvent(written_event_);
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
    if (finished_event_ != nullptr) plat::SetEvent(finished_event_);
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
