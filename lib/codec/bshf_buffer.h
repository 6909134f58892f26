// Password-keyed bit permutation of 32-byte blocks. The walk through the key
// starts one byte later for every block, so consecutive blocks are permuted
// differently.
#pragma once

#include <cstdint>

#include "core/object.h"

constexpr uint32_t kShuffleBlockSize = 32;
constexpr uint32_t kShuffleMinimumKey = 32;

class TLMBshfBuffer : public HVBObject {
    HVB_DECLARE_CLASS(TLMBshfBuffer, HVBObject)

public:
    TLMBshfBuffer() = default;
    ~TLMBshfBuffer() override;
    TLMBshfBuffer(const TLMBshfBuffer&) = delete;
    TLMBshfBuffer& operator=(const TLMBshfBuffer&) = delete;

    // Expands the password to the key and rewinds the key offset. A null or
    // empty password selects the built-in default. False when memory for the
    // key cannot be had.
    bool SetPassword(const char* password, uint32_t length);

    void ShuffleBlock();
    void UnshuffleBlock();

    const uint8_t* GetKey() const { return key_; }
    uint32_t GetKeyLength() const { return key_length_; }
    int32_t GetKeyOffset() const { return key_offset_; }

    uint8_t output_block[kShuffleBlockSize] = {};
    uint8_t input_block[kShuffleBlockSize] = {};

private:
    // Keys longer than this make their permutations block by block instead
    // of keeping one table per key offset.
    static constexpr uint32_t kMaximumTabledKey = 4096;

    // The permutation of blocks that start their key walk at `offset`:
    // block bit i comes from (or goes to) bit permutation[i].
    void MakePermutation(uint32_t offset, uint8_t* permutation);
    // The permutation of the next block; advances the key offset.
    const uint8_t* NextPermutation();

    uint8_t* key_ = nullptr;
    uint32_t key_length_ = 0;
    int32_t key_offset_ = 0;
    uint8_t occupancy_[kShuffleBlockSize] = {};
    // Only key-length permutations exist, one per key offset: each is made
    // the first time a block needs it (a short entry never pays for all of
    // them). Null for a key above kMaximumTabledKey, or when memory for
    // the table could not be had.
    uint8_t* permutations_ = nullptr;
    uint8_t* made_ = nullptr;
    uint8_t scratch_[256] = {};
};
