#include "file/exe_image_file.h"

#include <algorithm>
#include <cstring>

#include "core/hvb.h"
#include "core/memory.h"
#include "file/little_endian.h"
#include "file/raw_file.h"
#include "text/string.h"

namespace {

const char kNotPEImage[] = "有効な PE イメージファイルではありません。";
const char kBadSectionHeader[] = "セクションヘッダが不正です。";
const char kMappingObjectFailed[] = "ファイルマッピングオブジェクトの生成に失敗しました。";
const char kMappingFailed[] = "ファイルマッピングに失敗しました。";
const char kNoResourceSection[] = "リソースセクションがありません。";
const char kTypeNotFound[] = "リソースタイプが見つかりません。";
const char kNameNotFound[] = "リソース識別子が見つかりません。";
const char kLanguageNotFound[] = "言語識別子が見つかりません。";
const char kBadDataEntry[] = "データエントリが不正です。";
const char kResourceDataNotFound[] = "リソースデータが見つかりませんでした。";
const char kNotOpened[] = "OpenPEImageFile 関数でイメージファイルが開かれていません。";

constexpr uint32_t kPESignature = 0x00004550;
constexpr uint32_t kHeaderSpan = 228;  // signature, file header and the optional header fields read
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kNoDataYet = 0x7FFFFFFF;
constexpr uint32_t kHighBit = 0x80000000;
const uint8_t kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

// Section header fields.
constexpr uint32_t kVirtualAddress = 12;
constexpr uint32_t kSizeOfRawData = 16;
constexpr uint32_t kPointerToRawData = 20;

const uint8_t* Offset(const uint8_t* base, uint32_t offset) {
    // Data pointers of a head-only image point past its memory; they are
    // formed without pointer arithmetic so that only their distance matters.
    return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(base) + offset);
}

// A directory string as the ANSI code page spells it. The units in the image
// need not be aligned, so they are copied out first.
EString NarrowName(const uint8_t* units, uint32_t count) {
    auto* wide = new WideChar[count + 1];
    for (uint32_t i = 0; i < count; ++i) wide[i] = static_cast<WideChar>(Le16(units + 2 * i));
    wide[count] = 0;
    EString narrow(wide, static_cast<int32_t>(count));
    delete[] wide;
    return narrow;
}

// The file offset of a resource's data, or false when it does not lie inside
// the raw data of the resource section, or not inside the image (whose
// section headers are not checked against its length when only its head is
// read).
bool DataOffset(const uint8_t* section, const uint8_t* data_entry, uint32_t image_length, uint32_t* offset,
                uint32_t* size) {
    uint32_t rva = Le32(data_entry);
    uint32_t length = Le32(data_entry + 4);
    uint32_t virtual_address = Le32(section + kVirtualAddress);
    if (rva < virtual_address) return false;
    uint64_t start = static_cast<uint64_t>(rva - virtual_address);
    if (start + length > Le32(section + kSizeOfRawData)) return false;
    uint64_t file_offset = start + Le32(section + kPointerToRawData);
    if (file_offset + length > image_length) return false;
    *offset = static_cast<uint32_t>(file_offset);
    *size = length;
    return true;
}

// Reads exactly count bytes at an absolute offset of the source.
bool ReadAt(HVBFileObject* source, uint32_t length, uint64_t offset, void* buffer, uint32_t count) {
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

    // A directory's entry table, 8 bytes an entry.
    bool Directory(uint64_t relative, ResourceBytes* entries, uint32_t* count) const {
        ResourceBytes head;
        if (!Fetch(relative, 16, &head)) return false;
        *count = static_cast<uint32_t>(Le16(head.Get() + 12)) + Le16(head.Get() + 14);
        return *count == 0 || Fetch(relative + 16, static_cast<uint64_t>(*count) * 8, entries);
    }
    // The UTF-16 units of a directory string, little-endian and not
    // necessarily aligned.
    bool Name(uint64_t relative, ResourceBytes* units, uint32_t* count) const {
        ResourceBytes head;
        if (!Fetch(relative, 2, &head)) return false;
        *count = Le16(head.Get());
        return Fetch(relative + 2, 2ull * *count, units);
    }
    bool DataEntry(uint64_t relative, ResourceBytes* entry) const { return Fetch(relative, 16, entry); }

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

uint32_t EntryName(const ResourceBytes& entries, uint32_t i) { return Le32(entries.Get() + 8 * i); }
uint32_t EntryOffset(const ResourceBytes& entries, uint32_t i) { return Le32(entries.Get() + 8 * i + 4); }

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

struct EXEImageFileObject::Walk {
    const ResourceReader* tree;
    const char* filter[2];
    uint32_t language;
    ResourceKey key[2];
};

EXEImageFileObject::~EXEImageFileObject() { Close(); }

const uint8_t* EXEImageFileObject::ImageBytes(uint64_t offset, uint64_t size) const {
    if (image_ == nullptr || offset + size > image_memory_length_) return nullptr;
    return image_ + offset;
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

    uint8_t dos[64];
    if (source->Read(dos, sizeof dos) != sizeof dos) return MessageResult(kNotPEImage);
    const uint32_t header = Le32(dos + 0x3C);
    if (static_cast<uint64_t>(header) + kHeaderSpan > length) return MessageResult(kNotPEImage);

    uint8_t signature[4];
    uint8_t file_header[20];
    if (!ReadAt(source, length, header, signature, sizeof signature) || Le32(signature) != kPESignature)
        return MessageResult(kNotPEImage);
    if (source->Read(file_header, sizeof file_header) != sizeof file_header) return MessageResult(kNotPEImage);
    const uint32_t section_table = source->Seek(Le16(file_header + 16), FromCurrent);

    uint32_t resource_header = 0;
    uint8_t section[kSectionHeaderSize];
    bool found = false;
    for (uint32_t i = 0, n = Le16(file_header + 2); i < n && !found; ++i) {
        resource_header = source->GetPosition();
        if (source->Read(section, sizeof section) != sizeof section) return MessageResult(kNotPEImage);
        found = std::memcmp(section, kResourceSectionName, 8) == 0;
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
    if (head < header + 24) head = header + 24;
    if (head > length) head = length;
    auto* image = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, head, 0));
    if (image == nullptr) return MessageResult(kNotPEImage);
    if (source->Seek(0, FromBegin) != 0 || source->Read(image, head) != head) {
        hvbHeapFree(nullptr, image, 0);
        return MessageResult(kNotPEImage);
    }
    image_ = image;
    image_memory_length_ = head;
    file_header_ = image_ + header + 4;
    optional_header_ = file_header_ + 20;
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
    if (image_length_ < 64) {
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
    const uint8_t* dos = ImageBytes(0, 64);
    if (dos == nullptr) {
        Close();
        return MessageResult(kNotPEImage);
    }
    const uint32_t header = Le32(dos + 0x3C);
    if (static_cast<uint64_t>(header) + kHeaderSpan > length || Le32(image_ + header) != kPESignature) {
        Close();
        return MessageResult(kNotPEImage);
    }
    const uint8_t* file_header = image_ + header + 4;
    const uint32_t count = Le16(file_header + 2);
    const uint64_t table = static_cast<uint64_t>(header) + 24 + Le16(file_header + 16);
    if (table + static_cast<uint64_t>(count) * kSectionHeaderSize > length) {
        Close();
        return MessageResult(kNotPEImage);
    }
    file_header_ = file_header;
    optional_header_ = file_header + 20;
    section_table_ = image_ + table;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* section = section_table_ + i * kSectionHeaderSize;
        if (static_cast<uint64_t>(Le32(section + kPointerToRawData)) + Le32(section + kSizeOfRawData) > length) {
            Close();
            return MessageResult(kBadSectionHeader);
        }
        if (std::memcmp(section, kResourceSectionName, 8) == 0) resource_section_ = section;
    }
    return ResultSuccess;
}

namespace {

enum class Match { No, Yes, Fault };

// Whether a directory entry's name field names the key: an identifier entry
// only an identifier key, a named entry only a string key of the same units
// (case-sensitive).
Match NameMatches(const ResourceReader& tree, uint32_t name_field, const char* key, const EWideString& wanted) {
    if ((name_field & kHighBit) == 0)
        return IsIntResource(key) && name_field == reinterpret_cast<uintptr_t>(key) ? Match::Yes : Match::No;
    if (IsIntResource(key)) return Match::No;
    ResourceBytes units;
    uint32_t count = 0;
    if (!tree.Name(name_field & ~kHighBit, &units, &count)) return Match::Fault;
    if (wanted.GetLength() != count) return Match::No;
    for (uint32_t i = 0; i < count; ++i) {
        if (Le16(units.Get() + 2 * i) != static_cast<uint16_t>(wanted.GetAt(static_cast<int32_t>(i)))) return Match::No;
    }
    return Match::Yes;
}

// The offset field of the first entry of a directory whose name matches.
Match FindEntry(const ResourceReader& tree, uint32_t directory, const char* key, uint32_t* offset) {
    const EWideString wanted(IsIntResource(key) ? "" : key);
    ResourceBytes entries;
    uint32_t count = 0;
    if (!tree.Directory(directory, &entries, &count)) return Match::Fault;
    for (uint32_t i = 0; i < count; ++i) {
        const Match m = NameMatches(tree, EntryName(entries, i), key, wanted);
        if (m == Match::Yes) *offset = EntryOffset(entries, i);
        if (m != Match::No) return m;
    }
    return Match::No;
}

}  // namespace

ResultCode EXEImageFileObject::FindResourceData(ResourceData* out, const char* type, const char* name,
                                                uint16_t language) {
    if (resource_section_ == nullptr) return MessageResult(kNoResourceSection);
    const ResourceReader tree(image_, image_memory_length_, Le32(resource_section_ + kPointerToRawData));

    uint32_t offset = 0;
    Match m = FindEntry(tree, 0, type, &offset);
    if (m != Match::Yes) return MessageResult(m == Match::Fault ? kResourceDataNotFound : kTypeNotFound);
    m = FindEntry(tree, offset & ~kHighBit, name, &offset);
    if (m != Match::Yes) return MessageResult(m == Match::Fault ? kResourceDataNotFound : kNameNotFound);

    ResourceBytes entries;
    uint32_t count = 0;
    if (!tree.Directory(offset & ~kHighBit, &entries, &count)) return MessageResult(kResourceDataNotFound);
    uint32_t chosen = count;
    for (uint32_t i = 0; i < count && chosen == count; ++i) {
        if (language == 0 || EntryName(entries, i) == language) chosen = i;
    }
    if (chosen == count) return MessageResult(kLanguageNotFound);
    ResourceBytes data_entry;
    if (!tree.DataEntry(EntryOffset(entries, chosen), &data_entry)) return MessageResult(kResourceDataNotFound);
    uint32_t data_offset = 0;
    uint32_t size = 0;
    if (!DataOffset(resource_section_, data_entry.Get(), image_length_, &data_offset, &size))
        return MessageResult(kBadDataEntry);
    if (out != nullptr) {
        out->data = Offset(image_, data_offset);
        out->size = size;
    }
    return ResultSuccess;
}

ResultCode EXEImageFileObject::OpenResource(const char* type, const char* name, uint16_t language) {
    if (source_ == nullptr) return MessageResult(kNotOpened);
    ResourceData found{};
    ResultCode result = FindResourceData(&found, type, name, language);
    if (result != ResultSuccess) return result;
    window_offset_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(found.data) - reinterpret_cast<uintptr_t>(image_));
    window_length_ = found.size;
    source_->Seek(static_cast<int32_t>(window_offset_), FromBegin);
    return ResultSuccess;
}

void EXEImageFileObject::CloseResource() {
    window_offset_ = 0;
    window_length_ = 0;
}

ResultCode EXEImageFileObject::EnumResources(const char* type, const char* name, uint32_t language) {
    if (resource_section_ == nullptr) return MessageResult(kNoResourceSection);
    const ResourceReader tree(image_, image_memory_length_, Le32(resource_section_ + kPointerToRawData));
    Walk walk{&tree, {type, name}, language, {}};
    return EnumLevel(walk, 0, 0);
}

ResultCode EXEImageFileObject::EnumLevel(Walk& walk, int level, uint32_t directory) {
    const ResourceReader& tree = *walk.tree;
    ResourceBytes entries;
    uint32_t count = 0;
    if (!tree.Directory(directory, &entries, &count)) return MessageResult(kResourceDataNotFound);

    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t name_field = EntryName(entries, i);
        const uint32_t offset = EntryOffset(entries, i);
        if (level == 2) {
            const uint32_t wanted = walk.language & 0xFFFF;
            if (wanted != 0 && name_field != wanted) continue;
            ResourceBytes data_entry;
            if (!tree.DataEntry(offset, &data_entry)) return MessageResult(kResourceDataNotFound);
            uint32_t data_offset = 0;
            uint32_t size = 0;
            if (!DataOffset(resource_section_, data_entry.Get(), image_length_, &data_offset, &size))
                return MessageResult(kBadDataEntry);
            ResultCode result = OnEnumResourceKeys(walk.key[0], walk.key[1], static_cast<uint16_t>(name_field),
                                                   Offset(image_, data_offset), size);
            if (result != ResultSuccess) return result;
            continue;
        }

        const char* filter = walk.filter[level];
        EWideString wide;
        ResourceKey key;
        if (name_field & kHighBit) {
            ResourceBytes units;
            uint32_t units_count = 0;
            if (!tree.Name(name_field & ~kHighBit, &units, &units_count)) return MessageResult(kResourceDataNotFound);
            wide = HVB_WTEXT("");
            for (uint32_t u = 0; u < units_count; ++u) wide.AppendChar(static_cast<WideChar>(Le16(units.Get() + 2 * u)));
            key.text = wide.GetString();
            key.length = units_count;
            if (filter != nullptr) {
                const EString narrow = NarrowName(units.Get(), units_count);
                if (IsIntResource(filter) || std::strcmp(filter, narrow.GetString()) != 0) continue;
            }
        } else {
            key.is_id = true;
            key.id = static_cast<uint16_t>(name_field);
            if (filter != nullptr && (!IsIntResource(filter) || reinterpret_cast<uintptr_t>(filter) != name_field))
                continue;
        }
        walk.key[level] = key;
        ResultCode result = EnumLevel(walk, level + 1, offset & ~kHighBit);
        if (result != ResultSuccess) return result;
    }
    return ResultSuccess;
}

ResultCode EXEImageFileObject::OnEnumResource(const char*, const char*, uint16_t, const uint8_t*, uint32_t) {
    return ResultSuccess;
}

ResultCode EXEImageFileObject::OnEnumResourceKeys(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                                  const uint8_t* data, uint32_t size) {
    EString narrow[2];
    const char* keys[2];
    const ResourceKey* given[2] = {&type, &name};
    for (int i = 0; i < 2; ++i) {
        if (given[i]->is_id) {
            keys[i] = MakeIntResource(given[i]->id);
            continue;
        }
        narrow[i] = EString(given[i]->text, static_cast<int32_t>(given[i]->length));
        keys[i] = narrow[i].GetString();
    }
    return OnEnumResource(keys[0], keys[1], language, data, size);
}

HVBFileObject* EXEImageFileObject::Duplicate() { return nullptr; }

uint32_t EXEImageFileObject::Read(void* buffer, uint32_t count) {
    if (!HasWindow()) return 0;
    const uint32_t position = source_->GetPosition();
    const uint64_t end = static_cast<uint64_t>(window_offset_) + window_length_;
    // Outside the window (the source was moved by someone else) nothing of
    // the resource can be read.
    if (position < window_offset_ || position >= end) return 0;
    if (count > end - position) count = static_cast<uint32_t>(end - position);
    return source_->Read(buffer, count);
}

uint32_t EXEImageFileObject::Write(const void*, uint32_t) { return 0; }

uint32_t EXEImageFileObject::GetLength() { return window_length_; }

uint32_t EXEImageFileObject::Seek(int32_t distance, uint32_t origin) {
    if (!HasWindow()) return 0;
    int64_t target = distance;
    if (origin == FromCurrent) target += GetPosition();
    else if (origin == FromEnd) target += window_length_;
    if (target < 0) target = 0;
    if (target > window_length_) target = window_length_;
    const uint32_t absolute = window_offset_ + static_cast<uint32_t>(target);
    return source_->Seek(static_cast<int32_t>(absolute), FromBegin) - window_offset_;
}

uint32_t EXEImageFileObject::GetPosition() {
    if (!HasWindow()) return 0;
    return source_->GetPosition() - window_offset_;
}

ResultCode EXEImageFileObject::SetEndOfFile() { return ResultGeneralError; }
