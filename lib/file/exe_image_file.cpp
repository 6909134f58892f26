#include "file/exe_image_file.h"

#include <cstring>

#include "core/hvb.h"
#include "core/memory.h"
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

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

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
// the raw data of the resource section (or beyond what 32 bits address).
bool DataOffset(const uint8_t* section, const uint8_t* data_entry, uint32_t* offset, uint32_t* size) {
    uint32_t rva = Le32(data_entry);
    uint32_t length = Le32(data_entry + 4);
    uint32_t virtual_address = Le32(section + kVirtualAddress);
    if (rva < virtual_address) return false;
    uint64_t start = static_cast<uint64_t>(rva - virtual_address);
    if (start + length > Le32(section + kSizeOfRawData)) return false;
    uint64_t file_offset = start + Le32(section + kPointerToRawData);
    if (file_offset + length > 0xFFFFFFFFull) return false;
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

// A resource directory's entry table read through the source; empty when the
// directory or its table cannot be read in full.
class StreamedDirectory {
public:
    StreamedDirectory(HVBFileObject* source, uint32_t length, uint64_t offset) {
        uint8_t head[16];
        if (!ReadAt(source, length, offset, head, sizeof head)) return;
        uint32_t count = static_cast<uint32_t>(Le16(head + 12)) + Le16(head + 14);
        if (count == 0) return;
        if (offset + 16 + static_cast<uint64_t>(count) * 8 > length) return;
        entries_ = new uint8_t[count * 8];
        if (source->Read(entries_, count * 8) != count * 8) return;
        count_ = count;
    }
    ~StreamedDirectory() { delete[] entries_; }
    StreamedDirectory(const StreamedDirectory&) = delete;
    StreamedDirectory& operator=(const StreamedDirectory&) = delete;

    uint32_t Count() const { return count_; }
    uint32_t Offset(uint32_t i) const { return Le32(entries_ + 8 * i + 4); }

private:
    uint8_t* entries_ = nullptr;
    uint32_t count_ = 0;
};

}  // namespace

struct EXEImageFileObject::Walk {
    const char* filter[2];
    uint32_t language;
    const char* key[2];
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
    const uint32_t base = Le32(section + kPointerToRawData);
    const uint32_t section_rva = Le32(section + kVirtualAddress);
    uint32_t first_data = kNoDataYet;
    StreamedDirectory types(source, length, base);
    for (uint32_t t = 0; t < types.Count(); ++t) {
        StreamedDirectory names(source, length, static_cast<uint64_t>(base) + (types.Offset(t) & ~kHighBit));
        for (uint32_t n = 0; n < names.Count(); ++n) {
            StreamedDirectory languages(source, length, static_cast<uint64_t>(base) + (names.Offset(n) & ~kHighBit));
            for (uint32_t l = 0; l < languages.Count(); ++l) {
                uint8_t entry[16];
                if (!ReadAt(source, length, static_cast<uint64_t>(base) + languages.Offset(l), entry, sizeof entry))
                    continue;
                uint32_t file_offset = Le32(entry) - section_rva + base;
                if (file_offset < first_data) first_data = file_offset;
            }
        }
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

struct Directory {
    const uint8_t* entries;
    uint32_t count;
};

enum class Match { No, Yes, Fault };

}  // namespace

ResultCode EXEImageFileObject::FindResourceData(ResourceData* out, const char* type, const char* name,
                                                uint16_t language) {
    if (resource_section_ == nullptr) return MessageResult(kNoResourceSection);
    const uint64_t root = Le32(resource_section_ + kPointerToRawData);
    const EWideString wide_type(IsIntResource(type) ? "" : type);
    const EWideString wide_name(IsIntResource(name) ? "" : name);

    auto directory = [&](uint32_t relative, Directory* dir) {
        const uint8_t* head = ImageBytes(root + relative, 16);
        if (head == nullptr) return false;
        dir->count = static_cast<uint32_t>(Le16(head + 12)) + Le16(head + 14);
        dir->entries = ImageBytes(root + relative + 16, static_cast<uint64_t>(dir->count) * 8);
        return dir->entries != nullptr;
    };
    auto matches = [&](uint32_t name_field, const char* key, const EWideString& wanted) {
        if ((name_field & kHighBit) == 0) {
            return !IsIntResource(key) || name_field != reinterpret_cast<uintptr_t>(key) ? Match::No : Match::Yes;
        }
        if (IsIntResource(key)) return Match::No;
        const uint64_t at = root + (name_field & ~kHighBit);
        const uint8_t* head = ImageBytes(at, 2);
        if (head == nullptr) return Match::Fault;
        const uint32_t units = Le16(head);
        const uint8_t* text = ImageBytes(at + 2, 2ull * units);
        if (text == nullptr) return Match::Fault;
        if (wanted.GetLength() != units) return Match::No;
        for (uint32_t i = 0; i < units; ++i) {
            if (Le16(text + 2 * i) != static_cast<uint16_t>(wanted.GetAt(static_cast<int32_t>(i)))) return Match::No;
        }
        return Match::Yes;
    };
    // The first entry matching the key, by its offset field.
    auto find = [&](const Directory& dir, const char* key, const EWideString& wanted, uint32_t* offset) {
        for (uint32_t i = 0; i < dir.count; ++i) {
            const uint8_t* entry = dir.entries + 8 * i;
            Match m = matches(Le32(entry), key, wanted);
            if (m == Match::Fault) return Match::Fault;
            if (m == Match::Yes) {
                *offset = Le32(entry + 4);
                return Match::Yes;
            }
        }
        return Match::No;
    };

    Directory dir;
    uint32_t offset = 0;
    if (!directory(0, &dir)) return MessageResult(kResourceDataNotFound);
    Match m = find(dir, type, wide_type, &offset);
    if (m != Match::Yes) return MessageResult(m == Match::Fault ? kResourceDataNotFound : kTypeNotFound);
    if (!directory(offset & ~kHighBit, &dir)) return MessageResult(kResourceDataNotFound);
    m = find(dir, name, wide_name, &offset);
    if (m != Match::Yes) return MessageResult(m == Match::Fault ? kResourceDataNotFound : kNameNotFound);
    if (!directory(offset & ~kHighBit, &dir)) return MessageResult(kResourceDataNotFound);
    const uint8_t* chosen = nullptr;
    for (uint32_t i = 0; i < dir.count && chosen == nullptr; ++i) {
        if (language == 0 || Le32(dir.entries + 8 * i) == language) chosen = dir.entries + 8 * i;
    }
    if (chosen == nullptr) return MessageResult(kLanguageNotFound);
    const uint8_t* data_entry = ImageBytes(root + Le32(chosen + 4), 16);
    if (data_entry == nullptr) return MessageResult(kResourceDataNotFound);
    uint32_t data_offset = 0;
    uint32_t size = 0;
    if (!DataOffset(resource_section_, data_entry, &data_offset, &size)) return MessageResult(kBadDataEntry);
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
    Walk walk{{type, name}, language, {nullptr, nullptr}};
    return EnumLevel(walk, 0, 0);
}

ResultCode EXEImageFileObject::EnumLevel(Walk& walk, int level, uint32_t directory) {
    const uint64_t root = Le32(resource_section_ + kPointerToRawData);
    const uint8_t* head = ImageBytes(root + directory, 16);
    if (head == nullptr) return MessageResult(kResourceDataNotFound);
    const uint32_t count = static_cast<uint32_t>(Le16(head + 12)) + Le16(head + 14);
    const uint8_t* entries = ImageBytes(root + directory + 16, static_cast<uint64_t>(count) * 8);
    if (entries == nullptr) return MessageResult(kResourceDataNotFound);

    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t name_field = Le32(entries + 8 * i);
        const uint32_t offset = Le32(entries + 8 * i + 4);
        if (level == 2) {
            const uint32_t wanted = walk.language & 0xFFFF;
            if (wanted != 0 && name_field != wanted) continue;
            const uint8_t* data_entry = ImageBytes(root + offset, 16);
            if (data_entry == nullptr) return MessageResult(kResourceDataNotFound);
            uint32_t data_offset = 0;
            uint32_t size = 0;
            if (!DataOffset(resource_section_, data_entry, &data_offset, &size)) return MessageResult(kBadDataEntry);
            ResultCode result = OnEnumResource(walk.key[0], walk.key[1], static_cast<uint16_t>(name_field),
                                               Offset(image_, data_offset), size);
            if (result != ResultSuccess) return result;
            continue;
        }

        const char* filter = walk.filter[level];
        EString narrow;
        const char* key;
        if (name_field & kHighBit) {
            const uint64_t at = root + (name_field & ~kHighBit);
            const uint8_t* length = ImageBytes(at, 2);
            const uint8_t* text = length != nullptr ? ImageBytes(at + 2, 2ull * Le16(length)) : nullptr;
            if (text == nullptr) return MessageResult(kResourceDataNotFound);
            narrow = NarrowName(text, Le16(length));
            key = narrow.GetString();
            if (filter != nullptr && (IsIntResource(filter) || std::strcmp(filter, key) != 0)) continue;
        } else {
            key = MakeIntResource(static_cast<uint16_t>(name_field));
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
