#include "codec/bshf_buffer.h"

#include <cstring>
#include <new>

namespace {

// Used for an absent or empty password, by both directions alike.
constexpr char kDefaultPassword = '@';

inline bool TestBit(const uint8_t* block, uint32_t p) { return (block[p >> 3] & (0x80u >> (p & 7))) != 0; }
inline void SetBit(uint8_t* block, uint32_t p) { block[p >> 3] |= static_cast<uint8_t>(0x80u >> (p & 7)); }

}  // namespace

TLMBshfBuffer::~TLMBshfBuffer() { delete[] key_; }

bool TLMBshfBuffer::SetPassword(const char* password, uint32_t length) {
    if (password == nullptr || length == 0) {
        password = &kDefaultPassword;
        length = 1;
    }
    uint32_t key_length = length < kShuffleMinimumKey ? kShuffleMinimumKey : length;
    uint8_t* key = new (std::nothrow) uint8_t[key_length];
    if (key == nullptr) return false;
    std::memcpy(key, password, length);
    if (length < kShuffleMinimumKey) {
        key[length] = 0x1B;
        uint32_t seed = length + 1;
        for (uint32_t i = seed; i < kShuffleMinimumKey; ++i) key[i] = static_cast<uint8_t>(key[i - 1] + key[i % seed]);
    }
    delete[] key_;
    key_ = key;
    key_length_ = key_length;
    key_offset_ = 0;
    return true;
}

void TLMBshfBuffer::MakePermutation() {
    if (key_length_ == 0) SetPassword(nullptr, 0);
    if (key_length_ == 0) {
        for (uint32_t i = 0; i < 256; ++i) permutation_[i] = static_cast<uint8_t>(i);
        return;
    }
    uint32_t j = static_cast<uint32_t>(key_offset_);
    key_offset_ = (j + 1 >= key_length_) ? 0 : static_cast<int32_t>(j + 1);
    std::memset(occupancy_, 0, sizeof occupancy_);
    uint32_t s = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        s = (s + key_[j]) & 0xFF;
        if (++j == key_length_) j = 0;
        while (occupancy_[s >> 3] == 0xFF) s = (s + 8) & 0xFF;
        // Ends: the starting byte has a free bit, and stepping by two bytes
        // comes back to that byte's first bit.
        while (TestBit(occupancy_, s)) s = ((s & 7) != 7) ? s + 1 : (s + 9) & 0xFF;
        SetBit(occupancy_, s);
        permutation_[i] = static_cast<uint8_t>(s);
    }
}

void TLMBshfBuffer::ShuffleBlock() {
    MakePermutation();
    std::memset(output_block, 0, sizeof output_block);
    for (uint32_t i = 0; i < 256; ++i) {
        if (TestBit(input_block, permutation_[i])) SetBit(output_block, i);
    }
}

void TLMBshfBuffer::UnshuffleBlock() {
    MakePermutation();
    std::memset(output_block, 0, sizeof output_block);
    for (uint32_t i = 0; i < 256; ++i) {
        if (TestBit(input_block, i)) SetBit(output_block, permutation_[i]);
    }
}
