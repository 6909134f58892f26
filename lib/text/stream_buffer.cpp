#include "text/stream_buffer.h"

#include <new>

#include "core/hvb.h"
#include "core/memory.h"

namespace {

constexpr uint32_t kBlockUnit = 4096;

uint32_t BlockSizeFor(uint32_t n) {
    if (n > 0xFFFFFFFFu - (kBlockUnit - 1)) return 0;
    const uint32_t size = (n + kBlockUnit - 1) & ~(kBlockUnit - 1);
    return size == 0 ? kBlockUnit : size;
}

}  // namespace

EStreamBuffer::EStreamBuffer(const void* data, uint32_t length) { Write(data, length); }

EStreamBuffer::~EStreamBuffer() { Clear(); }

EStreamChunk* EStreamBuffer::NewChunk(uint32_t size) {
    const uint32_t block = BlockSizeFor(size);
    if (block == 0) return nullptr;
    auto* chunk = new (std::nothrow) EStreamChunk{};
    if (chunk == nullptr) return nullptr;
    chunk->data = static_cast<unsigned char*>(hvbHeapAllocate(nullptr, block, 0));
    if (chunk->data == nullptr) {
        delete chunk;
        return nullptr;
    }
    chunk->block_size = block;
    return chunk;
}

void EStreamBuffer::FreeChunk(EStreamChunk* chunk) {
    hvbHeapFree(nullptr, chunk->data, 0);
    delete chunk;
}

void EStreamBuffer::Clear() {
    for (EStreamChunk* chunk = first_; chunk != nullptr;) {
        EStreamChunk* next = chunk->next;
        FreeChunk(chunk);
        chunk = next;
    }
    first_ = last_ = nullptr;
    total_ = 0;
}

uint32_t EStreamBuffer::Write(const void* data, uint32_t n) {
    if (n == 0 || data == nullptr) return 0;
    void* room = GetWriteBuffer(n);
    if (room == nullptr) return 0;
    MemoryMove(room, data, n);
    CommitWrite(n);
    return n;
}

void* EStreamBuffer::GetWriteBuffer(uint32_t n) {
    if (last_ != nullptr) {
        if (last_->queued == 0) last_->read_offset = 0;  // an empty block is reused from its start
        if (last_->block_size - last_->read_offset - last_->queued >= n) {
            return last_->data + last_->read_offset + last_->queued;
        }
    }
    EStreamChunk* chunk = NewChunk(n);
    if (chunk == nullptr) return nullptr;
    if (last_ != nullptr)
        last_->next = chunk;
    else
        first_ = chunk;
    last_ = chunk;
    return chunk->data;
}

void EStreamBuffer::CommitWrite(uint32_t n) {
    if (last_ == nullptr) return;
    const uint32_t room = last_->block_size - last_->read_offset - last_->queued;
    if (n > room) n = room;
    last_->queued += n;
    total_ += n;
}

uint32_t EStreamBuffer::Read(void* destination, uint32_t n) {
    auto* out = static_cast<unsigned char*>(destination);
    uint32_t done = 0;
    while (done < n && first_ != nullptr) {
        EStreamChunk* chunk = first_;
        uint32_t take = chunk->queued < n - done ? chunk->queued : n - done;
        if (out != nullptr) MemoryMove(out + done, chunk->data + chunk->read_offset, take);
        chunk->read_offset += take;
        chunk->queued -= take;
        done += take;
        total_ -= take;
        if (chunk->queued == 0) {
            first_ = chunk->next;
            if (first_ == nullptr) last_ = nullptr;
            FreeChunk(chunk);
        }
    }
    return done;
}

uint32_t EStreamBuffer::Skip(uint32_t n) { return Read(nullptr, n); }

bool EStreamBuffer::Gather(EStreamChunk* chunk, uint32_t need) {
    if (chunk->queued >= need) return true;
    if (chunk->block_size - chunk->read_offset < need) {
        if (chunk->block_size >= need) {
            MemoryMove(chunk->data, chunk->data + chunk->read_offset, chunk->queued);
        } else {
            const uint32_t block = BlockSizeFor(need);
            auto* data = block != 0 ? static_cast<unsigned char*>(hvbHeapAllocate(nullptr, block, 0)) : nullptr;
            if (data == nullptr) return false;
            MemoryMove(data, chunk->data + chunk->read_offset, chunk->queued);
            hvbHeapFree(nullptr, chunk->data, 0);
            chunk->data = data;
            chunk->block_size = block;
        }
        chunk->read_offset = 0;
    }
    while (chunk->queued < need && chunk->next != nullptr) {
        EStreamChunk* next = chunk->next;
        const uint32_t want = need - chunk->queued;
        const uint32_t take = next->queued < want ? next->queued : want;
        MemoryMove(chunk->data + chunk->read_offset + chunk->queued, next->data + next->read_offset, take);
        chunk->queued += take;
        next->read_offset += take;
        next->queued -= take;
        if (next->queued == 0) {
            chunk->next = next->next;
            if (last_ == next) last_ = chunk;
            FreeChunk(next);
        }
    }
    return chunk->queued >= need;
}

const void* EStreamBuffer::Peek(uint32_t n, uint32_t* length) {
    if (length != nullptr) *length = 0;
    if (first_ == nullptr || total_ == 0) return nullptr;
    if (n == 0 || n > total_) n = total_;
    if (!Gather(first_, n)) return nullptr;
    if (length != nullptr) *length = n;
    return first_->data + first_->read_offset;
}

const void* EStreamBuffer::PeekAt(uint32_t offset, uint32_t n) {
    if (offset >= total_ || n > total_ - offset) return nullptr;
    EStreamChunk* chunk = first_;
    while (chunk != nullptr && offset >= chunk->queued) {
        offset -= chunk->queued;
        chunk = chunk->next;
    }
    if (chunk == nullptr || !Gather(chunk, offset + n)) return nullptr;
    return chunk->data + chunk->read_offset + offset;
}
