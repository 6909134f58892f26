// The archive: a directory tree of named files in a tagged container, each
// file stored raw, compressed with the context-tree code, enciphered with the
// bit-shuffle cipher, or both. While a file is open the archive object is the
// file object through which its plain bytes are read (or written).
//
// Directories, names and coded data read from an archive are untrusted: a
// damaged archive gives failures, never out-of-bounds access.
#pragma once

#include <cstdint>

#include "archive/qdx_file.h"
#include "archive/tolma_entry.h"

class EMemoryFile;
class TOLMADecodeContext;
class TOLMAEncodeContext;
class TOLMAEntryCoder;

class TOLMAArchive : public QDXFile {
    HVB_DECLARE_CLASS(TOLMAArchive, QDXFile)

public:
    static constexpr uint32_t kDecodeBufferSize = 65536;
    static constexpr uint32_t kEncodeBufferSize = 16384;
    static constexpr uint32_t kDecodeStep = 16384;

    TOLMAArchive() = default;
    ~TOLMAArchive() override;

    // Reads the archive on file, or, when file was opened with modeCreate,
    // starts a new one whose root holds copies of entries. 0 or 1.
    ResultCode Open(HVBFileObject* file, const TOLMAEntryList* entries);
    // Completes and closes whatever is open. Safe when closed, and twice. 0,
    // or 1 when writing the archive came up short somewhere.
    ResultCode Close();

    // Counted from the root. Only the last separator of path may be a slash.
    // Password: null or empty selects the cipher's default. Streaming: 0
    // decodes the whole file at once and checks its checksum here; nonzero
    // decodes as it is read and checks at CloseFile. 0, 1, or what
    // OnProgress answered.
    ResultCode OpenFile(const char* path, const char* password, int32_t streaming);
    ResultCode OpenEntry(const char* name, const char* password, int32_t streaming);
    // 0, or 1 when a streamed file's checksum did not match (also when it was
    // not read to its end) or a written file could not be completed.
    ResultCode CloseFile();

    // Writing: stores the bytes a coder finished as the file name of the
    // current directory, in place of OpenEntry, Write and CloseFile; the
    // coder's encoding must be the entry's. 0; ResultInvalidParameter when
    // nothing was written (no such file, another encoding, an unfinished
    // coder, a record that cannot be started); 1 when writing came up short.
    ResultCode StoreCodedEntry(const char* name, const TOLMAEntryCoder& coder);

    // Backslashes only; empty pieces are skipped. Counted from the root.
    ResultCode ChangeDirectory(const char* path);
    // With entries, while writing: starts the subdirectory name holding
    // copies of them. Otherwise enters an existing subdirectory.
    ResultCode DescendDirectory(const char* name, const TOLMAEntryList* entries = nullptr);
    // 1 at the root, which is never left this way.
    ResultCode AscendDirectory();
    // Appends copies of the current directory's entries.
    ResultCode GetDirectoryEntries(TOLMAEntryList* entries);
    TOLMADirectoryEntry* FindEntry(const char* name);
    // Writes the current directory as a "DirEntry" record here.
    ResultCode WriteDirectory();

    HVBFileObject* Duplicate() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    uint32_t GetLength() override;
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override;

    // Called after each step of a whole-file decode; a nonzero answer stops
    // it and becomes OpenFile's result.
    virtual ResultCode OnProgress(uint32_t done, uint32_t total);

    const TOLMADirectoryEntry* GetOpenEntry() const { return open_entry_; }
    bool IsOpen() const { return current_directory_ != nullptr; }

private:
    // Defined in tolma_archive_layout.h.
    struct DirectoryNode;

    // Both directions.
    void PushNode(uint32_t modified);
    void PopNode();
    void DeleteCoders();
    void Fold(const uint8_t* bytes, uint32_t count);

    // Reading.
    ResultCode OpenForReading(HVBFileObject* file);
    ResultCode ReadDirectory();
    // Seeks to an entry's record and enters it; 1 when the offset lies
    // outside the current record.
    ResultCode EnterEntryRecord(const TOLMADirectoryEntry* entry);
    ResultCode DescendDirectoryForReading(const TOLMADirectoryEntry* entry);
    ResultCode OpenEntryForReading(const char* name, const char* password, int32_t streaming);
    ResultCode DecodeWholeFile(TOLMADirectoryEntry* entry);
    ResultCode CloseReadFile();
    bool ReadStoredChecksum(uint8_t checksum[4]);
    TOLMADecodeContext* TakeDecoder(TOLMADecodeContext*& spare);

    // Writing.
    ResultCode OpenForWriting(HVBFileObject* file, const TOLMAEntryList* entries);
    ResultCode DescendDirectoryForWriting(TOLMADirectoryEntry* entry, const TOLMAEntryList* entries);
    ResultCode OpenEntryForWriting(const char* name, const char* password);
    ResultCode CloseWrittenFile();

    DirectoryNode* current_directory_ = nullptr;
    DirectoryNode* root_directory_ = nullptr;
    TOLMADirectoryEntry* open_entry_ = nullptr;
    TOLMADecodeContext* code_decoder_ = nullptr;
    TOLMADecodeContext* cipher_decoder_ = nullptr;
    // Decoders an entry has finished with, kept for the next one: preparing a
    // decoder again in place costs a fraction of making its tables anew.
    TOLMADecodeContext* spare_code_decoder_ = nullptr;
    TOLMADecodeContext* spare_cipher_decoder_ = nullptr;
    EMemoryFile* memory_copy_ = nullptr;
    TOLMAEncodeContext* code_encoder_ = nullptr;
    TOLMAEncodeContext* cipher_encoder_ = nullptr;
    uint32_t byte_count_ = 0;
    uint8_t checksum_[4] = {};
    uint32_t checksum_index_ = 0;
    // Set once a write to the underlying file came up short while writing.
    bool write_failed_ = false;
};
