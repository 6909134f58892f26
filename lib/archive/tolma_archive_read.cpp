#include "archive/tolma_archive.h"

#include <cstring>

#include "codec/decode_context.h"
#include "codec/encode_context.h"
#include "file/memory_file.h"
#include "text/path_scan.h"
#include "text/string.h"

struct TOLMAArchive::DirectoryNode {
    TOLMAEntryList entries;
    DirectoryNode* parent = nullptr;
    uint32_t modified = 0;
};

namespace {

const char kDirEntry[8] = {'D', 'i', 'r', 'E', 'n', 't', 'r', 'y'};
const char kFileData[8] = {'f', 'i', 'l', 'e', 'd', 'a', 't', 'a'};

// Length, attributes, encoding, offset, time stamp, extra length, name length.
constexpr uint32_t kFixedEntryBytes = 8 + 4 + 4 + 8 + 8 + 4 + 4;

// Whole-file decoding trusts a stated length up to this size, or up to this
// many times the coded record; beyond that the copy grows as bytes arrive, so
// a damaged length cannot demand memory the data does not back.
constexpr uint32_t kTrustedCopySize = 16u << 20;
constexpr uint32_t kTrustedExpansion = 32;

uint64_t Le(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void PutLe(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
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

TOLMAArchive::~TOLMAArchive() { Close(); }

int32_t TOLMAArchive::OnProgress(uint32_t, uint32_t) { return 0; }

void TOLMAArchive::PushNode(uint32_t modified) {
    auto* node = new DirectoryNode;
    node->parent = current_directory_;
    node->modified = modified;
    current_directory_ = node;
}

void TOLMAArchive::PopNode() {
    DirectoryNode* node = current_directory_;
    current_directory_ = node->parent;
    if (node == root_directory_) root_directory_ = nullptr;
    delete node;
}

void TOLMAArchive::DeleteCoders() {
    auto retire = [](TOLMADecodeContext*& decoder, TOLMADecodeContext*& spare) {
        if (spare == nullptr) spare = decoder;
        else delete decoder;
        decoder = nullptr;
    };
    retire(code_decoder_, spare_code_decoder_);
    retire(cipher_decoder_, spare_cipher_decoder_);
    delete code_encoder_;
    delete cipher_encoder_;
    code_encoder_ = cipher_encoder_ = nullptr;
}

TOLMADecodeContext* TOLMAArchive::TakeDecoder(TOLMADecodeContext*& spare) {
    TOLMADecodeContext* decoder = spare;
    spare = nullptr;
    if (decoder == nullptr) return new TOLMADecodeContext(kDecodeBufferSize);
    decoder->ResetBitInput();
    return decoder;
}

void TOLMAArchive::Fold(const uint8_t* bytes, uint32_t count) {
    uint32_t i = 0;
    for (; i < count && checksum_index_ != 0; ++i) {
        checksum_[checksum_index_] ^= bytes[i];
        checksum_index_ = (checksum_index_ + 1) & 3;
    }
    uint32_t word = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t w;
        std::memcpy(&w, bytes + i, 4);
        word ^= w;
    }
    uint8_t folded[4];
    std::memcpy(folded, &word, 4);
    for (int k = 0; k < 4; ++k) checksum_[k] ^= folded[k];
    for (; i < count; ++i) {
        checksum_[checksum_index_] ^= bytes[i];
        checksum_index_ = (checksum_index_ + 1) & 3;
    }
}

// ---- opening and closing -----------------------------------------------------

ResultCode TOLMAArchive::Open(HVBFileObject* file, const TOLMAEntryList* entries) {
    Close();
    if (file == nullptr) return ResultGeneralError;
    if ((file->GetOpenFlags() & modeCreate) != 0) return OpenForWriting(file, entries);
    return OpenForReading(file);
}

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

ResultCode TOLMAArchive::Close() {
    if (CloseFile() != ResultSuccess && IsWriting()) write_failed_ = true;
    delete memory_copy_;
    memory_copy_ = nullptr;
    const bool writing = IsWriting();
    while (current_directory_ != nullptr) {
        if (writing && current_directory_->modified) {
            QDXFile::Seek(0, FromBegin);
            if (WriteDirectory() != ResultSuccess) {
                write_failed_ = true;
                break;
            }
        }
        PopNode();
        if (current_directory_ == nullptr) break;
        if (AscendRecord() != ResultSuccess) {
            if (writing) write_failed_ = true;
            break;
        }
    }
    while (current_directory_ != nullptr) PopNode();
    root_directory_ = nullptr;
    // The top-level record's header is the last thing written.
    if (writing && current_ != nullptr) {
        while (current_ != nullptr) {
            if (AscendRecord() != ResultSuccess) {
                write_failed_ = true;
                break;
            }
        }
    }
    delete spare_code_decoder_;
    delete spare_cipher_decoder_;
    spare_code_decoder_ = spare_cipher_decoder_ = nullptr;
    QDXFile::Close();
    const bool failed = writing && write_failed_;
    write_failed_ = false;
    return failed ? ResultGeneralError : ResultSuccess;
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

TOLMADirectoryEntry* TOLMAArchive::FindEntry(const char* name) {
    if (current_directory_ == nullptr) return nullptr;
    const TOLMAEntryList& entries = current_directory_->entries;
    for (uint32_t i = 0; i < entries.GetCount(); ++i) {
        TOLMADirectoryEntry* entry = entries.GetAt(i);
        if (EntryNameEquals(entry->name, name)) return entry;
    }
    return nullptr;
}

ResultCode TOLMAArchive::GetDirectoryEntries(TOLMAEntryList* entries) {
    if (current_directory_ == nullptr || entries == nullptr) return ResultGeneralError;
    entries->AppendCopies(current_directory_->entries);
    return ResultSuccess;
}

ResultCode TOLMAArchive::EnterEntryRecord(const TOLMADirectoryEntry* entry) {
    // An offset must leave room for a record header inside the current
    // record, and fit the signed distance of a seek.
    const uint64_t length = QDXFile::GetLength();
    if (entry->offset > 0x7FFFFFFFu || entry->offset + kRecordHeaderSize > length) return ResultGeneralError;
    QDXFile::Seek(static_cast<int32_t>(entry->offset), FromBegin);
    return DescendRecord(nullptr);
}

ResultCode TOLMAArchive::DescendDirectory(const char* name, const TOLMAEntryList* entries) {
    CloseFile();
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || !entry->IsDirectory()) return ResultGeneralError;

    if (IsWriting() && entries != nullptr) {
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

    if (IsWriting() || EnterEntryRecord(entry) != ResultSuccess) return ResultGeneralError;
    if (ReadDirectory() != ResultSuccess) {
        AscendRecord();
        return ResultGeneralError;
    }
    return ResultSuccess;
}

ResultCode TOLMAArchive::AscendDirectory() {
    if (CloseFile() != ResultSuccess && IsWriting()) write_failed_ = true;
    if (current_directory_ == nullptr) return ResultSuccess;
    // Leaving the root would leave the archive with no directory to work in.
    if (current_directory_ == root_directory_ || root_directory_ == nullptr) return ResultGeneralError;
    if (IsWriting() && current_directory_->modified) {
        QDXFile::Seek(0, FromBegin);
        if (WriteDirectory() != ResultSuccess) return ResultGeneralError;
    }
    PopNode();
    return AscendRecord();
}

ResultCode TOLMAArchive::ChangeDirectory(const char* path) {
    CloseFile();
    if (current_directory_ == nullptr || root_directory_ == nullptr) return ResultGeneralError;
    while (current_directory_ != root_directory_) {
        if (AscendDirectory() != ResultSuccess) return ResultGeneralError;
    }
    if (path == nullptr) return ResultSuccess;

    EString piece;
    for (int32_t start = 0;;) {
        const int32_t end = FindNextSeparator(path, start, "\\");
        if (end > start) {
            piece.Empty();
            piece.Append(path + start, end - start);
            if (DescendDirectory(piece, nullptr) != ResultSuccess) return ResultGeneralError;
        }
        if (path[end] == '\0') return ResultSuccess;
        start = end + 1;
    }
}

// ---- files -------------------------------------------------------------------

ResultCode TOLMAArchive::OpenFile(const char* path, const char* password, int32_t streaming) {
    CloseFile();
    if (path == nullptr) return ResultGeneralError;
    const int32_t last = FindLastSeparator(path, "\\/");
    EString directory;
    directory.Append(path, last + 1);
    if (ChangeDirectory(directory) != ResultSuccess) return ResultGeneralError;
    return OpenEntry(path + last + 1, password, streaming);
}

ResultCode TOLMAArchive::OpenEntry(const char* name, const char* password, int32_t streaming) {
    if (IsWriting()) return OpenEntryForWriting(name, password);
    return OpenEntryForReading(name, password, streaming);
}

ResultCode TOLMAArchive::OpenEntryForReading(const char* name, const char* password, int32_t streaming) {
    CloseFile();
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || entry->IsDirectory()) return ResultGeneralError;
    // Offset 0 is the directory's own record: an entry declared but never
    // stored. It opens as an empty file whatever its encoding.
    const bool never_stored = entry->offset == 0;
    if (never_stored && entry->length != 0) return ResultGeneralError;
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
        const int32_t answer = OnProgress(done, total);
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

ResultCode TOLMAArchive::OpenEntryForWriting(const char* name, const char* password) {
    if (CloseFile() != ResultSuccess) write_failed_ = true;
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

    bool code = false;
    bool cipher = false;
    ResultCode prepared = GetEncodingStages(entry->encoding, &code, &cipher) ? ResultSuccess : ResultGeneralError;
    // Plain bytes go to the code, whose output passes through the cipher
    // into the record.
    if (cipher) {
        cipher_encoder_ = new TOLMAEncodeContext(kEncodeBufferSize);
        cipher_encoder_->AttachDestinationFile(file_);
        prepared = cipher_encoder_->PrepareShuffleEncryption(password);
    }
    if (code) {
        code_encoder_ = new TOLMAEncodeContext(kEncodeBufferSize);
        if (cipher_encoder_ != nullptr) code_encoder_->AttachDestinationContext(cipher_encoder_);
        else code_encoder_->AttachDestinationFile(file_);
        if (prepared == ResultSuccess) prepared = code_encoder_->PrepareContextTreeEncoding(ContextTreeCopies);
    }
    if (prepared != ResultSuccess) {
        DeleteCoders();
        AscendRecord();
        return ResultGeneralError;
    }
    open_entry_ = entry;
    return ResultSuccess;
}

ResultCode TOLMAArchive::CloseFile() {
    if (open_entry_ == nullptr) {
        delete memory_copy_;
        memory_copy_ = nullptr;
        return ResultSuccess;
    }
    if (IsWriting()) return CloseWrittenFile();

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

ResultCode TOLMAArchive::CloseWrittenFile() {
    bool ok = true;
    TOLMADirectoryEntry* entry = open_entry_;
    if (code_encoder_ != nullptr || cipher_encoder_ != nullptr) {
        // The code's last bytes still pass through the cipher.
        if (code_encoder_ != nullptr && code_encoder_->FinishArithmeticEncoding() != 0) ok = false;
        if (cipher_encoder_ != nullptr && cipher_encoder_->FinishShuffleEncryption() != 0) ok = false;
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

uint32_t TOLMAArchive::GetLength() {
    if (memory_copy_ != nullptr) return memory_copy_->GetLength();
    if (IsWriting()) {
        if (code_encoder_ != nullptr || cipher_encoder_ != nullptr) return byte_count_;
        // Raises the stored length to the position when that is further.
        QDXFile::Seek(0, FromCurrent);
        return QDXFile::GetLength();
    }
    if (open_entry_ != nullptr) return static_cast<uint32_t>(open_entry_->length);
    return QDXFile::GetLength();
}

uint32_t TOLMAArchive::GetPosition() {
    if (memory_copy_ != nullptr) return memory_copy_->GetPosition();
    if (code_decoder_ != nullptr || cipher_decoder_ != nullptr || code_encoder_ != nullptr ||
        cipher_encoder_ != nullptr)
        return byte_count_;
    return QDXFile::GetPosition();
}

uint32_t TOLMAArchive::Seek(int32_t distance, uint32_t origin) {
    if (memory_copy_ != nullptr) return memory_copy_->Seek(distance, origin);
    // Coded streams only move forwards with their decoder or encoder; moving
    // the record under them would feed them bytes out of order.
    if (code_decoder_ != nullptr || cipher_decoder_ != nullptr || code_encoder_ != nullptr ||
        cipher_encoder_ != nullptr)
        return byte_count_;
    return QDXFile::Seek(distance, origin);
}

HVBFileObject* TOLMAArchive::Duplicate() {
    if (memory_copy_ != nullptr) return memory_copy_->Duplicate();
    return QDXFile::Duplicate();
}
