// A first-in first-out byte queue over a chain of heap chunks. Queued bytes
// move between chunks only when Peek or PeekAt must show them contiguously.
#pragma once

#include <cstdint>

#include "core/object.h"

struct EStreamChunk {
    EStreamChunk* next;
    unsigned char* data;  // owned block
    uint32_t read_offset;
    uint32_t queued;  // data[read_offset .. read_offset + queued)
    uint32_t block_size;
};

class EStreamBuffer : public HVBObject {
    HVB_DECLARE_CLASS(EStreamBuffer, HVBObject)

public:
    EStreamBuffer() = default;
    // One chunk holding a copy.
    EStreamBuffer(const void* data, uint32_t length);
    EStreamBuffer(const EStreamBuffer&) = delete;
    EStreamBuffer& operator=(const EStreamBuffer&) = delete;
    ~EStreamBuffer() override;

    void Clear();
    uint32_t GetLength() const { return total_; }

    // Bytes queued (fewer only when the heap runs out).
    uint32_t Write(const void* data, uint32_t n);
    // Room for n bytes at the end, to be filled and then committed; null when
    // the heap has nothing to give.
    void* GetWriteBuffer(uint32_t n);
    // Queues n bytes of the room given last (never more than it holds).
    void CommitWrite(uint32_t n);
    // Bytes copied from the front; a null destination discards them.
    uint32_t Read(void* destination, uint32_t n);
    // A contiguous view of up to n bytes at the front (n 0 or more than
    // queued: all of them); *length gets its size. Null when empty.
    const void* Peek(uint32_t n, uint32_t* length);
    // Drops up to n bytes from the front; returns how many.
    uint32_t Skip(uint32_t n);
    // n contiguous bytes starting offset bytes into the queue, or null when
    // fewer follow.
    const void* PeekAt(uint32_t offset, uint32_t n);

    const EStreamChunk* GetFirstChunk() const { return first_; }

private:
    static EStreamChunk* NewChunk(uint32_t size);
    static void FreeChunk(EStreamChunk* chunk);
    // Makes chunk hold `need` queued bytes contiguously from its read offset,
    // taking them from the chunks after it.
    bool Gather(EStreamChunk* chunk, uint32_t need);

    EStreamChunk* first_ = nullptr;
    EStreamChunk* last_ = nullptr;
    uint32_t total_ = 0;
};
