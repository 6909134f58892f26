// Windows icon (and cursor) files: a 6-byte header, a table of 16-byte
// entries, then the images. The images are kept in memory as a list that can
// be inspected or extended, and written back through any file object.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "text/ptr_array.h"

struct IconFileHeader {
    uint16_t reserved;
    uint16_t type;  // 1 icon, 2 cursor
    uint16_t count;
};
static_assert(sizeof(IconFileHeader) == 6);

struct IconDirectoryEntry {
    uint8_t width;  // 0 means 256
    uint8_t height;
    uint8_t color_count;  // 0 for 256 colours or more
    uint8_t reserved;
    uint16_t planes;
    uint16_t bit_count;
    uint32_t bytes_in_resource;
    uint32_t image_offset;
};
static_assert(sizeof(IconDirectoryEntry) == 16);

class EWin32IconFile : public HVBObject {
    HVB_DECLARE_CLASS(EWin32IconFile, HVBObject)

public:
    EWin32IconFile() = default;
    EWin32IconFile(const EWin32IconFile&) = delete;
    EWin32IconFile& operator=(const EWin32IconFile&) = delete;
    ~EWin32IconFile() override;

    // The icon file must start at the source's current position. Images read
    // before a failure stay in the list.
    ResultCode ReadIconFile(HVBFileObject* source);
    // Entries get the images' lengths and the offsets at which they land.
    ResultCode WriteIconFile(HVBFileObject* destination, uint16_t type);
    // Without an entry, one is built from the image's BITMAPINFOHEADER. 1 when
    // the heap could not hold the copy.
    ResultCode AddImage(const void* bytes, uint32_t length, const IconDirectoryEntry* entry);
    void Clear();

    const IconFileHeader& GetHeader() const { return header_; }
    uint32_t GetImageCount() const { return images_.GetCount(); }
    // Null, or 0, out of range.
    const IconDirectoryEntry* GetEntry(uint32_t index) const;
    const uint8_t* GetImageData(uint32_t index) const;
    uint32_t GetImageSize(uint32_t index) const;

private:
    struct Image;

    IconFileHeader header_{};
    EPtrArray entries_;  // IconDirectoryEntry*
    EPtrArray images_;   // Image*
};
