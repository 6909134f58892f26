// Rewriting through EXEImageFileObject: a copy of the image whose resource
// section is replaced by one built from the declared resources.
#include <cstring>
#include <new>

#include "core/hvb.h"
#include "file/exe_image_file.h"
#include "file/exe_image_layout.h"
#include "file/little_endian.h"
#include "text/string.h"

using pe::kCheckSum;
using pe::kDataEntrySize;
using pe::kDirectorySize;
using pe::kEntrySize;
using pe::kFileAlignment;
using pe::kFileHeaderSize;
using pe::kFixedOptionalHeader;
using pe::kFixedOptionalHeaderPE32Plus;
using pe::kHighBit;
using pe::kIdEntryCount;
using pe::kMagic;
using pe::kMagicPE32Plus;
using pe::kNamedEntryCount;
using pe::kNoResourceSection;
using pe::kNumberOfSections;
using pe::kNumberOfSymbols;
using pe::kPointerToRawData;
using pe::kPointerToSymbolTable;
using pe::kResourceDirectory;
using pe::kSectionAlignment;
using pe::kSectionHeaderSize;
using pe::kSecurityDirectory;
using pe::kSizeOfImage;
using pe::kSizeOfOptionalHeader;
using pe::kSizeOfRawData;
using pe::kSymbolSize;
using pe::kVirtualAddress;
using pe::kVirtualSize;

namespace {

const char kNotLastSection[] = "リソースセクションの位置がファイルの末端にありません。";
const char kHeadNotWritten[] = "PE イメージの書き出し中に失敗しました。";
const char kDirectoryNotWritten[] = "リソースデータの書き出しに失敗しました。";
const char kNotBegun[] = "BeginWritingPEImage 関数が呼び出されていません。";
const char kLeafNotFound[] = "リソースデータエントリが見つかりません。";
const char kDataNotWritten[] = "ファイルへの書き出しに失敗しました。";
const char kOverlay[] = "最後のセクションの後ろに追加データがあります。";

constexpr uint32_t kRawDataAlignment = 512;
// Every offset of the written file must stay within what a seek reaches.
constexpr uint64_t kLargestFile = 0x7FFFFFFF;

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

bool IsAlignment(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The bytes of a file at offset `at` added up as the 16-bit little-endian
// words the image checksum sums; carries are folded in at the end.
uint64_t SumWords(const uint8_t* bytes, uint32_t count, uint64_t at) {
    uint64_t sum = 0;
    uint32_t i = 0;
    if (count != 0 && (at & 1) != 0) sum += static_cast<uint64_t>(bytes[i++]) << 8;
    for (; i + 1 < count; i += 2) sum += bytes[i] | static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i < count) sum += bytes[i];
    return sum;
}

uint32_t Checksum(uint64_t sum, uint32_t file_length) {
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + file_length;
}

WideChar FoldCase(WideChar c) { return c >= 'a' && c <= 'z' ? static_cast<WideChar>(c - 'a' + 'A') : c; }

// A type or name as the tree keys it: an identifier, or a string. A string
// "#" followed by a decimal number is that identifier, as Win32 reads it.
struct Key {
    bool is_id = false;
    uint16_t id = 0;
    EWideString text;

    bool Make(const char* value) {
        if (IsIntResource(value)) {
            is_id = true;
            id = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(value));
            return true;
        }
        text = EWideString(value);
        if (text.GetString() == nullptr) text = HVB_WTEXT("");
        const uint32_t n = text.GetLength();
        if (n >= 2 && n <= 6 && text.GetAt(0) == '#') {
            uint32_t number = 0;
            bool digits = true;
            for (uint32_t i = 1; i < n && digits; ++i) {
                const WideChar c = text.GetAt(static_cast<int32_t>(i));
                digits = c >= '0' && c <= '9';
                number = number * 10 + static_cast<uint32_t>(c - '0');
            }
            if (digits && number <= 0xFFFF) {
                is_id = true;
                id = static_cast<uint16_t>(number);
                return true;
            }
        }
        // A directory string counts its units in 16 bits.
        return n <= 0xFFFF;
    }

    bool Make(const ResourceKey& key) {
        is_id = key.is_id;
        id = key.id;
        text = HVB_WTEXT("");
        if (!is_id && key.length != 0) text.Append(key.text, static_cast<int32_t>(key.length));
        return is_id || key.length <= 0xFFFF;
    }

    ResourceKey View() const {
        ResourceKey key;
        key.is_id = is_id;
        key.id = id;
        key.text = text.GetString();
        key.length = text.GetLength();
        return key;
    }
};

}  // namespace

struct EXEImageFileObject::ResourceLeaf {
    uint16_t language = 0;
    uint32_t size = 0;  // as last declared
    // Set by BeginWritingPEImage: where the bytes go and how many fit there.
    bool placed = false;
    uint32_t data_offset = 0;  // from the section start
    uint32_t placed_size = 0;
    // What was last written of its data: byte count and word sum.
    uint32_t written = 0;
    uint64_t written_sum = 0;
};

struct EXEImageFileObject::ResourceNode {
    bool is_id = false;
    uint16_t id = 0;
    // "#" and the decimal digits for an identifier, else the name.
    EWideString key;
    uint32_t directory_offset = 0;
    uint32_t string_offset = 0;
    // Name nodes under a type, language leaves under a name.
    EPtrArray children;

    bool Matches(const Key& k) const { return k.is_id ? is_id && id == k.id : !is_id && key.Compare(k.text) == 0; }

    // The order the format expects, which lookups by binary search rely on:
    // names first, compared without regard to case, then identifiers.
    bool Precedes(const Key& k) const {
        if (is_id != k.is_id) return !is_id;
        if (is_id) return id < k.id;
        const uint32_t a = key.GetLength();
        const uint32_t b = k.text.GetLength();
        for (uint32_t i = 0; i < a && i < b; ++i) {
            const auto x = static_cast<uint16_t>(FoldCase(key.GetAt(static_cast<int32_t>(i))));
            const auto y = static_cast<uint16_t>(FoldCase(k.text.GetAt(static_cast<int32_t>(i))));
            if (x != y) return x < y;
        }
        if (a != b) return a < b;
        return key.Compare(k.text) < 0;
    }
};

namespace {

template <typename T>
T* At(const EPtrArray& array, uint32_t i) {
    return static_cast<T*>(array.GetAt(i));
}

// Offsets of the new section, from its start.
struct Layout {
    uint64_t directories = 0;   // D
    uint64_t data_entries = 0;  // E
    uint64_t strings = 0;       // S
    uint64_t string_bytes = 0;
    uint64_t data = 0;  // A
    uint64_t data_bytes = 0;
    uint32_t leaves = 0;
};

}  // namespace

void EXEImageFileObject::DiscardResourceTree() {
    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) {
            auto* name = At<ResourceNode>(type->children, n);
            for (uint32_t l = 0; l < name->children.GetCount(); ++l) delete At<ResourceLeaf>(name->children, l);
            delete name;
        }
        delete type;
    }
    resource_tree_.RemoveAll();
    writing_destination_ = nullptr;
    written_section_offset_ = 0;
    checksum_at_ = 0;
}

ResultCode EXEImageFileObject::AddResource(const char* type, const char* name, uint16_t language, uint32_t size) {
    Key keys[2];
    if (!keys[0].Make(type) || !keys[1].Make(name)) return ResultGeneralError;
    return AddResource(keys[0].View(), keys[1].View(), language, size);
}

bool EXEImageFileObject::IsDeclared(const ResourceKey& type, const ResourceKey& name, uint16_t language) const {
    return FindLeaf(type, name, language) != nullptr;
}

ResultCode EXEImageFileObject::AddResource(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                           uint32_t size) {
    Key keys[2];
    if (!keys[0].Make(type) || !keys[1].Make(name)) return ResultGeneralError;

    EPtrArray* level = &resource_tree_;
    for (const Key& key : keys) {
        uint32_t at = 0;
        ResourceNode* node = nullptr;
        for (; at < level->GetCount(); ++at) {
            auto* candidate = At<ResourceNode>(*level, at);
            if (candidate->Matches(key)) {
                node = candidate;
                break;
            }
            if (!candidate->Precedes(key)) break;
        }
        if (node == nullptr) {
            node = new (std::nothrow) ResourceNode;
            if (node == nullptr) return ResultGeneralError;
            node->is_id = key.is_id;
            node->id = key.id;
            node->key = key.is_id ? HVB_WTEXT("#") + EWideString(static_cast<int32_t>(key.id), 0) : key.text;
            if (!level->InsertAt(at, node)) {
                delete node;
                return ResultGeneralError;
            }
        }
        level = &node->children;
    }

    uint32_t at = 0;
    for (; at < level->GetCount(); ++at) {
        auto* leaf = At<ResourceLeaf>(*level, at);
        if (leaf->language == language) {
            leaf->size = size;
            return ResultSuccess;
        }
        if (leaf->language > language) break;
    }
    auto* leaf = new (std::nothrow) ResourceLeaf;
    if (leaf == nullptr) return ResultGeneralError;
    leaf->language = language;
    leaf->size = size;
    if (!level->InsertAt(at, leaf)) {
        delete leaf;
        return ResultGeneralError;
    }
    return ResultSuccess;
}

ResultCode EXEImageFileObject::BeginWritingPEImage(HVBFileObject* destination) {
    if (resource_section_ == nullptr || file_header_ == nullptr) return MessageResult(kNoResourceSection);
    const uint8_t* section = resource_section_;
    const uint32_t raw_data = Le32(section + kPointerToRawData);
    const uint32_t address = Le32(section + kVirtualAddress);
    const uint32_t section_count = Le16(file_header_ + kNumberOfSections);
    const uint32_t optional_size = Le16(file_header_ + kSizeOfOptionalHeader);
    const uint64_t table_offset = static_cast<uint64_t>(section_table_ - image_);
    const uint64_t section_offset = static_cast<uint64_t>(section - image_);
    const uint64_t optional_offset = static_cast<uint64_t>(optional_header_ - image_);

    // Everything rewritten in place (the headers) lies in the copied head,
    // and the head is in memory.
    if (pe::ImageBytes(image_, image_memory_length_, table_offset,
                       static_cast<uint64_t>(section_count) * kSectionHeaderSize) == nullptr ||
        pe::ImageBytes(image_, image_memory_length_, 0, raw_data) == nullptr ||
        optional_size <
            (Le16(optional_header_ + kMagic) == kMagicPE32Plus ? kFixedOptionalHeaderPE32Plus : kFixedOptionalHeader) ||
        optional_offset + optional_size > raw_data || section_offset + kSectionHeaderSize > raw_data ||
        destination == nullptr) {
        return MessageResult(kHeadNotWritten);
    }
    for (uint32_t i = 0; i < section_count; ++i) {
        if (Le32(section_table_ + i * kSectionHeaderSize + kPointerToRawData) > raw_data)
            return MessageResult(kNotLastSection);
    }

    // Layout: directories depth first in tree order, the data entries, the
    // strings, then the data.
    Layout layout;
    layout.directories = kDirectorySize + kEntrySize * static_cast<uint64_t>(resource_tree_.GetCount());
    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        type->directory_offset = static_cast<uint32_t>(layout.directories);
        layout.directories += kDirectorySize + kEntrySize * static_cast<uint64_t>(type->children.GetCount());
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) {
            auto* name = At<ResourceNode>(type->children, n);
            name->directory_offset = static_cast<uint32_t>(layout.directories);
            layout.directories += kDirectorySize + kEntrySize * static_cast<uint64_t>(name->children.GetCount());
            layout.leaves += name->children.GetCount();
        }
        if (layout.directories > kLargestFile) return MessageResult(kDirectoryNotWritten);
    }
    layout.data_entries = AlignUp(layout.directories, 8);
    layout.strings = layout.data_entries + kDataEntrySize * static_cast<uint64_t>(layout.leaves);
    auto place_string = [&](ResourceNode* node) {
        if (node->is_id) return;
        node->string_offset = static_cast<uint32_t>(layout.string_bytes);
        layout.string_bytes += 2 + 2ull * node->key.GetLength();
    };
    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        place_string(type);
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) place_string(At<ResourceNode>(type->children, n));
        if (layout.strings + layout.string_bytes > kLargestFile) return MessageResult(kDirectoryNotWritten);
    }
    layout.data = layout.strings + AlignUp(layout.string_bytes, 16);
    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) {
            auto* name = At<ResourceNode>(type->children, n);
            for (uint32_t l = 0; l < name->children.GetCount(); ++l) {
                auto* leaf = At<ResourceLeaf>(name->children, l);
                leaf->data_offset = static_cast<uint32_t>(layout.data + layout.data_bytes);
                leaf->placed_size = leaf->size;
                layout.data_bytes += AlignUp(leaf->size, 8);
                if (layout.data_bytes > kLargestFile) return MessageResult(kDirectoryNotWritten);
            }
        }
    }

    const uint8_t* optional = optional_header_;
    const uint32_t file_alignment = Le32(optional + kFileAlignment);
    const uint32_t section_alignment = Le32(optional + kSectionAlignment);
    // Raw data is kept in whole units of the image's file alignment.
    const uint32_t raw_alignment =
        IsAlignment(file_alignment) && file_alignment > kRawDataAlignment && file_alignment <= 0x10000
            ? file_alignment
            : kRawDataAlignment;
    const uint64_t virtual_size = layout.data + layout.data_bytes;
    const uint64_t raw_size = AlignUp(virtual_size, raw_alignment);
    const uint64_t memory_end =
        IsAlignment(section_alignment) ? AlignUp(static_cast<uint64_t>(address) + virtual_size, section_alignment) : 0;
    if (raw_data + raw_size > kLargestFile || static_cast<uint64_t>(address) + virtual_size > 0xFFFFFFFF)
        return MessageResult(kDirectoryNotWritten);
    // Nor may the grown section run into a section that follows it in memory.
    bool last_in_memory = true;
    for (uint32_t i = 0; i < section_count; ++i) {
        const uint32_t other = Le32(section_table_ + i * kSectionHeaderSize + kVirtualAddress);
        if (other <= address) continue;
        last_in_memory = false;
        if (static_cast<uint64_t>(address) + (memory_end != 0 ? memory_end - address : virtual_size) > other)
            return MessageResult(kNotLastSection);
    }

    // The new section's directory area, data entries and strings.
    const auto area_size = static_cast<uint32_t>(layout.data);
    auto* area = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, area_size, 0));
    if (area == nullptr) return MessageResult(kDirectoryNotWritten);
    std::memset(area, 0, area_size);
    auto put_directory = [&](uint32_t offset, const EPtrArray& children, bool leaves) {
        uint32_t named = 0;
        if (!leaves) {
            for (uint32_t i = 0; i < children.GetCount(); ++i) named += At<ResourceNode>(children, i)->is_id ? 0 : 1;
        }
        Put16(area + offset + kNamedEntryCount, named);
        Put16(area + offset + kIdEntryCount, children.GetCount() - named);
        return area + offset + kDirectorySize;
    };
    auto put_node_entry = [&](uint8_t* entry, const ResourceNode* node) {
        Put32(entry, node->is_id ? node->id : kHighBit | static_cast<uint32_t>(layout.strings + node->string_offset));
        Put32(entry + 4, kHighBit | node->directory_offset);
        if (!node->is_id) {
            uint8_t* text = area + layout.strings + node->string_offset;
            Put16(text, node->key.GetLength());
            for (uint32_t i = 0; i < node->key.GetLength(); ++i)
                Put16(text + 2 + 2 * i, static_cast<uint16_t>(node->key.GetAt(static_cast<int32_t>(i))));
        }
    };
    uint32_t leaf_index = 0;
    uint8_t* root_entries = put_directory(0, resource_tree_, false);
    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        put_node_entry(root_entries + kEntrySize * t, type);
        uint8_t* name_entries = put_directory(type->directory_offset, type->children, false);
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) {
            auto* name = At<ResourceNode>(type->children, n);
            put_node_entry(name_entries + kEntrySize * n, name);
            uint8_t* language_entries = put_directory(name->directory_offset, name->children, true);
            for (uint32_t l = 0; l < name->children.GetCount(); ++l, ++leaf_index) {
                auto* leaf = At<ResourceLeaf>(name->children, l);
                const uint32_t data_entry = static_cast<uint32_t>(layout.data_entries) + kDataEntrySize * leaf_index;
                Put32(language_entries + kEntrySize * l, leaf->language);
                Put32(language_entries + kEntrySize * l + 4, data_entry);
                Put32(area + data_entry, address + leaf->data_offset);
                Put32(area + data_entry + 4, leaf->placed_size);
            }
        }
    }

    // New section and optional headers.
    uint8_t new_section[kSectionHeaderSize];
    std::memcpy(new_section, section, kSectionHeaderSize);
    const uint32_t old_raw_size = Le32(section + kSizeOfRawData);
    Put32(new_section + kVirtualSize, static_cast<uint32_t>(virtual_size));
    Put32(new_section + kSizeOfRawData, static_cast<uint32_t>(raw_size));
    // The file header and the optional header after it, rewritten as one.
    const uint32_t headers_size = kFileHeaderSize + optional_size;
    auto* new_headers = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, headers_size, 0));
    if (new_headers == nullptr) {
        hvbHeapFree(nullptr, area, 0);
        return MessageResult(kDirectoryNotWritten);
    }
    std::memcpy(new_headers, file_header_, headers_size);
    uint8_t* new_optional = new_headers + kFileHeaderSize;
    // A symbol table behind the old resource data, and the string table after
    // it that long section names point into, move behind the new section; one
    // not held in memory is dropped.
    const uint8_t* symbols = nullptr;
    uint32_t symbols_size = 0;
    uint64_t symbols_end = 0;
    if (const uint32_t at = Le32(new_headers + kPointerToSymbolTable); at >= raw_data) {
        const uint64_t strings = at + kSymbolSize * static_cast<uint64_t>(Le32(new_headers + kNumberOfSymbols));
        const uint8_t* strings_length = pe::ImageBytes(image_, image_memory_length_, strings, 4);
        if (strings_length != nullptr) {
            const uint32_t length = Le32(strings_length);
            const uint64_t size = strings - at + (length < 4 ? 4 : length);
            symbols_end = at + size;
            symbols = pe::ImageBytes(image_, image_memory_length_, at, size);
            if (raw_data + raw_size + size > kLargestFile) symbols = nullptr;
            symbols_size = static_cast<uint32_t>(size);
        }
        if (symbols != nullptr) {
            Put32(new_headers + kPointerToSymbolTable, static_cast<uint32_t>(raw_data + raw_size));
        } else {
            std::memset(new_headers + kPointerToSymbolTable, 0, 8);
        }
    }
    // The image in memory ends where its last section ends, in whole units of
    // the section alignment.
    uint32_t image_size = Le32(optional + kSizeOfImage);
    if (memory_end == 0)
        image_size += static_cast<uint32_t>(raw_size) - old_raw_size;
    else if (last_in_memory)
        image_size = static_cast<uint32_t>(memory_end);
    Put32(new_optional + kSizeOfImage, image_size);
    const uint32_t directories =
        Le16(optional + kMagic) == kMagicPE32Plus ? kFixedOptionalHeaderPE32Plus : kFixedOptionalHeader;
    const uint32_t directory_count = Le32(new_optional + directories - 4);
    auto directory_entry = [&](uint32_t index) -> uint8_t* {
        const uint32_t at = directories + 8 * index;
        return index < directory_count && at + 8 <= optional_size ? new_optional + at : nullptr;
    };
    if (uint8_t* entry = directory_entry(kResourceDirectory)) {
        Put32(entry, address);
        Put32(entry + 4, static_cast<uint32_t>(virtual_size));
    }
    // A certificate table is a file offset; one behind the old resource data
    // is cut off with it.
    uint64_t accounted = raw_data + static_cast<uint64_t>(old_raw_size);
    if (uint8_t* entry = directory_entry(kSecurityDirectory)) {
        if (Le32(entry) >= raw_data) {
            const uint64_t end = static_cast<uint64_t>(Le32(entry)) + Le32(entry + 4);
            if (end > accounted) accounted = end;
            std::memset(entry, 0, 8);
        }
    }
    // Whatever else follows the resource data (a payload appended to the
    // program, say) would be lost: refused, unless it is only zeros.
    if (symbols_end > accounted) accounted = symbols_end;
    if (accounted < image_length_) {
        const uint8_t* rest = pe::ImageBytes(image_, image_memory_length_, accounted, image_length_ - accounted);
        bool zeros = rest != nullptr;
        for (uint64_t i = 0; zeros && i < image_length_ - accounted; ++i) zeros = rest[i] == 0;
        if (!zeros) {
            hvbHeapFree(nullptr, new_headers, 0);
            hvbHeapFree(nullptr, area, 0);
            return MessageResult(kOverlay);
        }
    }

    // An image that carries a checksum gets the one of what is written, kept
    // right as the resource data follows.
    const auto headers_at = static_cast<uint32_t>(optional_offset - kFileHeaderSize);
    const auto section_at = static_cast<uint32_t>(section_offset);
    checksum_at_ = 0;
    written_length_ = static_cast<uint32_t>(raw_data + raw_size + (symbols != nullptr ? symbols_size : 0));
    if (Le32(new_optional + kCheckSum) != 0) {
        checksum_at_ = static_cast<uint32_t>(optional_offset + kCheckSum);
        Put32(new_optional + kCheckSum, 0);
        uint64_t sum = SumWords(image_, headers_at, 0) + SumWords(new_headers, headers_size, headers_at) +
                       SumWords(image_ + headers_at + headers_size, section_at - (headers_at + headers_size),
                                headers_at + headers_size) +
                       SumWords(new_section, kSectionHeaderSize, section_at) +
                       SumWords(image_ + section_at + kSectionHeaderSize, raw_data - (section_at + kSectionHeaderSize),
                                section_at + kSectionHeaderSize) +
                       SumWords(area, area_size, raw_data);
        if (symbols != nullptr) sum += SumWords(symbols, symbols_size, raw_data + raw_size);
        checksum_sum_ = sum;
        Put32(new_optional + kCheckSum, Checksum(sum, written_length_));
    }

    ResultCode result = ResultSuccess;
    if (destination->Seek(0, FromBegin) != 0 || destination->Write(image_, raw_data) != raw_data) {
        result = MessageResult(kHeadNotWritten);
    } else if (destination->Write(area, area_size) != area_size) {
        result = MessageResult(kDirectoryNotWritten);
    } else {
        destination->Seek(static_cast<int32_t>(raw_data + raw_size), FromBegin);
        destination->SetEndOfFile();
        if (symbols != nullptr && destination->Write(symbols, symbols_size) != symbols_size)
            result = MessageResult(kHeadNotWritten);
        if (destination->Seek(static_cast<int32_t>(headers_at), FromBegin) != headers_at ||
            destination->Write(new_headers, headers_size) != headers_size ||
            destination->Seek(static_cast<int32_t>(section_at), FromBegin) != section_at ||
            destination->Write(new_section, kSectionHeaderSize) != kSectionHeaderSize) {
            // A copy whose headers still describe the old section is no image.
            result = MessageResult(kHeadNotWritten);
        }
    }
    hvbHeapFree(nullptr, new_headers, 0);
    hvbHeapFree(nullptr, area, 0);
    if (result != ResultSuccess) return result;

    for (uint32_t t = 0; t < resource_tree_.GetCount(); ++t) {
        auto* type = At<ResourceNode>(resource_tree_, t);
        for (uint32_t n = 0; n < type->children.GetCount(); ++n) {
            auto* name = At<ResourceNode>(type->children, n);
            for (uint32_t l = 0; l < name->children.GetCount(); ++l) {
                auto* leaf = At<ResourceLeaf>(name->children, l);
                leaf->placed = true;
                leaf->written = 0;
                leaf->written_sum = 0;
            }
        }
    }
    writing_destination_ = destination;
    written_section_offset_ = raw_data;
    return ResultSuccess;
}

EXEImageFileObject::ResourceLeaf* EXEImageFileObject::FindPlacedLeaf(const ResourceKey& type,
                                                                     const ResourceKey& name,
                                                                     uint16_t language) const {
    ResourceLeaf* leaf = FindLeaf(type, name, language);
    return leaf != nullptr && leaf->placed ? leaf : nullptr;
}

EXEImageFileObject::ResourceLeaf* EXEImageFileObject::FindLeaf(const ResourceKey& type, const ResourceKey& name,
                                                               uint16_t language) const {
    Key keys[2];
    if (!keys[0].Make(type) || !keys[1].Make(name)) return nullptr;
    const EPtrArray* level = &resource_tree_;
    for (const Key& key : keys) {
        const ResourceNode* found = nullptr;
        for (uint32_t i = 0; i < level->GetCount() && found == nullptr; ++i) {
            const auto* node = At<ResourceNode>(*level, i);
            if (node->Matches(key)) found = node;
        }
        if (found == nullptr) return nullptr;
        level = &found->children;
    }
    for (uint32_t i = 0; i < level->GetCount(); ++i) {
        auto* leaf = At<ResourceLeaf>(*level, i);
        if (leaf->language == language) return leaf;
    }
    return nullptr;
}

bool EXEImageFileObject::SeekToLeafData(const ResourceLeaf* leaf) {
    const uint32_t target = written_section_offset_ + leaf->data_offset;
    return writing_destination_->Seek(static_cast<int32_t>(target), FromBegin) == target;
}

bool EXEImageFileObject::RecountLeaf(ResourceLeaf* leaf, uint64_t sum, uint32_t length) {
    // Bytes a longer earlier write left behind this one are cleared, so that
    // the leaf holds what was written last and the sum stays exact.
    if (length < leaf->written) {
        const uint8_t zeros[256] = {};
        for (uint32_t due = leaf->written - length; due > 0;) {
            const uint32_t n = due < sizeof zeros ? due : sizeof zeros;
            if (writing_destination_->Write(zeros, n) != n) return false;
            due -= n;
        }
    }
    leaf->written = length;
    if (checksum_at_ == 0) return true;
    checksum_sum_ += sum - leaf->written_sum;
    leaf->written_sum = sum;
    uint8_t field[4];
    Put32(field, Checksum(checksum_sum_, written_length_));
    return writing_destination_->Seek(static_cast<int32_t>(checksum_at_), FromBegin) == checksum_at_ &&
           writing_destination_->Write(field, 4) == 4;
}

ResultCode EXEImageFileObject::WriteResourceData(const char* type, const char* name, uint16_t language,
                                                 const void* data, uint32_t length) {
    Key keys[2];
    if (!keys[0].Make(type) || !keys[1].Make(name)) return MessageResult(writing_destination_ ? kLeafNotFound : kNotBegun);
    return WriteResourceData(keys[0].View(), keys[1].View(), language, data, length);
}

ResultCode EXEImageFileObject::WriteResourceData(const char* type, const char* name, uint16_t language,
                                                 HVBFileObject* source) {
    Key keys[2];
    if (!keys[0].Make(type) || !keys[1].Make(name)) return MessageResult(writing_destination_ ? kLeafNotFound : kNotBegun);
    return WriteResourceData(keys[0].View(), keys[1].View(), language, source);
}

ResultCode EXEImageFileObject::WriteResourceData(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                                 const void* data, uint32_t length) {
    if (writing_destination_ == nullptr) return MessageResult(kNotBegun);
    ResourceLeaf* leaf = FindPlacedLeaf(type, name, language);
    if (leaf == nullptr) return MessageResult(kLeafNotFound);
    if (length > leaf->placed_size) length = leaf->placed_size;
    if (!SeekToLeafData(leaf)) return MessageResult(kDataNotWritten);
    if (length != 0 && writing_destination_->Write(data, length) != length) return MessageResult(kDataNotWritten);
    const uint64_t sum =
        checksum_at_ != 0 ? SumWords(static_cast<const uint8_t*>(data), length, written_section_offset_ + leaf->data_offset)
                          : 0;
    if (!RecountLeaf(leaf, sum, length)) return MessageResult(kDataNotWritten);
    return ResultSuccess;
}

ResultCode EXEImageFileObject::WriteResourceData(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                                 HVBFileObject* source) {
    if (writing_destination_ == nullptr) return MessageResult(kNotBegun);
    ResourceLeaf* leaf = FindPlacedLeaf(type, name, language);
    if (leaf == nullptr) return MessageResult(kLeafNotFound);
    if (source == nullptr || !SeekToLeafData(leaf)) return MessageResult(kDataNotWritten);
    uint8_t buffer[4096];
    uint32_t due = leaf->placed_size;
    uint64_t sum = 0;
    while (due > 0) {
        const uint32_t got = source->Read(buffer, sizeof buffer);
        const uint32_t n = got < due ? got : due;
        if (n != 0 && writing_destination_->Write(buffer, n) != n) return MessageResult(kDataNotWritten);
        if (checksum_at_ != 0) sum += SumWords(buffer, n, written_section_offset_ + leaf->data_offset + leaf->placed_size - due);
        due -= n;
        if (got < sizeof buffer) break;
    }
    if (!RecountLeaf(leaf, sum, leaf->placed_size - due)) return MessageResult(kDataNotWritten);
    return ResultSuccess;
}
