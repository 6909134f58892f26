// The tagged container: a 64-byte file header followed by a tree of records,
// each an 8-byte identifier, a 64-bit length and that many bytes of data. The
// object is itself a file object over the data of the record last entered.
#pragma once

#include <cstdint>

#include "file/file_object.h"

struct QDXFileHeader {
    uint8_t signature[8];
    uint32_t file_id;
    uint32_t reserved;
    char description[48];
};
static_assert(sizeof(QDXFileHeader) == 64);

enum : uint32_t {
    QDX_FILE_TOLMA_ARCHIVE = 0x02000400,
    QDX_FILE_RASTER_IMAGE = 0x03000100,
    QDX_FILE_SURFACE_ATTRIBUTE = 0x03001100,
    QDX_FILE_MODEL_OBJECT = 0x03001200,
};

class QDXFile : public HVBFileObject {
    HVB_DECLARE_CLASS(QDXFile, HVBFileObject)

public:
    static constexpr uint32_t kRecordHeaderSize = 16;
    static constexpr uint64_t kLengthToEnd = ~0ull;

    QDXFile() = default;
    ~QDXFile() override;

    // A null description takes the one that belongs to the file identifier.
    static void MakeFileHeader(QDXFileHeader* header, uint32_t file_id, const char* description);
    static void GetFileSignature(uint8_t signature[8]);
    static void SetFileSignature(const uint8_t signature[8]);

    // Writes a new container when the file was opened with modeCreate and a
    // header is given, reads one otherwise. 0 on success, 1 on failure.
    ResultCode Open(HVBFileObject* file, const QDXFileHeader* header);
    // Leaves every entered record, completing the headers of written ones.
    void Close();

    HVBFileObject* Duplicate() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    uint32_t GetLength() override;
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override;
    ResultCode SetEndOfFile() override;

    // Reading: enters the next record with that 8-byte identifier (any record
    // for null) within the current one; a length claiming more than the
    // current record or the file holds is cut to what they hold. Writing:
    // starts a record, identifier required. 0 on success, 1 on failure.
    virtual ResultCode DescendRecord(const char* identifier);
    // 0, or 1 when the header of a written record could not be completed (the
    // record is left all the same).
    virtual ResultCode AscendRecord();

    const QDXFileHeader& GetFileHeader() const { return header_; }
    HVBFileObject* GetUnderlyingFile() const { return file_; }
    bool IsWriting() const { return (open_flags_ & modeCreate) != 0; }

protected:
    struct RecordState {
        RecordState* parent;
        uint32_t written;
        uint32_t data_start;
        uint8_t identifier[8];
        uint64_t length;
    };

    void Push(uint32_t written, uint32_t data_start, const uint8_t* identifier, uint64_t length);
    void Pop();
    // Position in the current record, signed: the underlying file may stand
    // before the record's data if someone else moved it.
    int64_t RecordPosition();

    HVBFileObject* file_ = nullptr;
    RecordState* current_ = nullptr;
    QDXFileHeader header_{};
    // Only a duplicate owns its underlying file, which it made itself.
    bool owns_file_ = false;
};
