// Loading an EXEImageFileObject: the image's headers, its section table and
// its resource section, from the whole image held in memory or from a source
// of which only the head is kept.
#include <algorithm>
#include <cstring>

#include "core/hvb.h"
#include "core/memory.h"
#include "file/exe_image_file.h"
#include "file/exe_image_layout.h"
#include "file/little_endian.h"
#include "file/raw_file.h"

using pe::EntryOffset;
using pe::kDosHeaderSize;
using pe::kFileHeaderSize;
using pe::kHeaderSpan;
using pe::kHighBit;
using pe::kNewHeaderOffset;
using pe::kNumberOfSections;
using pe::kPESignature;
using pe::kPointerToRawData;
using pe::kResourceSectionName;
using pe::kSectionHeaderSize;
using pe::kSignatureSize;
using pe::kSizeOfOptionalHeader;
using pe::kSizeOfRawData;
using pe::kVirtualAddress;
using pe::ReadAt;
using pe::ResourceBytes;
using pe::ResourceReader;

namespace {

const char kNotPEImage[] = "有効な PE イメージファイルではありません。";
const char kBadSectionHeader[] = "セクションヘッダが不正です。";
const char kMappingObjectFailed[] = "ファイルマッピングオブジェクトの生成に失敗しました。";
const char kMappingFailed[] = "ファイルマッピングに失敗しました。";

constexpr uint32_t kNoDataYet = 0x7FFFFFFF;

// Offsets met on one level of a resource tree, each kept once however many
// entries lead to it.
class OffsetSet {
public:
    OffsetSet() = default;
    ~OffsetSet() { delete[] items_; }
    OffsetSet(const OffsetSet&) = delete;
    OffsetSet& operator=(const OffsetSet&) = delete;

    void Add(uint32_t offset) {
        if (count_ == limit_) {
            Settle();
            // Grown only when settling left it half full or more, so that
            // repeats cost no memory.
            if (count_ >= limit_ / 2) {
                const uint32_t limit = limit_ < 64 ? 64 : limit_ * 2;
                auto* items = new uint32_t[limit];
                std::copy(items_, items_ + count_, items);
                delete[] items_;
                items_ = items;
                limit_ = limit;
            }
        }
        items_[count_++] = offset;
    }
    // Sorted, each offset once.
    void Settle() {
        std::sort(items_, items_ + count_);
        count_ = static_cast<uint32_t>(std::unique(items_, items_ + count_) - items_);
    }
    uint32_t Count() const { return count_; }
    uint32_t At(uint32_t i) const { return items_[i]; }

private:
    uint32_t* items_ = nullptr;
    uint32_t count_ = 0;
    uint32_t limit_ = 0;
};

}  // namespace

EXEImageFileObject::~EXEImageFileObject() { Close(); }

const uint8_t* EXEImageFileObject::ImageBytes(uint64_t offset, uint64_t size) const {
    return pe::ImageBytes(image_, image_memory_length_, offset, size);
}

void EXEImageFileObject::Close() {
    DiscardResourceTree();
    if (mapping_ != nullptr || view_ != nullptr) {
        plat::UnmapView(mapping_, view_);
        plat::CloseMapping(mapping_);
    } else if (image_ != nullptr) {
        hvbHeapFree(nullptr, image_, 0);
    }
    mapping_ = nullptr;
    view_ = nullptr;
    image_ = nullptr;
    image_memory_length_ = 0;
    image_length_ = 0;
    source_ = nullptr;
    file_header_ = nullptr;
    optional_header_ = nullptr;
    section_table_ = nullptr;
    resource_section_ = nullptr;
    window_offset_ = 0;
    window_length_ = 0;
}

ResultCode EXEImageFileObject::OpenPEImageFile(HVBFileObject* source) {
    Close();
    open_flags_ = modeRead;
    source_ = source;
    if (source == nullptr) return MessageResult(kNotPEImage);
    image_length_ = source->GetLength();
    const uint32_t length = image_length_;

    uint8_t dos[kDosHeaderSize];
    if (source->Read(dos, sizeof dos) != sizeof dos) return MessageResult(kNotPEImage);
    const uint32_t header = Le32(dos + kNewHeaderOffset);
    if (static_cast<uint64_t>(header) + kHeaderSpan > length) return MessageResult(kNotPEImage);

    uint8_t signature[kSignatureSize];
    uint8_t file_header[kFileHeaderSize];
    if (!ReadAt(source, length, header, signature, sizeof signature) || Le32(signature) != kPESignature)
        return MessageResult(kNotPEImage);
    if (source->Read(file_header, sizeof file_header) != sizeof file_header) return MessageResult(kNotPEImage);
    const uint32_t section_table = source->Seek(Le16(file_header + kSizeOfOptionalHeader), FromCurrent);

    uint32_t resource_header = 0;
    uint8_t section[kSectionHeaderSize];
    bool found = false;
    for (uint32_t i = 0, n = Le16(file_header + kNumberOfSections); i < n && !found; ++i) {
        resource_header = source->GetPosition();
        if (source->Read(section, sizeof section) != sizeof section) return MessageResult(kNotPEImage);
        found = std::memcmp(section, kResourceSectionName, sizeof kResourceSectionName) == 0;
    }
    if (!found || section_table > resource_header) return MessageResult(kNotPEImage);

    // The first resource data marks the end of the image head: everything
    // before it, directory included in the usual layout, is kept in memory.
    // The tree is walked a level at a time and each directory of a level is
    // read once, however many entries lead to it: a damaged tree may point
    // back into itself.
    const uint32_t base = Le32(section + kPointerToRawData);
    const uint32_t section_rva = Le32(section + kVirtualAddress);
    const ResourceReader tree(source, length, base);
    OffsetSet levels[4];
    levels[0].Add(0);
    for (int level = 0; level < 3; ++level) {
        levels[level].Settle();
        for (uint32_t d = 0; d < levels[level].Count(); ++d) {
            ResourceBytes entries;
            uint32_t count = 0;
            if (!tree.Directory(levels[level].At(d), &entries, &count)) continue;
            // Type and name entries lead to directories, language entries to
            // data entries.
            const uint32_t mask = level < 2 ? ~kHighBit : ~0u;
            for (uint32_t i = 0; i < count; ++i) levels[level + 1].Add(EntryOffset(entries, i) & mask);
        }
    }
    uint32_t first_data = kNoDataYet;
    levels[3].Settle();
    for (uint32_t i = 0; i < levels[3].Count(); ++i) {
        ResourceBytes entry;
        if (!tree.DataEntry(levels[3].At(i), &entry)) continue;
        const uint32_t file_offset = Le32(entry.Get()) - section_rva + base;
        if (file_offset < first_data) first_data = file_offset;
    }
    if (first_data == kNoDataYet) return MessageResult(kNotPEImage);

    // Whatever the data offsets claim, the head covers the headers it points
    // into and never more than the file.
    uint32_t head = first_data;
    if (head < resource_header + kSectionHeaderSize) head = resource_header + kSectionHeaderSize;
    if (head < header + kSignatureSize + kFileHeaderSize) head = header + kSignatureSize + kFileHeaderSize;
    if (head > length) head = length;
    auto* image = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, head, 0));
    if (image == nullptr) return MessageResult(kNotPEImage);
    if (source->Seek(0, FromBegin) != 0 || source->Read(image, head) != head) {
        hvbHeapFree(nullptr, image, 0);
        return MessageResult(kNotPEImage);
    }
    image_ = image;
    image_memory_length_ = head;
    file_header_ = image_ + header + kSignatureSize;
    optional_header_ = file_header_ + kFileHeaderSize;
    section_table_ = image_ + section_table;
    resource_section_ = image_ + resource_header;
    return ResultSuccess;
}

ResultCode EXEImageFileObject::LoadPEImage(HVBFileObject* source, bool use_mapping) {
    Close();
    if (source == nullptr) return MessageResult(kNotPEImage);
    if (use_mapping) {
        if (auto* raw = static_cast<ERawFile*>(source->DynamicCast("ERawFile"))) {
            image_length_ = source->GetLength();
            return MapRawFile(raw->GetHandle());
        }
    }
    image_length_ = source->GetLength();
    if (image_length_ < kDosHeaderSize) {
        Close();
        return MessageResult(kNotPEImage);
    }
    auto* image = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, image_length_, 0));
    if (image == nullptr) {
        Close();
        return MessageResult(kNotPEImage);
    }
    uint32_t got = source->Read(image, image_length_);
    if (got > image_length_) got = 0;
    // A short read must not leave undefined bytes to be taken for an image.
    MemoryFill(image + got, 0, image_length_ - got);
    image_ = image;
    image_memory_length_ = image_length_;
    return ValidateLoadedImage();
}

ResultCode EXEImageFileObject::MapRawFile(plat::FileHandle file) {
    mapping_ = plat::CreateReadOnlyMapping(file);
    if (mapping_ == nullptr) return MessageResult(kMappingObjectFailed);
    view_ = plat::MapWholeView(mapping_);
    if (view_ == nullptr) return MessageResult(kMappingFailed);
    image_ = static_cast<uint8_t*>(const_cast<void*>(view_));
    image_memory_length_ = image_length_;
    return ValidateLoadedImage();
}

ResultCode EXEImageFileObject::ValidateLoadedImage() {
    const uint32_t length = image_memory_length_;
    const uint8_t* dos = ImageBytes(0, kDosHeaderSize);
    if (dos == nullptr) {
        Close();
        return MessageResult(kNotPEImage);
    }
    const uint32_t header = Le32(dos + kNewHeaderOffset);
    if (static_cast<uint64_t>(header) + kHeaderSpan > length || Le32(image_ + header) != kPESignature) {
        Close();
        return MessageResult(kNotPEImage);
    }
    const uint8_t* file_header = image_ + header + kSignatureSize;
    const uint32_t count = Le16(file_header + kNumberOfSections);
    const uint64_t table =
        static_cast<uint64_t>(header) + kSignatureSize + kFileHeaderSize + Le16(file_header + kSizeOfOptionalHeader);
    if (table + static_cast<uint64_t>(count) * kSectionHeaderSize > length) {
        Close();
        return MessageResult(kNotPEImage);
    }
    file_header_ = file_header;
    optional_header_ = file_header + kFileHeaderSize;
    section_table_ = image_ + table;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* section = section_table_ + i * kSectionHeaderSize;
        if (static_cast<uint64_t>(Le32(section + kPointerToRawData)) + Le32(section + kSizeOfRawData) > length) {
            Close();
            return MessageResult(kBadSectionHeader);
        }
        if (std::memcmp(section, kResourceSectionName, sizeof kResourceSectionName) == 0) resource_section_ = section;
    }
    return ResultSuccess;
}
