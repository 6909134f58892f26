// Resources of a PE executable image, read without loading the image as a
// module. Once a resource is opened the object is itself a file object over
// that resource's bytes, streamed from the source file.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "platform/codepage.h"
#include "platform/mapping.h"
#include "text/ptr_array.h"

// A resource type or name is either a zero-terminated narrow string or a
// 16-bit identifier carried in the pointer value.
inline const char* MakeIntResource(uint16_t id) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(id));
}
inline bool IsIntResource(const char* value) { return reinterpret_cast<uintptr_t>(value) <= 0xFFFF; }

enum : uint16_t { RT_RCDATA_ID = 10 };

// A type or name as the resource directory holds it: an identifier, or a
// string of UTF-16 units (not terminated; "#123" is a string like any other).
struct ResourceKey {
    bool is_id = false;
    uint16_t id = 0;
    const WideChar* text = nullptr;
    uint32_t length = 0;
};

struct ResourceData {
    // Inside the image memory; after OpenPEImageFile only its distance from
    // the image start (the data's file offset) is meaningful.
    const uint8_t* data;
    uint32_t size;
};

class EXEImageFileObject : public HVBFileObject {
    HVB_DECLARE_CLASS(EXEImageFileObject, HVBFileObject)

public:
    EXEImageFileObject() = default;
    ~EXEImageFileObject() override;

    // Keeps only the part of the image before its first resource data; the
    // source must stay open and unmoved by others while it is referred to.
    ResultCode OpenPEImageFile(HVBFileObject* source);
    // Holds the whole image in memory, mapped when the source is a raw file
    // and the flag asks for it. The source is not remembered.
    ResultCode LoadPEImage(HVBFileObject* source, bool use_mapping);
    ResultCode FindResourceData(ResourceData* out, const char* type, const char* name, uint16_t language);
    ResultCode OpenResource(const char* type, const char* name, uint16_t language);
    void CloseResource();
    // Zero filters select everything; a language filter acts on its low 16 bits.
    ResultCode EnumResources(const char* type, const char* name, uint32_t language);
    void Close();

    // Writing a copy of the image with a new resource section (only when the
    // resource section is the image's last): declare every resource with its
    // size, begin writing, then supply each resource's bytes in any order.
    // Declaring the same resource again replaces its size; 1 when no leaf
    // could be made.
    ResultCode AddResource(const char* type, const char* name, uint16_t language, uint32_t size);
    // The same by keys as the directory holds them: no name passes through
    // the code page, so none is merged with another or read as a number.
    ResultCode AddResource(const ResourceKey& type, const ResourceKey& name, uint16_t language, uint32_t size);
    bool IsDeclared(const ResourceKey& type, const ResourceKey& name, uint16_t language) const;
    // Writes everything but the resource bytes and gives the destination its
    // final length. The destination must stay open until the last
    // WriteResourceData.
    ResultCode BeginWritingPEImage(HVBFileObject* destination);
    // At most the declared size is written.
    ResultCode WriteResourceData(const char* type, const char* name, uint16_t language, const void* data,
                                 uint32_t length);
    ResultCode WriteResourceData(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                 const void* data, uint32_t length);
    // Copies from the source's current position.
    ResultCode WriteResourceData(const char* type, const char* name, uint16_t language, HVBFileObject* source);
    ResultCode WriteResourceData(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                 HVBFileObject* source);

    HVBFileObject* Duplicate() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    uint32_t GetLength() override;
    uint32_t Seek(int32_t distance, uint32_t origin) override;
    uint32_t GetPosition() override;
    ResultCode SetEndOfFile() override;

    // Called for each resource EnumResources selects; a non-zero result stops
    // the enumeration and is passed back. A named type or name arrives as a
    // string that lives only during the call.
    virtual ResultCode OnEnumResource(const char* type, const char* name, uint16_t language, const uint8_t* data,
                                      uint32_t size);
    // Called first, with the keys as the directory holds them (valid during
    // the call); this one passes them on to OnEnumResource in the system
    // code page.
    virtual ResultCode OnEnumResourceKeys(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                          const uint8_t* data, uint32_t size);

    const uint8_t* GetImage() const { return image_; }
    // Bytes of the image held in memory (all of it after LoadPEImage).
    uint32_t GetImageMemoryLength() const { return image_memory_length_; }
    uint32_t GetImageLength() const { return image_length_; }
    bool IsMapped() const { return view_ != nullptr; }

protected:
    bool HasWindow() const { return source_ != nullptr && (window_offset_ != 0 || window_length_ != 0); }

    // Bytes [offset, offset + size) of the image memory, or null when they are
    // not all inside it.
    const uint8_t* ImageBytes(uint64_t offset, uint64_t size) const;

    HVBFileObject* source_ = nullptr;
    plat::FileMapping* mapping_ = nullptr;
    const void* view_ = nullptr;
    uint8_t* image_ = nullptr;
    uint32_t image_memory_length_ = 0;
    uint32_t image_length_ = 0;
    const uint8_t* file_header_ = nullptr;
    const uint8_t* optional_header_ = nullptr;
    const uint8_t* section_table_ = nullptr;
    const uint8_t* resource_section_ = nullptr;
    uint32_t window_offset_ = 0;
    uint32_t window_length_ = 0;

private:
    struct Walk;
    struct ResourceNode;
    struct ResourceLeaf;
    ResultCode MapRawFile(plat::FileHandle file);
    ResultCode ValidateLoadedImage();
    ResultCode EnumLevel(Walk& walk, int level, uint32_t directory);

    void DiscardResourceTree();
    // The leaf placed by BeginWritingPEImage for these keys, or null.
    ResourceLeaf* FindPlacedLeaf(const ResourceKey& type, const ResourceKey& name, uint16_t language) const;
    ResourceLeaf* FindLeaf(const ResourceKey& type, const ResourceKey& name, uint16_t language) const;
    // Where the leaf's bytes go in the destination; false when they cannot be written.
    bool SeekToLeafData(const ResourceLeaf* leaf);
    // Counts the bytes now written for the leaf into the image's checksum and
    // writes the checksum; false when it cannot be written.
    bool RecountLeaf(ResourceLeaf* leaf, uint64_t sum, uint32_t length);

    // Type nodes, each holding name nodes, each holding language leaves, in
    // the order the resource directory is written.
    EPtrArray resource_tree_;
    HVBFileObject* writing_destination_ = nullptr;
    // File offset of the written section.
    uint32_t written_section_offset_ = 0;
    // Where the written image keeps its checksum (0: it carries none), the
    // sum of every byte written outside the leaves' data, and its length.
    uint32_t checksum_at_ = 0;
    uint64_t checksum_sum_ = 0;
    uint32_t written_length_ = 0;
};
