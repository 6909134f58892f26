// The resources of a loaded EXEImageFileObject: finding one and enumerating
// them through the resource directory, and the file-object view of an opened
// resource, streamed from the source.
#include <cstring>

#include "core/hvb.h"
#include "file/exe_image_file.h"
#include "file/exe_image_layout.h"
#include "file/little_endian.h"
#include "text/string.h"

using pe::EntryName;
using pe::EntryOffset;
using pe::kHighBit;
using pe::kNoResourceSection;
using pe::kPointerToRawData;
using pe::kSizeOfRawData;
using pe::kVirtualAddress;
using pe::ResourceBytes;
using pe::ResourceReader;

namespace {

const char kTypeNotFound[] = "リソースタイプが見つかりません。";
const char kNameNotFound[] = "リソース識別子が見つかりません。";
const char kLanguageNotFound[] = "言語識別子が見つかりません。";
const char kBadDataEntry[] = "データエントリが不正です。";
const char kResourceDataNotFound[] = "リソースデータが見つかりませんでした。";
const char kNotOpened[] = "OpenPEImageFile 関数でイメージファイルが開かれていません。";

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

struct EXEImageFileObject::Walk {
    const ResourceReader* tree;
    const char* filter[2];
    uint32_t language;
    ResourceKey key[2];
};

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
    window_offset_ =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(found.data) - reinterpret_cast<uintptr_t>(image_));
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
            for (uint32_t u = 0; u < units_count; ++u)
                wide.AppendChar(static_cast<WideChar>(Le16(units.Get() + 2 * u)));
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
    if (origin == FromCurrent)
        target += GetPosition();
    else if (origin == FromEnd)
        target += window_length_;
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
