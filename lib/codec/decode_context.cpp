#include "codec/decode_context.h"

#include <cstring>
#include <new>

#include "codec/bshf_buffer.h"
#include "codec/huffman_tree.h"
#include "codec/symbol_model.h"
#include "platform/platform.h"

namespace {

const char kNoSourceWarning[] = "警告：ReadNextData 関数がオーバーライドされていません。\n";

// A capacity below one word could never hold a word load.
uint32_t RoundCapacity(uint32_t size) { return size < 4 ? 4 : ((size + 3) & ~3u); }

}  // namespace

TOLMADecodeContext::TOLMADecodeContext(uint32_t buffer_size) : capacity_(RoundCapacity(buffer_size)) {
    buffer_ = new (std::nothrow) uint8_t[capacity_];
    if (buffer_ == nullptr) capacity_ = 0;
    cursor_ = buffer_;
}

TOLMADecodeContext::~TOLMADecodeContext() {
    delete[] buffer_;
    delete huffman_trees_;
    delete order1_models_;
    delete cipher_;
}

void TOLMADecodeContext::AttachSourceFile(HVBFileObject* file) {
    source_file_ = file;
    source_context_ = nullptr;
}

void TOLMADecodeContext::AttachSourceContext(TOLMADecodeContext* context) {
    source_context_ = context;
    source_file_ = nullptr;
}

uint32_t TOLMADecodeContext::ReadNextData(void* destination, uint32_t count) {
    if (source_file_ != nullptr) return source_file_->Read(destination, count);
    if (source_context_ != nullptr) return source_context_->Decode(destination, count);
    plat::DebugTrace(kNoSourceWarning);
    return 0;
}

uint32_t TOLMADecodeContext::Decode(void* destination, uint32_t count) {
    if (decode_ == nullptr || count == 0) return 0;
    return (this->*decode_)(destination, count);
}

bool TOLMADecodeContext::Refill(bool pad) {
    cursor_ = buffer_;
    available_ = 0;
    if (capacity_ == 0) return false;
    uint32_t n = ReadNextData(buffer_, capacity_);
    if (n == 0) return false;
    // An override may claim more than it was offered.
    if (n > capacity_) n = capacity_;
    if (pad) {
        uint32_t padded = (n + 3) & ~3u;
        std::memset(buffer_ + n, 0, padded - n);
        n = padded;
    }
    available_ = static_cast<int32_t>(n);
    return true;
}

uint64_t TOLMADecodeContext::NextWordSlow() {
    if (available_ <= 0 && !Refill(true)) return kNoWord;
    if (available_ >= 4) return NextWord();
    // Only a cipher read that left a partial word behind gets here.
    uint32_t value = 0;
    for (int32_t i = 0; i < 4; ++i) value = (value << 8) | (i < available_ ? cursor_[i] : 0);
    cursor_ += available_;
    available_ = 0;
    return value;
}

void TOLMADecodeContext::ResetBitInput() {
    bit_count_ = 0;
    available_ = 0;
}

int32_t TOLMADecodeContext::FillBitBuffer() {
    if (bit_count_ > 0) return 0;
    if (!LoadWord(&bit_register_)) return 1;
    bit_count_ = 32;
    return 0;
}

int32_t TOLMADecodeContext::ReadBit() {
    if (bit_count_ == 0) {
        if (!LoadWord(&bit_register_)) return 1;
        bit_count_ = 32;
    }
    int32_t bit = (bit_register_ & 0x80000000u) ? -1 : 0;
    bit_register_ <<= 1;
    --bit_count_;
    return bit;
}

uint32_t TOLMADecodeContext::ReadBits(uint32_t n) {
    if (n == 0) return 0;
    if (n > 32) n = 32;
    int32_t saved_count = bit_count_;
    uint32_t saved_register = bit_register_;
    uint32_t result = 0;
    while (n > 0) {
        if (bit_count_ == 0) {
            if (!LoadWord(&bit_register_)) {
                bit_count_ = saved_count;
                bit_register_ = saved_register;
                return 0;
            }
            bit_count_ = 32;
        }
        uint32_t take = n < static_cast<uint32_t>(bit_count_) ? n : static_cast<uint32_t>(bit_count_);
        result = (take == 32) ? bit_register_ : (result << take) | (bit_register_ >> (32 - take));
        bit_register_ = (take == 32) ? 0 : bit_register_ << take;
        bit_count_ -= static_cast<int32_t>(take);
        n -= take;
    }
    return result;
}

int32_t TOLMADecodeContext::ReadGammaCode() {
    int32_t bit = ReadBit();
    if (bit > 0) return -1;
    if (bit == 0) return 1;
    uint32_t value = 1;
    for (;;) {
        int32_t b = ReadBit();
        if (b > 0) return -1;
        // A 32nd significant bit would not fit the result.
        if (value >= 0x40000000u) return -1;
        value = (value << 1) | (b ? 1u : 0u);
        int32_t more = ReadBit();
        if (more > 0) return -1;
        if (more == 0) return static_cast<int32_t>(value);
    }
}

void TOLMADecodeContext::RestartArithmeticDecoding() {
    code_ = ReadBits(32);
    range_ = 0xFFFF;
    padding_bits_ = 0;
}

// ---- block-shuffle decipherer ----------------------------------------------

ResultCode TOLMADecodeContext::PrepareShuffleDecryption(const char* password) {
    return PrepareShuffleDecryption(password, password == nullptr ? 0 : static_cast<uint32_t>(std::strlen(password)));
}

ResultCode TOLMADecodeContext::PrepareShuffleDecryption(const char* password, uint32_t length) {
    decode_ = nullptr;
    if (cipher_ == nullptr) cipher_ = new (std::nothrow) TLMBshfBuffer;
    if (cipher_ == nullptr || !cipher_->SetPassword(password, length)) return ResultGeneralError;
    cipher_position_ = kShuffleBlockSize;
    decode_ = &TOLMADecodeContext::DecryptShuffleBytes;
    return ResultSuccess;
}

uint32_t TOLMADecodeContext::DecryptShuffleBytes(void* destination, uint32_t count) {
    if (cipher_ == nullptr) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t produced = 0;
    while (produced < count) {
        if (cipher_position_ >= kShuffleBlockSize) {
            if (available_ >= static_cast<int32_t>(kShuffleBlockSize)) {
                std::memcpy(cipher_->input_block, cursor_, kShuffleBlockSize);
                cursor_ += kShuffleBlockSize;
                available_ -= static_cast<int32_t>(kShuffleBlockSize);
            } else {
                // A block across a refill.
                for (uint32_t i = 0; i < kShuffleBlockSize; ++i) {
                    if (available_ <= 0 && !Refill(false)) return produced;
                    cipher_->input_block[i] = *cursor_++;
                    --available_;
                }
            }
            cipher_->UnshuffleBlock();
            cipher_position_ = 0;
        }
        uint32_t n = kShuffleBlockSize - cipher_position_;
        if (n > count - produced) n = count - produced;
        std::memcpy(out + produced, cipher_->output_block + cipher_position_, n);
        cipher_position_ += n;
        produced += n;
    }
    return produced;
}
