// The file object over an operating-system file handle. No buffering: every
// Read or Write is one system call of the size asked for.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "platform/file.h"
#include "text/string.h"

class ERawFile : public HVBFileObject {
    HVB_DECLARE_CLASS(ERawFile, HVBFileObject)

public:
    ERawFile() = default;
    ~ERawFile() override;

    // modeCreate creates or truncates, otherwise the file must exist;
    // modeRead / modeWrite give the access, shareRead / shareWrite what
    // others may do meanwhile. 0 on success, 1 on failure (flags then 0).
    ResultCode Open(const char* path, uint32_t flags);
    // Works on an own duplicate of a handle the caller keeps.
    ResultCode OpenHandle(plat::FileHandle handle, uint32_t flags);
    // Safe on a closed file and twice; keeps the flags and the path.
    void Close();

    // Opened by name with modeRead: the file is opened again and the copy has
    // its own position. Otherwise the handle is duplicated and the position
    // shared. A failure leaves the copy closed.
    HVBFileObject* Duplicate() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    // 0xFFFFFFFF on failure, as the system reports it.
    uint32_t GetLength() override;
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override;
    // Truncates (or extends) the file at the current position.
    ResultCode SetEndOfFile() override;

    // Local times; null pointers are skipped (not changed, for SetFileTime).
    ResultCode GetFileTime(plat::SystemTime* creation, plat::SystemTime* access, plat::SystemTime* write);
    ResultCode SetFileTime(const plat::SystemTime* creation, const plat::SystemTime* access,
                           const plat::SystemTime* write);

    plat::FileHandle GetHandle() const { return handle_; }
    bool IsOpen() const { return handle_ != plat::InvalidFileHandle(); }
    // Absolute path of a file opened by name; empty for one opened on a handle.
    const EString& GetFullPath() const { return full_path_; }
    const char* GetFileNamePart() const { return file_name_; }

private:
    static uint32_t AccessOf(uint32_t flags);
    static uint32_t ShareOf(uint32_t flags);

    plat::FileHandle handle_ = plat::InvalidFileHandle();
    EString full_path_;
    char* file_name_ = nullptr;
};
