#include "file/raw_file.h"

ERawFile::~ERawFile() { Close(); }

uint32_t ERawFile::AccessOf(uint32_t flags) {
    return ((flags & modeRead) ? plat::kGenericRead : 0) | ((flags & modeWrite) ? plat::kGenericWrite : 0);
}

uint32_t ERawFile::ShareOf(uint32_t flags) {
    return ((flags & shareRead) ? plat::kFileShareRead : 0) | ((flags & shareWrite) ? plat::kFileShareWrite : 0);
}

ResultCode ERawFile::Open(const char* path, uint32_t flags) {
    Close();
    handle_ = plat::CreateFileHandle(path, AccessOf(flags), ShareOf(flags),
                                     (flags & modeCreate) ? plat::kCreateAlways : plat::kOpenExisting);
    if (!IsOpen()) {
        open_flags_ = 0;
        return ResultGeneralError;
    }
    open_flags_ = flags;
    if (full_path_.GetCapacity() < 257 && !full_path_.AllocString(257)) {
        file_name_ = const_cast<char*>(full_path_.GetString());
        return ResultSuccess;
    }
    char* name = nullptr;
    uint32_t n = plat::FullPathName(path, 256, full_path_.GetBuffer(), &name);
    if (n >= 256) {
        if (full_path_.GetCapacity() < n + 2) full_path_.AllocString(n + 2);
        if (full_path_.GetCapacity() >= n) n = plat::FullPathName(path, n, full_path_.GetBuffer(), &name);
    }
    if (n == 0 || n >= full_path_.GetCapacity()) full_path_.GetBuffer()[0] = 0;
    full_path_.ReleaseBuffer();
    // No file-name part (a path ending in a separator): the name is empty.
    file_name_ = name != nullptr ? name : full_path_.GetBuffer() + full_path_.GetLength();
    return ResultSuccess;
}

ResultCode ERawFile::OpenHandle(plat::FileHandle handle, uint32_t flags) {
    Close();
    full_path_ = "";
    file_name_ = full_path_.GetBuffer();
    // The invalid handle value is also the current process's pseudo-handle,
    // which the system would duplicate happily.
    if (handle == plat::InvalidFileHandle() ||
        !plat::DuplicateFileHandle(handle, &handle_, AccessOf(flags), true, false)) {
        handle_ = plat::InvalidFileHandle();
        open_flags_ = 0;
        return ResultGeneralError;
    }
    open_flags_ = flags;
    return ResultSuccess;
}

void ERawFile::Close() {
    FileLock lock(this);
    if (IsOpen()) plat::CloseFileHandle(handle_);
    handle_ = plat::InvalidFileHandle();
}

HVBFileObject* ERawFile::Duplicate() {
    FileLock lock(this);
    auto* copy = new ERawFile;
    copy->full_path_ = full_path_;
    if (file_name_ != nullptr && full_path_.GetString() != nullptr) {
        copy->file_name_ = copy->full_path_.GetBuffer() + (file_name_ - full_path_.GetString());
    }
    if ((open_flags_ & modeRead) && full_path_.GetLength() > 0) {
        const uint32_t access = plat::kGenericRead | ((open_flags_ & modeWrite) ? plat::kGenericWrite : 0);
        copy->handle_ =
            plat::CreateFileHandle(full_path_.GetString(), access, ShareOf(open_flags_), plat::kOpenExisting);
    } else if (IsOpen()) {
        plat::DuplicateFileHandle(handle_, &copy->handle_, 0, true, true);
    }
    copy->open_flags_ = open_flags_;
    return copy;
}

uint32_t ERawFile::Read(void* buffer, uint32_t count) {
    FileLock lock(this);
    uint32_t done = 0;
    if (!plat::ReadFileData(handle_, buffer, count, &done)) return 0;
    return done;
}

uint32_t ERawFile::Write(const void* buffer, uint32_t count) {
    FileLock lock(this);
    uint32_t done = 0;
    plat::WriteFileData(handle_, buffer, count, &done);
    return done;
}

uint32_t ERawFile::GetLength() {
    FileLock lock(this);
    return plat::GetFileSizeLow(handle_);
}

uint32_t ERawFile::Seek(int32_t distance, uint32_t origin) {
    FileLock lock(this);
    return plat::SetFilePointer(handle_, distance, origin);
}

uint32_t ERawFile::GetPosition() {
    FileLock lock(this);
    return plat::SetFilePointer(handle_, 0, plat::kFileCurrent);
}

ResultCode ERawFile::SetEndOfFile() { return plat::SetEndOfFile(handle_) ? ResultSuccess : ResultGeneralError; }

ResultCode ERawFile::GetFileTime(plat::SystemTime* creation, plat::SystemTime* access, plat::SystemTime* write) {
    if (!IsOpen()) return ResultGeneralError;
    plat::FileTime times[3];
    if (!plat::GetFileTimes(handle_, &times[0], &times[1], &times[2])) return ResultGeneralError;
    plat::SystemTime* out[3] = {creation, access, write};
    for (int i = 0; i < 3; ++i) {
        if (out[i] == nullptr) continue;
        plat::FileTime local;
        if (!plat::FileTimeToLocalFileTime(&times[i], &local) || !plat::FileTimeToSystemTime(&local, out[i])) {
            return ResultGeneralError;
        }
    }
    return ResultSuccess;
}

ResultCode ERawFile::SetFileTime(const plat::SystemTime* creation, const plat::SystemTime* access,
                                 const plat::SystemTime* write) {
    if (!IsOpen()) return ResultGeneralError;
    const plat::SystemTime* in[3] = {creation, access, write};
    plat::FileTime times[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (in[i] == nullptr) continue;
        plat::FileTime local;
        if (!plat::SystemTimeToFileTime(in[i], &local) || !plat::LocalFileTimeToFileTime(&local, &times[i])) {
            return ResultGeneralError;
        }
    }
    return plat::SetFileTimes(handle_, creation ? &times[0] : nullptr, access ? &times[1] : nullptr,
                              write ? &times[2] : nullptr)
               ? ResultSuccess
               : ResultGeneralError;
}
