// What reading and rewriting a PE image share: the offsets of the header
// fields both directions use, and checked little-endian reads of the image
// memory and of a resource tree. Private to lib/file's image code.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "file/little_endian.h"

namespace pe {

inline constexpr char kNoResourceSection[] = "リソースセクションがありません。";

// DOS header: its size and where it keeps the offset of the PE signature.
inline constexpr uint32_t kDosHeaderSize = 64;
inline constexpr uint32_t kNewHeaderOffset = 0x3C;

inline constexpr uint32_t kPESignature = 0x00004550;
inline constexpr uint32_t kSignatureSize = 4;
inline constexpr uint32_t kHeaderSpan = 228;  // signature, file header and the optional header fields read

// File header fields.
inline constexpr uint32_t kFileHeaderSize = 20;
inline constexpr uint32_t kNumberOfSections = 2;
inline constexpr uint32_t kPointerToSymbolTable = 8;
inline constexpr uint32_t kNumberOfSymbols = 12;
inline constexpr uint32_t kSizeOfOptionalHeader = 16;
inline constexpr uint32_t kSymbolSize = 18;

// Optional header fields (the same in both optional header forms up to the
// count of data directories).
inline constexpr uint32_t kMagic = 0;
inline constexpr uint32_t kSectionAlignment = 32;
inline constexpr uint32_t kFileAlignment = 36;
inline constexpr uint32_t kSizeOfImage = 56;
inline constexpr uint32_t kCheckSum = 64;
inline constexpr uint16_t kMagicPE32Plus = 0x20B;
// The fixed part of each form, up to and with the count of data directories.
inline constexpr uint32_t kFixedOptionalHeader = 96;
inline constexpr uint32_t kFixedOptionalHeaderPE32Plus = 112;
inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kSecurityDirectory = 4;

// Section header fields.
inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kVirtualSize = 8;
inline constexpr uint32_t kVirtualAddress = 12;
inline constexpr uint32_t kSizeOfRawData = 16;
inline constexpr uint32_t kPointerToRawData = 20;
inline constexpr uint8_t kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

// Resource tree: a directory's header, its 8-byte entries (a name field, an
// offset field), and the data entries the language entries lead to. A field
// with the high bit set leads to a directory string or a subdirectory.
inline constexpr uint32_t kDirectorySize = 16;
inline constexpr uint32_t kNamedEntryCount = 12;
inline constexpr uint32_t kIdEntryCount = 14;
inline constexpr uint32_t kEntrySize = 8;
inline constexpr uint32_t kDataEntrySize = 16;
inline constexpr uint32_t kHighBit = 0x80000000;

// Bytes [offset, offset + size) of an image held in memory, or null when they
// are not all inside it.
inline const uint8_t* ImageBytes(const uint8_t* image, uint32_t memory_length, uint64_t offset, uint64_t size) {
    if (image == nullptr || offset + size > memory_length) return nullptr;
    return image + offset;
}

// Reads exactly count bytes at an absolute offset of the source.
inline bool ReadAt(HVBFileObject* source, uint32_t length, uint64_t offset, void* buffer, uint32_t count) {
    if (offset + count > length || offset > 0x7FFFFFFF) return false;
    if (source->Seek(static_cast<int32_t>(offset), FromBegin) != offset) return false;
    return source->Read(buffer, count) == count;
}

// Bytes of a resource tree: inside the image memory, or a copy read from the
// source.
class ResourceBytes {
public:
    ResourceBytes() = default;
    ~ResourceBytes() { delete[] owned_; }
    ResourceBytes(const ResourceBytes&) = delete;
    ResourceBytes& operator=(const ResourceBytes&) = delete;

    const uint8_t* Get() const { return bytes_; }

private:
    friend class ResourceReader;
    const uint8_t* bytes_ = nullptr;
    uint8_t* owned_ = nullptr;
    uint8_t small_[16];
};

// The one way into a resource tree: directories, directory strings and data
// entries, every one checked to lie wholly inside what can be read. Offsets
// are relative to the tree's root, as the tree stores them. The tree is read
// from the image memory, or from the source while the image head is not yet
// known.
class ResourceReader {
public:
    ResourceReader(const uint8_t* memory, uint32_t length, uint32_t root)
        : memory_(memory), length_(length), root_(root) {}
    ResourceReader(HVBFileObject* source, uint32_t length, uint32_t root)
        : source_(source), length_(length), root_(root) {}

    // A directory's entry table, kEntrySize bytes an entry.
    bool Directory(uint64_t relative, ResourceBytes* entries, uint32_t* count) const {
        ResourceBytes head;
        if (!Fetch(relative, kDirectorySize, &head)) return false;
        *count = static_cast<uint32_t>(Le16(head.Get() + kNamedEntryCount)) + Le16(head.Get() + kIdEntryCount);
        return *count == 0 || Fetch(relative + kDirectorySize, static_cast<uint64_t>(*count) * kEntrySize, entries);
    }
    // The UTF-16 units of a directory string, little-endian and not
    // necessarily aligned.
    bool Name(uint64_t relative, ResourceBytes* units, uint32_t* count) const {
        ResourceBytes head;
        if (!Fetch(relative, 2, &head)) return false;
        *count = Le16(head.Get());
        return Fetch(relative + 2, 2ull * *count, units);
    }
    bool DataEntry(uint64_t relative, ResourceBytes* entry) const { return Fetch(relative, kDataEntrySize, entry); }

private:
    bool Fetch(uint64_t relative, uint64_t size, ResourceBytes* out) const {
        const uint64_t at = root_ + relative;
        if (at + size > length_) return false;
        if (memory_ != nullptr) {
            out->bytes_ = memory_ + at;
            return true;
        }
        uint8_t* buffer = out->small_;
        if (size > sizeof out->small_) buffer = out->owned_ = new uint8_t[size];
        if (!ReadAt(source_, length_, at, buffer, static_cast<uint32_t>(size))) return false;
        out->bytes_ = buffer;
        return true;
    }

    const uint8_t* memory_ = nullptr;
    HVBFileObject* source_ = nullptr;
    uint32_t length_;
    uint64_t root_;
};

inline uint32_t EntryName(const ResourceBytes& entries, uint32_t i) { return Le32(entries.Get() + kEntrySize * i); }
inline uint32_t EntryOffset(const ResourceBytes& entries, uint32_t i) {
    return Le32(entries.Get() + kEntrySize * i + 4);
}

}  // namespace pe
