// The seekable byte stream that every reader and writer of the library
// consumes: 32-bit length and position, open flags, and a lock of its own.
#pragma once

#include <cstdint>

#include "core/object.h"
#include "core/result.h"
#include "platform/platform.h"

enum : uint32_t {
    modeCreate = 0x01,
    modeRead = 0x02,
    modeWrite = 0x04,
    shareRead = 0x10,
    shareWrite = 0x20,
};

enum : uint32_t {
    FromBegin = 0,
    FromCurrent = 1,
    FromEnd = 2,
};

class HVBFileObject : public HVBObject {
    HVB_DECLARE_CLASS(HVBFileObject, HVBObject)

public:
    HVBFileObject() { plat::InitializeCriticalSection(&lock_); }
    ~HVBFileObject() override { plat::DeleteCriticalSection(&lock_); }
    HVBFileObject(const HVBFileObject&) = delete;
    HVBFileObject& operator=(const HVBFileObject&) = delete;

    // A new file object over the same data, owned by the caller, or null where
    // the class cannot duplicate.
    virtual HVBFileObject* Duplicate() = 0;
    // Bytes actually transferred; 0 at the end, on failure, or where the class
    // cannot write.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
    virtual uint32_t GetLength() = 0;
    // Returns the new position.
    virtual uint32_t Seek(int32_t distance, uint32_t origin) = 0;
    virtual uint32_t GetPosition() = 0;
    virtual ResultCode SetEndOfFile() { return ResultGeneralError; }

    void Lock() { plat::EnterCriticalSection(&lock_); }
    void Unlock() { plat::LeaveCriticalSection(&lock_); }

    uint32_t GetOpenFlags() const { return open_flags_; }

protected:
    uint32_t open_flags_ = 0;

private:
    plat::CriticalSection lock_;
};

// Holds a file object's lock for a scope.
class FileLock {
public:
    explicit FileLock(HVBFileObject* file) : file_(file) { file_->Lock(); }
    ~FileLock() { file_->Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    HVBFileObject* file_;
};
