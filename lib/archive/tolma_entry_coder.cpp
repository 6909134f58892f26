#include "archive/tolma_entry_coder.h"

#include <cstring>

#include "archive/tolma_archive.h"
#include "archive/tolma_archive_layout.h"
#include "codec/encode_context.h"

TOLMAEntryCoder::~TOLMAEntryCoder() { DeleteCoders(); }

void TOLMAEntryCoder::DeleteCoders() {
    delete code_;
    delete cipher_;
    code_ = cipher_ = nullptr;
}

void TOLMAEntryCoder::Reset() {
    DeleteCoders();
    data_.Close();
    encoding_ = 0;
    plain_count_ = 0;
    std::memset(checksum_, 0, sizeof checksum_);
    checksum_index_ = 0;
    coded_ = finished_ = failed_ = begun_ = false;
}

ResultCode TOLMAEntryCoder::Begin(uint32_t encoding, const char* password) {
    Reset();
    encoding_ = encoding;
    if (data_.Create(TOLMAArchive::kEncodeBufferSize) != ResultSuccess) return ResultGeneralError;
    bool code = false;
    bool cipher = false;
    if (!GetEncodingStages(encoding, &code, &cipher)) return ResultGeneralError;
    coded_ = code || cipher;
    // The same chain the archive builds, into memory.
    if (PrepareEncoders(encoding, password, &data_, &code_, &cipher_) != ResultSuccess) {
        DeleteCoders();
        failed_ = true;
        return ResultGeneralError;
    }
    begun_ = true;
    return ResultSuccess;
}

uint32_t TOLMAEntryCoder::Write(const void* buffer, uint32_t count) {
    if (failed_ || finished_ || !begun_) return 0;
    uint32_t accepted;
    if (!coded_) {
        accepted = data_.Write(buffer, count);
    } else {
        accepted = code_ != nullptr ? code_->EncodeContextTreeBytes(buffer, count)
                                    : cipher_->EncryptShuffleBytes(buffer, count);
        FoldChecksum(checksum_, &checksum_index_, static_cast<const uint8_t*>(buffer), accepted);
        plain_count_ += accepted;
    }
    if (accepted < count) failed_ = true;
    return accepted;
}

ResultCode TOLMAEntryCoder::Finish() {
    if (finished_ || !begun_) return ResultGeneralError;
    bool ok = !failed_;
    if (coded_) {
        if (!FinishEncoders(code_, cipher_)) ok = false;
        DeleteCoders();
        if (data_.Write(checksum_, 4) < 4) ok = false;
    }
    finished_ = ok;
    if (!ok) failed_ = true;
    return ok ? ResultSuccess : ResultGeneralError;
}
