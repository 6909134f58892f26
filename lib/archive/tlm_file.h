// The raster image file (and the library's other media files of the same
// container form): the header records with the version, the preview, image
// and sound information blocks, the frame sequence table, the rights notice
// and description texts, and inside the stream the palette, stopping at the
// first image frame so that a decoder reads the frame data from there.
#pragma once

#include <cstdint>

#include "archive/qdx_file.h"
#include "text/string.h"

class TLMFile : public QDXFile {
    HVB_DECLARE_CLASS(TLMFile, QDXFile)

public:
    enum : uint32_t {
        FoundFileHeader = 0x01,
        FoundPreviewInfo = 0x02,
        FoundImageInfo = 0x04,
        FoundSoundInfo = 0x08,
        FoundCopyright = 0x10,
        FoundDescription = 0x20,
        FoundPalette = 0x40,
        FoundSequence = 0x80,
    };
    static constexpr uint32_t kMaxVersion = 0x00020100;
    static constexpr uint32_t kFileHeaderSize = 20;
    static constexpr uint32_t kInfoSize = 68;
    static constexpr uint32_t kSoundInfoSize = 40;
    static constexpr uint32_t kPaletteSize = 1024;
    static constexpr uint32_t kSequenceEntrySize = 8;

    TLMFile() = default;
    ~TLMFile() override;

    // Depth 0 opens the container only; 1 also reads the header records; 2
    // also enters the stream; 3 (or more) also reads the palette and stays
    // inside the first image frame. 0, the container's 1, or a message result.
    ResultCode Open(HVBFileObject* file, uint32_t depth);

    uint32_t GetFoundFlags() const { return found_; }
    const uint8_t* GetFileHeaderBlock() const { return file_header_; }
    uint32_t GetVersion() const;
    const uint8_t* GetPreviewInfo() const { return preview_info_; }
    const uint8_t* GetImageInfo() const { return image_info_; }
    const uint8_t* GetSoundInfo() const { return sound_info_; }
    const uint8_t* GetPalette() const { return palette_; }
    const EWideString& GetCopyright() const { return copyright_; }
    const EWideString& GetDescription() const { return description_; }
    // count entries of 8 bytes each; null when there is no table.
    const uint8_t* GetSequenceTable(uint32_t* count) const;

private:
    void ReleaseSequence();
    ResultCode ReadHeaderRecords();
    // Reads up to size bytes of the current record; true when all arrived.
    bool ReadBlock(uint8_t* block, uint32_t size);
    void ReadSequence();
    void ReadText(EWideString* text);
    // Bytes from the position to the end of the current record that the
    // underlying file really holds.
    uint32_t RecordBytesAvailable();

    uint32_t found_ = 0;
    uint8_t file_header_[kFileHeaderSize] = {};
    uint8_t preview_info_[kInfoSize] = {};
    uint8_t image_info_[kInfoSize] = {};
    uint8_t sound_info_[kSoundInfoSize] = {};
    uint8_t palette_[kPaletteSize] = {};
    EWideString copyright_;
    EWideString description_;
    uint32_t sequence_count_ = 0;
    uint8_t* sequence_ = nullptr;
};
