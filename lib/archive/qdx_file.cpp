#include "archive/qdx_file.h"

#include <cstring>

#include "platform/platform.h"

namespace {

uint8_t g_signature[8] = {'O', 'r', 'v', 'e', 'l', 0x1A, 0x00, 0x00};

constexpr uint32_t kDescriptionLimit = 41;

const char* DescriptionFor(uint32_t file_id) {
    switch (file_id) {
        case QDX_FILE_TOLMA_ARCHIVE: return "TOLMA-Archive file";
        case QDX_FILE_RASTER_IMAGE: return "Orvel Rasterized Image format";
        case QDX_FILE_SURFACE_ATTRIBUTE: return "KWR-3D surface attribute file";
        case QDX_FILE_MODEL_OBJECT: return "KWR-3D model object file";
        default: return "undefined QDX file";
    }
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void PutRecordHeader(uint8_t* out, const uint8_t* identifier, uint64_t length) {
    std::memcpy(out, identifier, 8);
    for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<uint8_t>(length >> (8 * i));
}

}  // namespace

QDXFile::~QDXFile() { Close(); }

void QDXFile::MakeFileHeader(QDXFileHeader* header, uint32_t file_id, const char* description) {
    std::memcpy(header->signature, g_signature, 8);
    header->file_id = file_id;
    header->reserved = 0;
    if (description == nullptr) description = DescriptionFor(file_id);
    std::memset(header->description, 0, sizeof header->description);
    for (uint32_t i = 0; i < kDescriptionLimit && description[i] != '\0'; ++i) header->description[i] = description[i];
}

void QDXFile::GetFileSignature(uint8_t signature[8]) { std::memcpy(signature, g_signature, 8); }
void QDXFile::SetFileSignature(const uint8_t signature[8]) { std::memcpy(g_signature, signature, 8); }

void QDXFile::Push(uint32_t written, uint32_t data_start, const uint8_t* identifier, uint64_t length) {
    auto* state = new RecordState{current_, written, data_start, {}, length};
    if (identifier != nullptr) std::memcpy(state->identifier, identifier, 8);
    current_ = state;
}

void QDXFile::Pop() {
    RecordState* state = current_;
    current_ = state->parent;
    delete state;
}

int64_t QDXFile::RecordPosition() {
    return static_cast<int64_t>(file_->GetPosition()) - current_->data_start;
}

ResultCode QDXFile::Open(HVBFileObject* file, const QDXFileHeader* header) {
    Close();
    file_ = file;
    if (file == nullptr) {
        open_flags_ = 0;
        return ResultGeneralError;
    }
    open_flags_ = file->GetOpenFlags();

    if ((open_flags_ & modeCreate) != 0 && header != nullptr) {
        if (file->Write(header, sizeof *header) < sizeof *header) {
            plat::DebugTrace("ファイルヘッダの書き出しに失敗しました。\n");
            return ResultGeneralError;
        }
        Push(1, file->GetPosition(), nullptr, 0);
        return ResultSuccess;
    }

    open_flags_ &= ~modeCreate;
    if (file->Read(&header_, sizeof header_) < sizeof header_) {
        plat::DebugTrace("ファイルヘッダの読み込みに失敗しました。\n");
        return ResultGeneralError;
    }
    if (header_.reserved != 0 || std::memcmp(header_.signature, g_signature, 8) != 0) {
        plat::DebugTrace("不正なファイルヘッダです。\n");
        return ResultGeneralError;
    }
    const uint32_t start = file->GetPosition();
    const uint32_t length = file->GetLength();
    Push(0, start, nullptr, length >= start ? length - start : 0);
    return ResultSuccess;
}

void QDXFile::Close() {
    if (file_ == nullptr) return;
    while (current_ != nullptr) {
        if (AscendRecord() != ResultSuccess) break;
    }
    while (current_ != nullptr) Pop();
    if (owns_file_) delete file_;
    owns_file_ = false;
    file_ = nullptr;
}

ResultCode QDXFile::DescendRecord(const char* identifier) {
    if (current_ == nullptr) return ResultGeneralError;
    uint8_t record[kRecordHeaderSize];

    if (IsWriting()) {
        if (identifier == nullptr) return ResultGeneralError;
        PutRecordHeader(record, reinterpret_cast<const uint8_t*>(identifier), 0);
        if (file_->Write(record, sizeof record) < sizeof record) return ResultGeneralError;
        Push(1, file_->GetPosition(), record, 0);
        return ResultSuccess;
    }

    // Record headers are read through this object, so the search never runs
    // past the end of the current record.
    if (Read(record, sizeof record) < sizeof record) return ResultGeneralError;
    for (;;) {
        const uint64_t length = Le64(record + 8);
        const bool to_end = length == kLengthToEnd;
        if (!to_end && (length >> 32) != 0) return ResultGeneralError;
        if (identifier == nullptr || std::memcmp(identifier, record, 8) == 0) break;
        if (to_end) {
            // Such a record reaches the end of the file: nothing follows it.
            file_->Seek(0, FromEnd);
            return ResultGeneralError;
        }
        // Skipped forwards as an unsigned distance, never beyond the current
        // record.
        int64_t target = RecordPosition() + static_cast<int64_t>(length);
        if (target < 0 || static_cast<uint64_t>(target) > current_->length) target = current_->length;
        file_->Seek(static_cast<int32_t>(current_->data_start + static_cast<uint32_t>(target)), FromBegin);
        if (Read(record, sizeof record) < sizeof record) return ResultGeneralError;
    }

    // A record never claims more than the record holding it, nor more than
    // the file holds: whoever reads it may size buffers by its length.
    const uint32_t start = file_->GetPosition();
    const uint32_t file_end = file_->GetLength();
    uint64_t end = static_cast<uint64_t>(current_->data_start) + current_->length;
    if (end > file_end) end = file_end;
    const uint64_t room = end > start ? end - start : 0;
    uint64_t length = Le64(record + 8);
    if (length == kLengthToEnd || length > room) length = room;
    Push(0, start, record, length);
    return ResultSuccess;
}

ResultCode QDXFile::AscendRecord() {
    if (current_ == nullptr) return ResultSuccess;
    ResultCode result = ResultSuccess;
    if (current_->written) {
        const int64_t position = RecordPosition();
        if (position > 0 && static_cast<uint64_t>(position) > current_->length) current_->length = position;
        uint8_t record[kRecordHeaderSize];
        PutRecordHeader(record, current_->identifier, current_->length);
        file_->Seek(static_cast<int32_t>(current_->data_start - kRecordHeaderSize), FromBegin);
        if (file_->Write(record, sizeof record) < sizeof record) result = ResultGeneralError;
    }
    Seek(static_cast<int32_t>(GetLength()), FromBegin);
    Pop();
    return result;
}

uint32_t QDXFile::Read(void* buffer, uint32_t count) {
    if (current_ == nullptr) return 0;
    const int64_t position = RecordPosition();
    if ((current_->length >> 32) == 0 && position + count > static_cast<int64_t>(current_->length)) {
        const int64_t rest = static_cast<int64_t>(current_->length) - position;
        count = rest < 0 ? 0 : static_cast<uint32_t>(rest);
    }
    return file_->Read(buffer, count);
}

uint32_t QDXFile::Write(const void* buffer, uint32_t count) {
    if (current_ == nullptr) return 0;
    if (!IsWriting()) {
        const int64_t position = RecordPosition();
        if ((current_->length >> 32) == 0 && position + count > static_cast<int64_t>(current_->length)) {
            const int64_t rest = static_cast<int64_t>(current_->length) - position;
            count = rest < 0 ? 0 : static_cast<uint32_t>(rest);
        }
    }
    return file_->Write(buffer, count);
}

uint32_t QDXFile::GetLength() {
    return current_ != nullptr ? static_cast<uint32_t>(current_->length) : 0;
}

uint32_t QDXFile::Seek(int32_t distance, uint32_t origin) {
    if (current_ == nullptr) return 0;
    const int64_t position = RecordPosition();
    if (current_->written && position > 0 && static_cast<uint64_t>(position) > current_->length)
        current_->length = position;
    int64_t target = distance;
    if (origin == FromCurrent) target += position;
    else if (origin == FromEnd) target += static_cast<uint32_t>(current_->length);
    // A record's positions start at its data; its header and whatever lies
    // before it are out of reach.
    if (target < 0) target = 0;
    if (current_->written) {
        if (static_cast<uint64_t>(target) > current_->length) current_->length = target;
    } else if ((current_->length >> 32) == 0 && static_cast<uint64_t>(target) > current_->length) {
        target = static_cast<int64_t>(current_->length);
    }
    const uint32_t absolute = current_->data_start + static_cast<uint32_t>(target);
    return file_->Seek(static_cast<int32_t>(absolute), FromBegin) - current_->data_start;
}

uint32_t QDXFile::GetPosition() {
    if (current_ == nullptr) return 0;
    return file_->GetPosition() - current_->data_start;
}

ResultCode QDXFile::SetEndOfFile() {
    if (current_ == nullptr) return ResultGeneralError;
    current_->length = GetPosition();
    return file_->SetEndOfFile();
}

HVBFileObject* QDXFile::Duplicate() {
    auto* copy = new QDXFile;
    copy->open_flags_ = open_flags_;
    if (file_ == nullptr) return copy;
    HVBFileObject* file = file_->Duplicate();
    if (file == nullptr) {
        delete copy;
        return nullptr;
    }
    file->Seek(static_cast<int32_t>(file_->GetPosition()), FromBegin);
    copy->file_ = file;
    copy->owns_file_ = true;
    copy->header_ = header_;
    // Rebuilt bottom up so that the copy's stack has the same order.
    uint32_t depth = 0;
    for (RecordState* s = current_; s != nullptr; s = s->parent) ++depth;
    for (uint32_t level = depth; level > 0; --level) {
        RecordState* s = current_;
        for (uint32_t i = 1; i < level; ++i) s = s->parent;
        copy->Push(s->written, s->data_start, s->identifier, s->length);
    }
    return copy;
}
