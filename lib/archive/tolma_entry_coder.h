// One file's bytes coded into memory just as the archive stores them, apart
// from any archive, and stored afterwards with TOLMAArchive::StoreCodedEntry.
// Every entry's code and cipher start afresh, so files can be coded side by
// side, on several threads, while the archive is written in its own order.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "file/memory_file.h"

class TOLMAEncodeContext;

class TOLMAEntryCoder {
public:
    TOLMAEntryCoder() = default;
    ~TOLMAEntryCoder();
    TOLMAEntryCoder(const TOLMAEntryCoder&) = delete;
    TOLMAEntryCoder& operator=(const TOLMAEntryCoder&) = delete;

    // Starts anew. Password as for TOLMAArchive::OpenEntry. 0, or 1 for an
    // encoding not in the table or tables that cannot be allocated.
    ResultCode Begin(uint32_t encoding, const char* password);
    // The plain bytes, in order; the count taken.
    uint32_t Write(const void* buffer, uint32_t count);
    // Completes the code and appends the checksum. 0 or 1.
    ResultCode Finish();
    // Frees the coded bytes.
    void Reset();
    // Room for about this many coded bytes, made at once rather than as
    // they come (which may hold up to twice as much). False when the heap
    // has nothing to give; coding goes on all the same.
    bool Reserve(uint32_t bytes) { return data_.Reserve(bytes); }

    bool IsFinished() const { return finished_; }
    uint32_t GetEncoding() const { return encoding_; }
    const uint8_t* GetData() const { return data_.GetBuffer(); }
    uint32_t GetSize() const { return data_.GetLength(); }
    // The length the directory records: the plain bytes of a coded file, the
    // stored ones of a raw file.
    uint64_t GetEntryLength() const { return coded_ ? plain_count_ : data_.GetLength(); }

private:
    void DeleteCoders();

    // Its length is read through a non-const call.
    mutable EMemoryFile data_;
    TOLMAEncodeContext* code_ = nullptr;
    TOLMAEncodeContext* cipher_ = nullptr;
    uint32_t encoding_ = 0;
    uint32_t plain_count_ = 0;
    uint8_t checksum_[4] = {};
    uint32_t checksum_index_ = 0;
    bool coded_ = false;
    bool finished_ = false;
    bool failed_ = false;
    bool begun_ = false;
};
