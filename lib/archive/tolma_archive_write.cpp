// Writing an archive: each file's record, its bytes encoded as they are
// written, and the directory records that name them.
#include <cstring>

#include "archive/tolma_archive.h"
#include "archive/tolma_archive_layout.h"
#include "archive/tolma_entry_coder.h"
#include "codec/encode_context.h"

namespace {

void PutLe(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class RecordWriter {
public:
    explicit RecordWriter(QDXFile* file) : file_(file) {}
    ~RecordWriter() { Flush(); }
    void Put(const void* data, uint32_t count) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (count > 0) {
            uint32_t n = sizeof block_ - fill_;
            if (n > count) n = count;
            std::memcpy(block_ + fill_, p, n);
            fill_ += n;
            p += n;
            count -= n;
            if (fill_ == sizeof block_) Flush();
        }
    }
    void PutLe(uint64_t value, int bytes) {
        uint8_t b[8];
        ::PutLe(b, value, bytes);
        Put(b, bytes);
    }
    // False once any write came up short.
    bool Flush() {
        if (fill_ > 0 && file_->QDXFile::Write(block_, fill_) < fill_) ok_ = false;
        fill_ = 0;
        return ok_;
    }

private:
    QDXFile* file_;
    uint32_t fill_ = 0;
    bool ok_ = true;
    uint8_t block_[4096];
};

}  // namespace

// ---- opening -----------------------------------------------------------------

ResultCode TOLMAArchive::OpenForWriting(HVBFileObject* file, const TOLMAEntryList* entries) {
    QDXFileHeader header;
    MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);
    const ResultCode result = QDXFile::Open(file, &header);
    if (result != ResultSuccess) {
        QDXFile::Close();
        return result;
    }
    write_failed_ = false;
    PushNode(1);
    root_directory_ = current_directory_;
    if (entries != nullptr) current_directory_->entries.AppendCopies(*entries);
    return WriteDirectory() == ResultSuccess ? ResultSuccess : ResultGeneralError;
}

// ---- directories ---------------------------------------------------------------

ResultCode TOLMAArchive::WriteDirectory() {
    if (current_directory_ == nullptr) return ResultGeneralError;
    if (DescendRecord(kDirEntry) != ResultSuccess) return ResultGeneralError;
    bool ok;
    {
        RecordWriter out(this);
        const TOLMAEntryList& entries = current_directory_->entries;
        out.PutLe(entries.GetCount(), 4);
        for (uint32_t i = 0; i < entries.GetCount(); ++i) {
            const TOLMADirectoryEntry* e = entries.GetAt(i);
            out.PutLe(e->length, 8);
            out.PutLe(e->attributes, 4);
            out.PutLe(e->encoding, 4);
            out.PutLe(e->offset, 8);
            out.Put(e->time_stamp, 8);
            const uint32_t extra_length = e->extra != nullptr ? e->extra_length : 0;
            out.PutLe(extra_length, 4);
            if (extra_length != 0) out.Put(e->extra, extra_length);
            const uint32_t name_length = e->name != nullptr ? e->name_length : 0;
            out.PutLe(name_length, 4);
            if (name_length != 0) out.Put(e->name, name_length);
        }
        ok = out.Flush();
    }
    if (AscendRecord() != ResultSuccess) ok = false;
    if (!ok) write_failed_ = true;
    return ok ? ResultSuccess : ResultGeneralError;
}

ResultCode TOLMAArchive::DescendDirectoryForWriting(TOLMADirectoryEntry* entry, const TOLMAEntryList* entries) {
    const uint32_t offset = QDXFile::GetPosition();
    if (DescendRecord(kFileData) != ResultSuccess) {
        write_failed_ = true;
        return ResultGeneralError;
    }
    entry->offset = offset;
    PushNode(1);
    current_directory_->entries.AppendCopies(*entries);
    return WriteDirectory();
}

// ---- files -------------------------------------------------------------------

ResultCode TOLMAArchive::OpenEntryForWriting(const char* name, const char* password) {
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || entry->IsDirectory()) return ResultGeneralError;
    const uint32_t offset = QDXFile::GetPosition();
    if (DescendRecord(kFileData) != ResultSuccess) {
        write_failed_ = true;
        return ResultGeneralError;
    }
    entry->offset = offset;
    byte_count_ = 0;
    std::memset(checksum_, 0, sizeof checksum_);
    checksum_index_ = 0;

    if (PrepareEncoders(entry->encoding, password, file_, &code_encoder_, &cipher_encoder_) != ResultSuccess) {
        DeleteCoders();
        AscendRecord();
        return ResultGeneralError;
    }
    open_entry_ = entry;
    return ResultSuccess;
}

ResultCode TOLMAArchive::CloseWrittenFile() {
    bool ok = true;
    TOLMADirectoryEntry* entry = open_entry_;
    if (code_encoder_ != nullptr || cipher_encoder_ != nullptr) {
        if (!FinishEncoders(code_encoder_, cipher_encoder_)) ok = false;
        DeleteCoders();
        if (file_->Write(checksum_, 4) < 4) ok = false;
        entry->length = byte_count_;
    } else {
        entry->length = GetLength();
    }
    open_entry_ = nullptr;
    if (AscendRecord() != ResultSuccess) ok = false;
    if (!ok) write_failed_ = true;
    return ok ? ResultSuccess : ResultGeneralError;
}

ResultCode TOLMAArchive::StoreCodedEntry(const char* name, const TOLMAEntryCoder& coder) {
    if (!IsWriting()) return ResultInvalidParameter;
    if (CloseFile() != ResultSuccess) write_failed_ = true;
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || entry->IsDirectory() || !coder.IsFinished() || coder.GetEncoding() != entry->encoding)
        return ResultInvalidParameter;
    const uint32_t offset = QDXFile::GetPosition();
    if (DescendRecord(kFileData) != ResultSuccess) {
        write_failed_ = true;
        return ResultInvalidParameter;
    }
    entry->offset = offset;
    bool ok = QDXFile::Write(coder.GetData(), coder.GetSize()) == coder.GetSize();
    entry->length = coder.GetEntryLength();
    if (AscendRecord() != ResultSuccess) ok = false;
    if (!ok) write_failed_ = true;
    return ok ? ResultSuccess : ResultGeneralError;
}

// ---- the open file as a file object --------------------------------------------

uint32_t TOLMAArchive::Write(const void* buffer, uint32_t count) {
    if (!IsWriting()) {
        if (memory_copy_ != nullptr || code_decoder_ != nullptr || cipher_decoder_ != nullptr) return 0;
        return QDXFile::Write(buffer, count);
    }
    uint32_t accepted;
    if (code_encoder_ == nullptr && cipher_encoder_ == nullptr) {
        accepted = QDXFile::Write(buffer, count);
    } else {
        accepted = code_encoder_ != nullptr ? code_encoder_->EncodeContextTreeBytes(buffer, count)
                                            : cipher_encoder_->EncryptShuffleBytes(buffer, count);
        Fold(static_cast<const uint8_t*>(buffer), accepted);
        byte_count_ += accepted;
    }
    if (accepted < count) write_failed_ = true;
    return accepted;
}
