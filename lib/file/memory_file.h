// The file object over a block of memory: either a growable buffer of its own
// on the library heap (Create, open flags 7) or a read-only view of a
// caller's buffer (Open, open flags 2).
#pragma once

#include <cstdint>

#include "file/file_object.h"

class EMemoryFile : public HVBFileObject {
    HVB_DECLARE_CLASS(EMemoryFile, HVBFileObject)

public:
    EMemoryFile() = default;
    ~EMemoryFile() override;

    ResultCode Create(uint32_t capacity);
    ResultCode Open(const void* buffer, uint32_t length);
    // Frees an own buffer; forgets a caller's. Safe when closed.
    void Close();

    // A new file owning a copy of all the bytes, positioned at 0.
    HVBFileObject* Duplicate() override;
    // Nothing is transferred from a position at or past the length.
    uint32_t Read(void* buffer, uint32_t count) override;
    // Grows an own buffer by the end of the write plus its size again, to the
    // next 4096. A caller's buffer is never grown: only what fits in its
    // length is written.
    uint32_t Write(const void* buffer, uint32_t count) override;
    uint32_t GetLength() override { return length_; }
    // Clamped below at 0; past the end, an own buffer's length (and the
    // buffer) grows to the position, a caller's is left as it is.
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override { return position_; }
    // The length becomes the position (never more than the buffer holds).
    ResultCode SetEndOfFile() override;

    // Makes an own buffer hold at least capacity bytes, leaving the length and
    // the position as they are. False when that would grow a caller's buffer,
    // on a closed file, or when the heap has nothing to give.
    bool Reserve(uint32_t capacity);

    const unsigned char* GetBuffer() const { return buffer_; }
    uint32_t GetCapacity() const { return capacity_; }

private:
    bool Owned() const { return (open_flags_ & modeWrite) != 0; }
    // Makes an own buffer hold at least size bytes, growing it to new_capacity.
    bool Grow(uint32_t size, uint32_t new_capacity);

    unsigned char* buffer_ = nullptr;
    uint32_t length_ = 0;
    uint32_t position_ = 0;
    uint32_t capacity_ = 0;
};
