// The calls that serve both directions and choose one: reading lives in
// tolma_archive_read.cpp, writing in tolma_archive_write.cpp, what both use in
// tolma_archive_common.cpp.
#include "archive/tolma_archive.h"

#include "archive/tolma_archive_layout.h"
#include "codec/decode_context.h"
#include "file/memory_file.h"
#include "text/path_scan.h"
#include "text/string.h"

TOLMAArchive::~TOLMAArchive() { Close(); }

// ---- opening and closing -----------------------------------------------------

ResultCode TOLMAArchive::Open(HVBFileObject* file, const TOLMAEntryList* entries) {
    Close();
    if (file == nullptr) return ResultGeneralError;
    if ((file->GetOpenFlags() & modeCreate) != 0) return OpenForWriting(file, entries);
    return OpenForReading(file);
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

ResultCode TOLMAArchive::DescendDirectory(const char* name, const TOLMAEntryList* entries) {
    CloseFile();
    TOLMADirectoryEntry* entry = FindEntry(name);
    if (entry == nullptr || !entry->IsDirectory()) return ResultGeneralError;
    // A written archive has no subdirectory to enter, only new ones to start.
    if (IsWriting()) return entries != nullptr ? DescendDirectoryForWriting(entry, entries) : ResultGeneralError;
    return DescendDirectoryForReading(entry);
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

// Whatever is open closes first, in either direction: a written entry that
// cannot be finished fails the archive, not the entry that follows.
ResultCode TOLMAArchive::OpenEntry(const char* name, const char* password, int32_t streaming) {
    if (IsWriting()) {
        if (CloseFile() != ResultSuccess) write_failed_ = true;
        return OpenEntryForWriting(name, password);
    }
    CloseFile();
    return OpenEntryForReading(name, password, streaming);
}

ResultCode TOLMAArchive::CloseFile() {
    if (open_entry_ == nullptr) {
        delete memory_copy_;
        memory_copy_ = nullptr;
        return ResultSuccess;
    }
    if (IsWriting()) return CloseWrittenFile();
    return CloseReadFile();
}

// ---- the open file as a file object --------------------------------------------

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
