#include "codec/encode_context.h"

#include <cstring>
#include <new>

#include "codec/bshf_buffer.h"
#include "codec/copy_search.h"
#include "codec/huffman_tree.h"
#include "codec/symbol_model.h"
#include "platform/platform.h"

namespace {

const char kNoDestinationWarning[] = "警告：WriteNextData 関数がオーバーライドされていません。\n";

uint32_t RoundCapacity(uint32_t size) { return size < 4 ? 4 : ((size + 3) & ~3u); }

}  // namespace

TOLMAEncodeContext::TOLMAEncodeContext(uint32_t buffer_size) : capacity_(RoundCapacity(buffer_size)) {
    buffer_ = new (std::nothrow) uint8_t[capacity_];
    if (buffer_ == nullptr) capacity_ = 0;
}

TOLMAEncodeContext::~TOLMAEncodeContext() {
    delete[] buffer_;
    delete huffman_trees_;
    delete order1_models_;
    delete cipher_;
    delete copy_search_;
}

void TOLMAEncodeContext::AttachDestinationFile(HVBFileObject* file) {
    destination_file_ = file;
    destination_context_ = nullptr;
}

void TOLMAEncodeContext::AttachDestinationContext(TOLMAEncodeContext* context) {
    destination_context_ = context;
    destination_file_ = nullptr;
}

uint32_t TOLMAEncodeContext::WriteNextData(const void* data, uint32_t count) {
    if (destination_file_ != nullptr) return destination_file_->Write(data, count);
    if (destination_context_ != nullptr) return destination_context_->Encode(data, count);
    plat::DebugTrace(kNoDestinationWarning);
    return 0;
}

uint32_t TOLMAEncodeContext::Encode(const void* source, uint32_t count) {
    if (encode_ == nullptr || count == 0) return 0;
    return (this->*encode_)(source, count);
}

int32_t TOLMAEncodeContext::Finish() {
    if (finish_ == nullptr) return 1;
    return (this->*finish_)();
}

int32_t TOLMAEncodeContext::FlushBuffer() {
    if (write_position_ > 0) {
        uint32_t written = WriteNextData(buffer_, write_position_);
        if (written < write_position_) write_failed_ = true;
        write_position_ = 0;
    }
    return write_failed_ ? 1 : 0;
}

void TOLMAEncodeContext::StoreWord(uint32_t word) {
    if (buffer_ == nullptr) {
        write_failed_ = true;
        return;
    }
    uint8_t* p = buffer_ + write_position_;
    p[0] = static_cast<uint8_t>(word >> 24);
    p[1] = static_cast<uint8_t>(word >> 16);
    p[2] = static_cast<uint8_t>(word >> 8);
    p[3] = static_cast<uint8_t>(word);
    write_position_ += 4;
    if (write_position_ >= capacity_) FlushBuffer();
}

void TOLMAEncodeContext::BufferFilled(ArithmeticState& state) {
    if (buffer_ == nullptr) {
        write_failed_ = true;
        state.out = scratch_word_;
        return;
    }
    write_position_ = static_cast<uint32_t>(state.out - buffer_);
    FlushBuffer();
    state.out = buffer_ + write_position_;
}

int32_t TOLMAEncodeContext::WriteBits(uint32_t value, uint32_t n) {
    if (n > 32) n = 32;
    while (n > 0) {
        uint32_t room = 32 - static_cast<uint32_t>(bit_count_);
        if (n < room) {
            accumulator_ = (accumulator_ << n) | (value >> (32 - n));
            bit_count_ += static_cast<int32_t>(n);
            break;
        }
        uint32_t word = room == 32 ? value : (accumulator_ << room) | (value >> (32 - room));
        StoreWord(word);
        accumulator_ = 0;
        bit_count_ = 0;
        value = room == 32 ? 0 : value << room;
        n -= room;
    }
    return write_failed_ ? 1 : 0;
}

int32_t TOLMAEncodeContext::FlushBits() {
    // A word is stored even with nothing pending: the decoder loads a word
    // before every symbol, so a stream ending on a word boundary would
    // otherwise lose its last symbols.
    StoreWord(bit_count_ == 0 ? 0 : accumulator_ << (32 - bit_count_));
    accumulator_ = 0;
    bit_count_ = 0;
    return FlushBuffer();
}

void TOLMAEncodeContext::WriteRepeatedBits(uint32_t bit, int32_t count) {
    while (count > 0) {
        uint32_t n = count < 16 ? static_cast<uint32_t>(count) : 16;
        WriteBits(bit ? 0xFFFF0000u : 0, n);
        count -= static_cast<int32_t>(n);
    }
}

// ---- arithmetic coding -------------------------------------------------------

void TOLMAEncodeContext::StartArithmeticEncoding() {
    low_ = 0;
    range_ = 0xFFFF;
    high_ = 0;
    pending_ = -1;
}

int32_t TOLMAEncodeContext::FinishArithmeticEncoding() {
    if (pending_ >= 0) {
        WriteBits(0, 1);
        WriteRepeatedBits(1, pending_);
    }
    WriteBits(high_ << 16, 16);
    WriteBits(low_ << 16, 16);
    StartArithmeticEncoding();
    return FlushBits();
}

// ---- block-shuffle encipherer ------------------------------------------------

ResultCode TOLMAEncodeContext::PrepareShuffleEncryption(const char* password) {
    return PrepareShuffleEncryption(password, password == nullptr ? 0 : static_cast<uint32_t>(std::strlen(password)));
}

ResultCode TOLMAEncodeContext::PrepareShuffleEncryption(const char* password, uint32_t length) {
    encode_ = nullptr;
    finish_ = nullptr;
    if (cipher_ == nullptr) cipher_ = new (std::nothrow) TLMBshfBuffer;
    if (cipher_ == nullptr || !cipher_->SetPassword(password, length)) return ResultGeneralError;
    cipher_fill_ = 0;
    encode_ = &TOLMAEncodeContext::EncryptShuffleBytes;
    finish_ = &TOLMAEncodeContext::FinishShuffleEncryption;
    return ResultSuccess;
}

uint32_t TOLMAEncodeContext::EncryptShuffleBytes(const void* source, uint32_t count) {
    if (cipher_ == nullptr || buffer_ == nullptr || write_failed_) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(source);
    for (uint32_t i = 0; i < count; ++i) {
        cipher_->input_block[cipher_fill_++] = in[i];
        if (cipher_fill_ < kShuffleBlockSize) continue;
        cipher_fill_ = 0;
        cipher_->ShuffleBlock();
        for (uint8_t byte : cipher_->output_block) {
            buffer_[write_position_++] = byte;
            if (write_position_ >= capacity_) FlushBuffer();
        }
        if (write_failed_) return i;
    }
    return count;
}

int32_t TOLMAEncodeContext::FinishShuffleEncryption() {
    if (cipher_ == nullptr || buffer_ == nullptr) return 1;
    if (cipher_fill_ > 0) {
        std::memset(cipher_->input_block + cipher_fill_, 0, kShuffleBlockSize - cipher_fill_);
        cipher_fill_ = 0;
        cipher_->ShuffleBlock();
        for (uint8_t byte : cipher_->output_block) {
            buffer_[write_position_++] = byte;
            if (write_position_ >= capacity_) FlushBuffer();
        }
    }
    return FlushBuffer();
}
