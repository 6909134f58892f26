#include "file/icon_file.h"

#include <cstring>
#include <new>

#include "file/little_endian.h"
#include "text/stream_buffer.h"

namespace {

const char kHeaderUnreadable[] = "ファイルヘッダを読み込めませんでした。";
const char kNotIconFile[] = "アイコンファイルではありません。";
const char kEntriesUnreadable[] = "アイコンエントリテーブルを読み込めませんでした。";
const char kImageUnreadable[] = "画像データの読み込みに失敗しました。";
const char kNoIconData[] = "アイコンデータがありません。";
const char kHeaderUnwritable[] = "ファイルヘッダの書き出しに失敗しました。";
const char kEntryUnwritable[] = "アイコンエントリの書き出しに失敗しました。";
const char kImageUnwritable[] = "画像データの書き出しに失敗しました。";

}  // namespace

// The bytes of one image, held contiguously.
struct EWin32IconFile::Image {
    EStreamBuffer buffer;
    const uint8_t* data = nullptr;
    uint32_t length = 0;

    // Room for length bytes, to be filled and then sealed; null when the heap
    // has nothing to give.
    void* Reserve(uint32_t n) { return n == 0 ? nullptr : buffer.GetWriteBuffer(n); }
    void Seal(uint32_t n) {
        buffer.CommitWrite(n);
        uint32_t got = 0;
        data = static_cast<const uint8_t*>(buffer.Peek(0, &got));
        length = data != nullptr ? got : 0;
    }
};

EWin32IconFile::~EWin32IconFile() { Clear(); }

void EWin32IconFile::Clear() {
    for (uint32_t i = 0; i < entries_.GetCount(); ++i) delete static_cast<IconDirectoryEntry*>(entries_.GetAt(i));
    for (uint32_t i = 0; i < images_.GetCount(); ++i) delete static_cast<Image*>(images_.GetAt(i));
    entries_.RemoveAll();
    images_.RemoveAll();
}

const IconDirectoryEntry* EWin32IconFile::GetEntry(uint32_t index) const {
    return static_cast<const IconDirectoryEntry*>(entries_.GetAt(index));
}

const uint8_t* EWin32IconFile::GetImageData(uint32_t index) const {
    const auto* image = static_cast<const Image*>(images_.GetAt(index));
    return image != nullptr ? image->data : nullptr;
}

uint32_t EWin32IconFile::GetImageSize(uint32_t index) const {
    const auto* image = static_cast<const Image*>(images_.GetAt(index));
    return image != nullptr ? image->length : 0;
}

ResultCode EWin32IconFile::ReadIconFile(HVBFileObject* source) {
    Clear();
    if (source == nullptr || source->Read(&header_, sizeof header_) != sizeof header_) {
        return MessageResult(kHeaderUnreadable);
    }
    if (header_.reserved != 0) return MessageResult(kNotIconFile);

    // Offsets count from where the file starts. Nothing is allocated for more
    // than the source holds, whatever the header and entries claim.
    const uint32_t start = source->GetPosition() - sizeof header_;
    const uint32_t length = source->GetLength();
    const uint32_t table_size = header_.count * 16u;
    const uint64_t table_end = static_cast<uint64_t>(start) + sizeof header_ + table_size;
    if (table_end > length) return MessageResult(kEntriesUnreadable);
    auto* table = new (std::nothrow) IconDirectoryEntry[header_.count];
    if (table == nullptr && header_.count != 0) return MessageResult(kEntriesUnreadable);
    if (source->Read(table, table_size) != table_size) {
        delete[] table;
        return MessageResult(kEntriesUnreadable);
    }

    ResultCode result = ResultSuccess;
    for (uint32_t i = 0; i < header_.count && result == ResultSuccess; ++i) {
        const IconDirectoryEntry& entry = table[i];
        const uint64_t at = static_cast<uint64_t>(start) + entry.image_offset;
        result = MessageResult(kImageUnreadable);
        if (at + entry.bytes_in_resource > length || at > 0x7FFFFFFF) break;
        if (source->Seek(static_cast<int32_t>(at), FromBegin) != at) break;
        auto* image = new (std::nothrow) Image;
        auto* copy = new (std::nothrow) IconDirectoryEntry(entry);
        void* room = image != nullptr ? image->Reserve(entry.bytes_in_resource) : nullptr;
        const bool filled = entry.bytes_in_resource == 0 ||
                            (room != nullptr && source->Read(room, entry.bytes_in_resource) == entry.bytes_in_resource);
        if (image == nullptr || copy == nullptr || !filled) {
            delete image;
            delete copy;
            break;
        }
        image->Seal(entry.bytes_in_resource);
        if (!images_.Add(image)) {
            delete image;
            delete copy;
            break;
        }
        if (!entries_.Add(copy)) {
            delete copy;
            break;
        }
        result = ResultSuccess;
    }
    delete[] table;
    return result;
}

ResultCode EWin32IconFile::AddImage(const void* bytes, uint32_t length, const IconDirectoryEntry* entry) {
    if (bytes == nullptr && length != 0) return ResultInvalidParameter;
    auto* image = new (std::nothrow) Image;
    if (image == nullptr) return ResultGeneralError;
    void* room = image->Reserve(length);
    if (room == nullptr && length != 0) {
        delete image;
        return ResultGeneralError;
    }
    if (length != 0) std::memcpy(room, bytes, length);
    image->Seal(length);

    IconDirectoryEntry built{};
    if (entry == nullptr) {
        // Fields of the BITMAPINFOHEADER; those the bytes do not reach read as 0.
        uint8_t info[16] = {};
        if (length != 0) std::memcpy(info, bytes, length < sizeof info ? length : sizeof info);
        built.width = static_cast<uint8_t>(Le32(info + 4));
        built.height = static_cast<uint8_t>(Le32(info + 8));
        const uint32_t bit_count = static_cast<uint32_t>(info[14] | info[15] << 8);
        built.color_count = static_cast<uint8_t>(1u << (bit_count % 32));
        built.bytes_in_resource = length;
        entry = &built;
    }
    auto* copy = new (std::nothrow) IconDirectoryEntry(*entry);
    if (copy == nullptr || !images_.Add(image)) {
        delete copy;
        delete image;
        return ResultGeneralError;
    }
    if (!entries_.Add(copy)) {
        // The lists must stay in step: an image without its entry is dropped.
        images_.RemoveAt(images_.GetCount() - 1);
        delete copy;
        delete image;
        return ResultGeneralError;
    }
    return ResultSuccess;
}

ResultCode EWin32IconFile::WriteIconFile(HVBFileObject* destination, uint16_t type) {
    const uint32_t count = images_.GetCount();
    if (count == 0) return MessageResult(kNoIconData);
    // The header counts images in 16 bits; more could not be found again.
    if (count > 0xFFFF || destination == nullptr) return ResultInvalidParameter;
    const IconFileHeader header{0, type, static_cast<uint16_t>(count)};
    if (destination->Write(&header, sizeof header) != sizeof header) return MessageResult(kHeaderUnwritable);

    uint32_t offset = sizeof header + 16 * count;
    for (uint32_t i = 0; i < count; ++i) {
        const auto* image = static_cast<const Image*>(images_.GetAt(i));
        const IconDirectoryEntry* entry = GetEntry(i);
        if (image == nullptr || entry == nullptr) continue;
        IconDirectoryEntry written = *entry;
        written.bytes_in_resource = image->length;
        written.image_offset = offset;
        if (destination->Write(&written, sizeof written) != sizeof written) return MessageResult(kEntryUnwritable);
        offset += image->length;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const auto* image = static_cast<const Image*>(images_.GetAt(i));
        if (image == nullptr || image->length == 0) continue;
        if (destination->Write(image->data, image->length) != image->length) return MessageResult(kImageUnwritable);
    }
    return ResultSuccess;
}
