#include "codec/bshf_buffer.h"

#include <cstring>
#include <new>

namespace {

// Used for an absent or empty password, by both directions alike.
constexpr char kDefaultPassword = '@';

inline bool TestBit(const uint8_t* block, uint32_t p) { return (block[p >> 3] & (0x80u >> (p & 7))) != 0; }
inline void SetBit(uint8_t* block, uint32_t p) { block[p >> 3] |= static_cast<uint8_t>(0x80u >> (p & 7)); }

}  // namespace

TLMBshfBuffer::~TLMBshfBuffer() {
    delete[] key_;
    delete[] permutations_;
}

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
    key_offset_ = 0;
    // The same key again (every entry of an archive under one password):
    // the permutations already made stay good.
    if (key_ != nullptr && key_length == key_length_ && std::memcmp(key, key_, key_length) == 0) {
        delete[] key;
        return true;
    }
    delete[] key_;
    key_ = key;
    key_length_ = key_length;

    delete[] permutations_;
    permutations_ = nullptr;
    made_ = nullptr;
    if (key_length <= kMaximumTabledKey) {
        // Without the table every block makes its own permutation: slower,
        // the same bytes.
        permutations_ = new (std::nothrow) uint8_t[key_length * 257];
        if (permutations_ != nullptr) {
            made_ = permutations_ + key_length * 256;
            std::memset(made_, 0, key_length);
        }
    }
    return true;
}

void TLMBshfBuffer::MakePermutation(uint32_t offset, uint8_t* permutation) {
    std::memset(occupancy_, 0, sizeof occupancy_);
    uint32_t j = offset;
    uint32_t s = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        s = (s + key_[j]) & 0xFF;
        if (++j == key_length_) j = 0;
        while (occupancy_[s >> 3] == 0xFF) s = (s + 8) & 0xFF;
        // Ends: the starting byte has a free bit, and stepping by two bytes
        // comes back to that byte's first bit.
        while (TestBit(occupancy_, s)) s = ((s & 7) != 7) ? s + 1 : (s + 9) & 0xFF;
        SetBit(occupancy_, s);
        permutation[i] = static_cast<uint8_t>(s);
    }
}

const uint8_t* TLMBshfBuffer::NextPermutation() {
    if (key_length_ == 0) SetPassword(nullptr, 0);
    if (key_length_ == 0) {
        for (uint32_t i = 0; i < 256; ++i) scratch_[i] = static_cast<uint8_t>(i);
        return scratch_;
    }
    uint32_t offset = static_cast<uint32_t>(key_offset_);
    key_offset_ = (offset + 1 >= key_length_) ? 0 : static_cast<int32_t>(offset + 1);
    if (permutations_ == nullptr) {
        MakePermutation(offset, scratch_);
        return scratch_;
    }
    uint8_t* permutation = permutations_ + offset * 256;
    if (!made_[offset]) {
        MakePermutation(offset, permutation);
        made_[offset] = 1;
    }
    return permutation;
}

// Both directions move bits without branching on them: cipher bits are as
// good as random, so a test per bit would be mispredicted half the time.
void TLMBshfBuffer::ShuffleBlock() {
    const uint8_t* permutation = NextPermutation();
    for (uint32_t byte = 0; byte < kShuffleBlockSize; ++byte) {
        uint32_t gathered = 0;
        for (uint32_t bit = 0; bit < 8; ++bit) {
            uint32_t p = permutation[byte * 8 + bit];
            gathered = (gathered << 1) | ((input_block[p >> 3] >> (~p & 7)) & 1);
        }
        output_block[byte] = static_cast<uint8_t>(gathered);
    }
}

void TLMBshfBuffer::UnshuffleBlock() {
    const uint8_t* permutation = NextPermutation();
    std::memset(output_block, 0, sizeof output_block);
    for (uint32_t byte = 0; byte < kShuffleBlockSize; ++byte) {
        uint32_t value = input_block[byte];
        for (uint32_t bit = 0; bit < 8; ++bit) {
            uint32_t p = permutation[byte * 8 + bit];
            output_block[p >> 3] |= static_cast<uint8_t>(((value >> (7 - bit)) & 1) << (~p & 7));
        }
    }
}
