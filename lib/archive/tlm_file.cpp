#include "archive/tlm_file.h"

#include <cstring>

#include "core/hvb.h"

namespace {

const char kFileHeaderUnreadable[] = "TLM ファイルヘッダを読み込めませんでした。";
const char kBadVersion[] = "TLM ファイルバージョンが不正です。";
const char kNoImageInfo[] = "画像情報ヘッダが見つかりませんでした。";

}  // namespace

TLMFile::~TLMFile() { ReleaseSequence(); }

void TLMFile::ReleaseSequence() {
    if (sequence_ != nullptr) hvbHeapFree(nullptr, sequence_, 0);
    sequence_ = nullptr;
    sequence_count_ = 0;
}

uint32_t TLMFile::GetVersion() const {
    return static_cast<uint32_t>(file_header_[0]) | static_cast<uint32_t>(file_header_[1]) << 8 |
           static_cast<uint32_t>(file_header_[2]) << 16 | static_cast<uint32_t>(file_header_[3]) << 24;
}

const uint8_t* TLMFile::GetSequenceTable(uint32_t* count) const {
    if (count != nullptr) *count = sequence_count_;
    return sequence_;
}

uint32_t TLMFile::RecordBytesAvailable() {
    const uint32_t position = GetPosition();
    const uint32_t length = GetLength();
    uint32_t rest = length > position ? length - position : 0;
    const uint32_t file_position = file_->GetPosition();
    const uint32_t file_length = file_->GetLength();
    const uint32_t file_rest = file_length > file_position ? file_length - file_position : 0;
    return rest < file_rest ? rest : file_rest;
}

bool TLMFile::ReadBlock(uint8_t* block, uint32_t size) { return Read(block, size) == size; }

void TLMFile::ReadSequence() {
    // Entries the file does not hold are neither allocated nor counted.
    const uint32_t wanted = GetLength() & ~(kSequenceEntrySize - 1);
    uint32_t size = RecordBytesAvailable() & ~(kSequenceEntrySize - 1);
    if (size > wanted) size = wanted;
    if (size == 0) {
        if (wanted == 0) found_ |= FoundSequence;
        return;
    }
    auto* table = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, size, 0));
    if (table == nullptr) return;
    const uint32_t got = Read(table, size) & ~(kSequenceEntrySize - 1);
    if (got == 0) {
        hvbHeapFree(nullptr, table, 0);
        return;
    }
    sequence_ = table;
    sequence_count_ = got / kSequenceEntrySize;
    if (got == wanted) found_ |= FoundSequence;
}

void TLMFile::ReadText(EWideString* text) {
    text->Empty();
    const uint32_t size = RecordBytesAvailable();
    if (size == 0) return;
    auto* bytes = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, size, 0));
    if (bytes == nullptr) return;
    const uint32_t got = Read(bytes, size);
    if (got >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        for (uint32_t i = 2; i + 1 < got; i += 2) {
            const auto unit = static_cast<WideChar>(bytes[i] | bytes[i + 1] << 8);
            if (unit == 0) break;
            text->AppendChar(unit);
        }
    } else {
        // 8-bit text ends at its first zero byte, like the UTF-16 form.
        uint32_t length = 0;
        while (length < got && bytes[length] != 0) ++length;
        *text = EWideString(reinterpret_cast<const char*>(bytes), static_cast<int32_t>(length));
    }
    hvbHeapFree(nullptr, bytes, 0);
}

ResultCode TLMFile::ReadHeaderRecords() {
    if (DescendRecord("Header  ") != ResultSuccess) return ResultGeneralError;
    if (DescendRecord("FileHdr ") != ResultSuccess) return ResultGeneralError;
    if (!ReadBlock(file_header_, kFileHeaderSize)) return MessageResult(kFileHeaderUnreadable);
    AscendRecord();
    found_ |= FoundFileHeader;
    if (GetVersion() > kMaxVersion) return MessageResult(kBadVersion);

    while (DescendRecord(nullptr) == ResultSuccess) {
        const uint8_t* id = current_->identifier;
        if (std::memcmp(id, "PrevwInf", 8) == 0) {
            if (ReadBlock(preview_info_, kInfoSize)) found_ |= FoundPreviewInfo;
        } else if (std::memcmp(id, "ImageInf", 8) == 0) {
            if (ReadBlock(image_info_, kInfoSize)) found_ |= FoundImageInfo;
        } else if (std::memcmp(id, "SoundInf", 8) == 0) {
            if (ReadBlock(sound_info_, kSoundInfoSize)) found_ |= FoundSoundInfo;
        } else if (std::memcmp(id, "Sequence", 8) == 0) {
            ReleaseSequence();
            ReadSequence();
        } else if (std::memcmp(id, "cpyright", 8) == 0) {
            found_ |= FoundCopyright;
            ReadText(&copyright_);
        } else if (std::memcmp(id, "descript", 8) == 0) {
            found_ |= FoundDescription;
            ReadText(&description_);
        }
        AscendRecord();
    }
    AscendRecord();
    if ((found_ & (FoundImageInfo | FoundSoundInfo)) == 0) return MessageResult(kNoImageInfo);
    return ResultSuccess;
}

ResultCode TLMFile::Open(HVBFileObject* file, uint32_t depth) {
    found_ = 0;
    ReleaseSequence();
    copyright_.Empty();
    description_.Empty();
    ResultCode result = QDXFile::Open(file, nullptr);
    if (result != ResultSuccess || depth == 0) return result;

    result = ReadHeaderRecords();
    if (result != ResultSuccess || depth == 1) return result;

    result = DescendRecord("Stream  ");
    if (result != ResultSuccess || depth == 2) return result;

    while ((result = DescendRecord(nullptr)) == ResultSuccess) {
        const uint8_t* id = current_->identifier;
        if (std::memcmp(id, "ImageFrm", 8) == 0) return ResultSuccess;
        if (std::memcmp(id, "Palette ", 8) == 0) {
            std::memset(palette_, 0, sizeof palette_);
            Read(palette_, kPaletteSize);
            found_ |= FoundPalette;
        }
        AscendRecord();
    }
    return result;
}
