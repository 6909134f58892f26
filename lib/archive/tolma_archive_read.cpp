// Reading an archive: its directories, and each file's bytes decoded whole
// when it is opened or as they are read, checked against the stored checksum.
#include <cstring>

#include "archive/tolma_archive.h"
#include "archive/tolma_archive_layout.h"
#include "codec/decode_context.h"
#include "file/memory_file.h"

namespace {

// Length, attributes, encoding, offset, time stamp, extra length, name length.
constexpr uint32_t kFixedEntryBytes = 8 + 4 + 4 + 8 + 8 + 4 + 4;

// Whole-file decoding trusts a stated length up to this size, or up to this
// many times the coded record; beyond that the copy grows as bytes arrive, so
// a damaged length cannot demand memory the data does not back.
#if defined(HVB_FUZZING)
// Under the fuzzer the copy starts at one decoding step, so that the clamp
// and the growth come within the few steps one input may decode.
constexpr uint32_t kTrustedCopySize = TOLMAArchive::kDecodeStep;
#else
constexpr uint32_t kTrustedCopySize = 16u << 20;
#endif
constexpr uint32_t kTrustedExpansion = 32;

uint64_t Le(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// Directory records are read in blocks rather than field by field, never
// past the end of the record.
class RecordReader {
public:
    explicit RecordReader(QDXFile* file) : file_(file) {
        const uint32_t length = file->QDXFile::GetLength();
        const uint32_t position = file->QDXFile::GetPosition();
        remaining_ = position <= length ? length - position : 0;
    }
    // Bytes of the record not yet consumed.
    uint32_t Remaining() const { return remaining_ + (fill_ - next_); }
    bool Take(void* out, uint32_t count) {
        auto* dest = static_cast<uint8_t*>(out);
        while (count > 0) {
            if (next_ == fill_ && !Refill()) return false;
            uint32_t n = fill_ - next_;
            if (n > count) n = count;
            std::memcpy(dest, block_ + next_, n);
            next_ += n;
            dest += n;
            count -= n;
        }
        return true;
    }

private:
    bool Refill() {
        uint32_t want = remaining_ < sizeof block_ ? remaining_ : sizeof block_;
        if (want == 0) return false;
        const uint32_t got = file_->QDXFile::Read(block_, want);
        if (got == 0) {
            remaining_ = 0;
            return false;
        }
        remaining_ -= got;
        next_ = 0;
        fill_ = got;
        return true;
    }

    QDXFile* file_;
    uint32_t remaining_ = 0;
    uint32_t next_ = 0;
    uint32_t fill_ = 0;
    uint8_t block_[4096];
};

}  // namespace

ResultCode TOLMAArchive::OnProgress(uint32_t, uint32_t) { return ResultSuccess; }

TOLMADecodeContext* TOLMAArchive::TakeDecoder(TOLMADecodeContext*& spare) {
    TOLMADecodeContext* decoder = spare;
    spare = nullptr;
    if (decoder == nullptr) return new TOLMADecodeContext(kDecodeBufferSize);
    decoder->ResetBitInput();
    return decoder;
}

// ---- opening -----------------------------------------------------------------

ResultCode TOLMAArchive::OpenForReading(HVBFileObject* file) {
    const ResultCode result = QDXFile::Open(file, nullptr);
    if (result != ResultSuccess) {
        QDXFile::Close();
        return result;
    }
    PushNode(0);
    if (ReadDirectory() != ResultSuccess) {
        Close();
        return ResultGeneralError;
    }
    root_directory_ = current_directory_;
    return ResultSuccess;
}

// ---- directories ---------------------------------------------------------------

ResultCode TOLMAArchive::ReadDirectory() {
    if (DescendRecord(nullptr) != ResultSuccess) return ResultGeneralError;
    if (std::memcmp(current_->identifier, kDirEntry, 8) != 0) {
        AscendRecord();
        return ResultGeneralError;
    }
    PushNode(0);

    // Every field must be there in full; a short directory is rejected
    // rather than filled with whatever was read.
    bool ok = true;
    {
        RecordReader in(this);
        uint8_t field[36];
        ok = in.Take(field, 4);
        uint32_t count = ok ? static_cast<uint32_t>(Le(field, 4)) : 0;
        if (ok && count > in.Remaining() / kFixedEntryBytes) ok = false;
        for (uint32_t i = 0; ok && i < count; ++i) {
            if (!in.Take(field, 36)) {
                ok = false;
                break;
            }
            auto* entry = new TOLMADirectoryEntry;
            current_directory_->entries.Add(entry);
            entry->length = Le(field, 8);
            entry->attributes = static_cast<uint32_t>(Le(field + 8, 4));
            entry->encoding = static_cast<uint32_t>(Le(field + 12, 4));
            entry->offset = Le(field + 16, 8);
            std::memcpy(entry->time_stamp, field + 24, 8);
            const uint32_t extra_length = static_cast<uint32_t>(Le(field + 32, 4));
            if (extra_length > in.Remaining()) {
                ok = false;
                break;
            }
            if (extra_length != 0) {
                entry->extra = new uint8_t[extra_length];
                entry->extra_length = extra_length;
                if (!in.Take(entry->extra, extra_length)) {
                    ok = false;
                    break;
                }
            }
            if (!in.Take(field, 4)) {
                ok = false;
                break;
            }
            const uint32_t name_length = static_cast<uint32_t>(Le(field, 4));
            if (name_length > in.Remaining()) {
                ok = false;
                break;
            }
            if (name_length != 0) {
                char* name = new char[name_length + 1];
                if (!in.Take(name, name_length)) {
                    delete[] name;
                    ok = false;
                    break;
                }
                name[name_length] = '\0';
                entry->name = name;
                entry->name_length = static_cast<uint32_t>(std::strlen(name)) + 1;
            }
        }
    }
    if (!ok) {
        // The stacks stay in step: the node goes with the record it came from.
        PopNode();
        AscendRecord();
        return ResultGeneralError;
    }
    return AscendRecord() == ResultSuccess ? ResultSuccess : ResultGeneralError;
}

ResultCode TOLMAArchive::EnterEntryRecord(const TOLMADirectoryEntry* entry) {
    // An offset must leave room for a record header inside the current
    // record, and fit the signed distance of a seek.
    const uint64_t length = QDXFile::GetLength();
    if (entry->offset > 0x7FFFFFFFu || entry->offset + kRecordHeaderSize > length) return ResultGeneralError;
    QDXFile::Seek(static_cast<int32_t>(entry->offset), FromBegin);
    return DescendRecord(nullptr);
}

ResultCode TOLMAArchive::DescendDirectoryForReading(const TOLMADirectoryEntry* entry) {
    if (EnterEntryRecord(entry) != ResultSuccess) return ResultGeneralError;
    if (ReadDirectory() != ResultSuccess) {
        AscendRecord();
        return ResultGeneralError;
    }
    return ResultSuccess;
}

// ---- files -------------------------------------------------------------------

ResultCode TOLMAArchive::OpenEntryForReading(const char* name, const char* password, int32_t streaming) {
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || entry->IsDirectory()) return ResultGeneralError;
    // Offset 0 is the directory's own record: an entry declared but never
    // stored. It opens as an empty file whatever its encoding.
    const bool never_stored = entry->offset == 0;
    if (never_stored && entry->length != 0) return ResultGeneralError;
    // A copy in memory holds less than 4 GiB: a longer stated length is
    // refused, not cut to its low 32 bits (which would open whole, checksum
    // and all, a file of another length than its entry says).
    if (streaming == 0 && (entry->length >> 32) != 0) return ResultGeneralError;
    if (never_stored) {
        QDXFile::Seek(0, FromBegin);
        if (DescendRecord(nullptr) != ResultSuccess) return ResultGeneralError;
        open_entry_ = entry;
        return ResultSuccess;
    }
    if (EnterEntryRecord(entry) != ResultSuccess) return ResultGeneralError;

    bool code = false;
    bool cipher = false;
    ResultCode prepared = GetEncodingStages(entry->encoding, &code, &cipher) ? ResultSuccess : ResultGeneralError;
    if (prepared == ResultSuccess && !code && !cipher) {
        open_entry_ = entry;
        return ResultSuccess;
    }
    // The cipher reads the record; the code reads what the cipher gives, or
    // the record when there is no cipher.
    if (cipher) {
        cipher_decoder_ = TakeDecoder(spare_cipher_decoder_);
        cipher_decoder_->AttachSourceFile(file_);
        prepared = cipher_decoder_->PrepareShuffleDecryption(password);
    }
    if (code) {
        code_decoder_ = TakeDecoder(spare_code_decoder_);
        if (cipher_decoder_ != nullptr) code_decoder_->AttachSourceContext(cipher_decoder_);
        else code_decoder_->AttachSourceFile(file_);
        if (prepared == ResultSuccess) prepared = code_decoder_->PrepareContextTreeDecoding();
    }
    if (prepared != ResultSuccess) {
        DeleteCoders();
        AscendRecord();
        return ResultGeneralError;
    }

    byte_count_ = 0;
    std::memset(checksum_, 0, sizeof checksum_);
    checksum_index_ = 0;
    if (streaming != 0) {
        open_entry_ = entry;
        return ResultSuccess;
    }
    return DecodeWholeFile(entry);
}

bool TOLMAArchive::ReadStoredChecksum(uint8_t checksum[4]) {
    QDXFile::Seek(-4, FromEnd);
    return QDXFile::Read(checksum, 4) == 4;
}

ResultCode TOLMAArchive::DecodeWholeFile(TOLMADirectoryEntry* entry) {
    const uint32_t total = static_cast<uint32_t>(entry->length);
    const uint64_t coded = QDXFile::GetLength();
    uint32_t capacity = total;
    const uint64_t plausible = coded * kTrustedExpansion;
    if (capacity > kTrustedCopySize && capacity > plausible)
        capacity = plausible > kTrustedCopySize ? static_cast<uint32_t>(plausible) : kTrustedCopySize;

    auto* copy = new EMemoryFile;
    copy->Create(capacity < 16 ? 16 : capacity);
    uint8_t* step = new uint8_t[kDecodeStep];
    ResultCode result = copy->GetOpenFlags() != 0 ? ResultSuccess : ResultGeneralError;

    for (uint32_t done = 0; result == ResultSuccess && done < total;) {
        const uint32_t n = total - done < kDecodeStep ? total - done : kDecodeStep;
        const uint32_t got = code_decoder_ != nullptr ? code_decoder_->DecodeContextTreeBytes(step, n)
                                                      : cipher_decoder_->DecryptShuffleBytes(step, n);
        if (got < n) {
            result = ResultGeneralError;
            break;
        }
        Fold(step, n);
        if (done + n > capacity) {
            const uint64_t doubled = static_cast<uint64_t>(capacity) * 2;
            capacity = doubled > total ? total : static_cast<uint32_t>(doubled);
            if (capacity < done + n) capacity = done + n;
            if (!copy->Reserve(capacity)) {
                result = ResultGeneralError;
                break;
            }
        }
        if (copy->Write(step, n) < n) {
            result = ResultGeneralError;
            break;
        }
        done += n;
        const ResultCode answer = OnProgress(done, total);
        if (answer != 0) result = answer;
    }
    delete[] step;
    DeleteCoders();

    if (result == ResultSuccess) {
        uint8_t stored[4];
        if (!ReadStoredChecksum(stored) || std::memcmp(stored, checksum_, 4) != 0) result = ResultGeneralError;
    }
    if (result != ResultSuccess) {
        delete copy;
        AscendRecord();
        return result;
    }
    copy->Seek(0, FromBegin);
    memory_copy_ = copy;
    open_entry_ = entry;
    return ResultSuccess;
}

ResultCode TOLMAArchive::CloseReadFile() {
    ResultCode result = ResultSuccess;
    if (code_decoder_ != nullptr || cipher_decoder_ != nullptr) {
        DeleteCoders();
        uint8_t stored[4];
        if (!ReadStoredChecksum(stored) || std::memcmp(stored, checksum_, 4) != 0) result = ResultGeneralError;
    }
    // Gone before the record is left: leaving it seeks through this object.
    delete memory_copy_;
    memory_copy_ = nullptr;
    open_entry_ = nullptr;
    AscendRecord();
    return result;
}

// ---- the open file as a file object --------------------------------------------

uint32_t TOLMAArchive::Read(void* buffer, uint32_t count) {
    if (memory_copy_ != nullptr) return memory_copy_->Read(buffer, count);
    if (open_entry_ == nullptr || IsWriting()) return QDXFile::Read(buffer, count);

    const uint64_t length = open_entry_->length;
    if (code_decoder_ == nullptr && cipher_decoder_ == nullptr) {
        // A raw entry ends where its directory says, even inside a longer
        // record.
        if ((length >> 32) == 0) {
            const uint32_t position = QDXFile::GetPosition();
            const uint32_t rest = position < length ? static_cast<uint32_t>(length) - position : 0;
            if (count > rest) count = rest;
        }
        return QDXFile::Read(buffer, count);
    }

    if ((length >> 32) == 0 && static_cast<uint64_t>(byte_count_) + count >= length)
        count = byte_count_ < length ? static_cast<uint32_t>(length) - byte_count_ : 0;
    if (count == 0) return 0;
    const uint32_t got = code_decoder_ != nullptr ? code_decoder_->DecodeContextTreeBytes(buffer, count)
                                                  : cipher_decoder_->DecryptShuffleBytes(buffer, count);
    Fold(static_cast<const uint8_t*>(buffer), got);
    byte_count_ += got;
    return got;
}
