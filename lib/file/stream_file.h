// Two file objects that are streams rather than random-access stores: a
// first-in first-out byte queue seen as a file, and a pipe between a
// producer thread and its consumers whose content stays whole.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "platform/platform.h"
#include "text/ptr_array.h"
#include "text/stream_buffer.h"

// What is written is appended, what is read is consumed; the read point is
// always the front. For one thread: no locking.
class EStreamFileBuffer : public HVBFileObject, public EStreamBuffer {
    HVB_DECLARE_CLASS2(EStreamFileBuffer, HVBFileObject, EStreamBuffer)

public:
    EStreamFileBuffer() { open_flags_ = modeRead | modeWrite; }

    // A new, empty queue: the content is not copied.
    HVBFileObject* Duplicate() override;
    uint32_t Read(void* buffer, uint32_t count) override { return EStreamBuffer::Read(buffer, count); }
    uint32_t Write(const void* buffer, uint32_t count) override { return EStreamBuffer::Write(buffer, count); }
    uint32_t GetLength() override { return EStreamBuffer::GetLength(); }
    // Drops the bytes from the front up to the target; a target past the
    // queued bytes empties the queue, a negative one drops nothing. Returns 0.
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override { return 0; }
    // Not supported.
    ResultCode SetEndOfFile() override { return ResultGeneralError; }
};

// A pipe between threads: one producer writes while consumers read; a read or
// seek that runs ahead of the producer waits (outside the lock) until the
// data arrives or SetEndOfFile declares the stream complete. Written bytes sit
// in fixed 16,384-byte blocks that never move and are never consumed.
class ESyncStreamFile : public HVBFileObject {
    HVB_DECLARE_CLASS(ESyncStreamFile, HVBFileObject)

public:
    static constexpr uint32_t kBlockSize = 0x4000;
    static constexpr uint32_t kNotAnnounced = 0xFFFFFFFFu;

    ESyncStreamFile();
    ~ESyncStreamFile() override;

    // Starts a new stream of the announced length (kNotAnnounced when it is
    // not known): drops every block, clears the events, open flags 7. Without
    // its events (their creation failed) the stream takes no bytes and is
    // finished at once, so that nothing waits on it.
    void Reset(uint32_t expected_length);

    // An EMemoryFile with every written byte, positioned at the read
    // position. Takes no lock: the producer must not be writing meanwhile.
    HVBFileObject* Duplicate() override;
    // Returns fewer than count bytes only once the stream is finished.
    uint32_t Read(void* buffer, uint32_t count) override;
    // Appends; fewer than count bytes only when the heap has nothing to give.
    uint32_t Write(const void* buffer, uint32_t count) override;
    // The announced length, or the written length once finished.
    uint32_t GetLength() override { return expected_length_; }
    // Waits until the target is written; once finished short of it, the read
    // position stays and is returned.
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override { return read_position_; }
    // The producer's "finished": wakes every waiting reader.
    ResultCode SetEndOfFile() override;

    uint32_t GetWrittenLength() const { return written_length_; }
    uint32_t GetBlockCount() const { return blocks_.GetCount(); }
    // Bytes used of block i; 0 past the table.
    uint32_t GetBlockUsed(uint32_t index) const;

private:
    struct Block {
        unsigned char* data;
        uint32_t used;
    };

    void FreeBlocks();
    // With the lock held: leaves it, waits until the event or the finish is
    // set, enters again. The caller counts again.
    void WaitFor(plat::EventHandle event);
    void UpdateDataEvent();
    bool HasEvents() const;

    EPtrArray blocks_;
    plat::EventHandle finished_event_;
    // Set while bytes lie between the read position and the written length.
    plat::EventHandle data_event_;
    // Seek waits for more to be written, which the data event does not say:
    // a write sets this one for the seekers waiting at that moment, and the
    // last of them to come back resets it.
    plat::EventHandle written_event_;
    uint32_t seekers_ = 0;
    uint32_t seekers_to_wake_ = 0;
    uint32_t written_generation_ = 0;
    uint32_t expected_length_ = kNotAnnounced;
    uint32_t read_position_ = 0;
    uint32_t written_length_ = 0;
    bool finished_ = false;
};
