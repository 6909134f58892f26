// The output side of the codecs: coded bits gathered into big-endian words in
// a buffer that is handed to a file, to another encode context (which codes
// it again, e.g. enciphers it), or to a derived class.
//
// Order of use: construct, attach a destination, one prepare, any number of
// encode calls, the matching finish.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/symbol_model.h"
#include "core/object.h"
#include "core/result.h"
#include "file/file_object.h"

struct CopySearch;
struct HuffmanTree;
struct HuffmanTreeBlock;
struct Order1ModelBlock;
class TLMBshfBuffer;

// Flags of PrepareContextTreeEncoding.
enum : uint32_t {
    ContextTreeCopies = 0x01,
    ContextTreeRepeats = 0x02,
};

class TOLMAEncodeContext : public HVBObject {
    HVB_DECLARE_CLASS(TOLMAEncodeContext, HVBObject)

public:
    using EncodeFunction = uint32_t (TOLMAEncodeContext::*)(const void* source, uint32_t count);
    using FinishFunction = int32_t (TOLMAEncodeContext::*)();

    // The archive writer passes 16,384.
    explicit TOLMAEncodeContext(uint32_t buffer_size);
    ~TOLMAEncodeContext() override;
    TOLMAEncodeContext(const TOLMAEncodeContext&) = delete;
    TOLMAEncodeContext& operator=(const TOLMAEncodeContext&) = delete;

    // Neither destination is owned; attaching one detaches the other.
    void AttachDestinationFile(HVBFileObject* file);
    void AttachDestinationContext(TOLMAEncodeContext* context);
    // Bytes accepted; fewer than offered is a failed write.
    virtual uint32_t WriteNextData(const void* data, uint32_t count);

    // Appends the n (0..32) most significant bits of value. 0, or 1 when the
    // destination took fewer bytes than offered.
    int32_t WriteBits(uint32_t value, uint32_t n);
    // Completes the pending bits to a word (a zero word when none are
    // pending) and hands on the whole buffer. 0 or 1 as WriteBits.
    int32_t FlushBits();

    // Runs the installed encoder and finish operation; 0 / 1 when none is.
    uint32_t Encode(const void* source, uint32_t count);
    int32_t Finish();
    EncodeFunction GetEncodeFunction() const { return encode_; }

    // The prepare operations return ResultGeneralError only when their tables
    // cannot be allocated; no encoder is installed then. Encoders return the
    // source bytes taken, fewer than offered when the destination failed.
    ResultCode PrepareContextTreeEncoding(uint32_t flags);
    uint32_t EncodeContextTreeBytes(const void* source, uint32_t count);
    // The end code, for streams whose length is not stored elsewhere.
    int32_t WriteEndCode();
    int32_t FinishArithmeticEncoding();

    ResultCode PrepareShuffleEncryption(const char* password);
    ResultCode PrepareShuffleEncryption(const char* password, uint32_t length);
    uint32_t EncryptShuffleBytes(const void* source, uint32_t count);
    int32_t FinishShuffleEncryption();

    // Each call writes one complete run sequence, read back by
    // StartGammaRuns followed by DecodeGammaRunBytes of the same count.
    ResultCode PrepareGammaRunEncoding();
    uint32_t EncodeGammaRunBytes(const void* source, uint32_t count);
    int32_t WriteGammaCode(uint32_t value);

    ResultCode PrepareOrder1Encoding();
    uint32_t EncodeOrder1Bytes(const void* source, uint32_t count);
    uint32_t EncodeOrder1Words(const int16_t* source, uint32_t count);

    // mode as for PrepareHuffmanDecoding.
    ResultCode PrepareHuffmanEncoding(uint32_t mode);
    uint32_t EncodeHuffmanBytes(const void* source, uint32_t count);

    // The arithmetic encoding step on entry `index` of the model, followed
    // by its increment.
    void EncodeModelIndex(SymbolModel* model, uint32_t index);
    // The symbol must be present in the model.
    void EncodeModelSymbol(SymbolModel* model, int32_t symbol);

    uint32_t GetBufferCapacity() const { return capacity_; }
    const ContextTreeBlock* GetContextTree() const { return context_tree_.tree; }

private:
    void StoreWord(uint32_t word);
    void WriteRepeatedBits(uint32_t bit, int32_t count);
    void StartArithmeticEncoding();
    // The arithmetic coder's registers, which a hot loop holds in locals:
    // kept in the object, every store through a byte pointer would force
    // them to be read again.
    // The bit writer goes with them: `bits` holds bit_count (below 32) bits
    // not yet stored, in its low end, and `out` is where their word goes in
    // the buffer, `end` the buffer's end.
    struct ArithmeticState {
        uint32_t low;
        uint32_t range;
        uint32_t high;
        int32_t pending;
        uint32_t bits;
        uint32_t bit_count;
        uint8_t* out;
        uint8_t* end;
    };
    ArithmeticState LoadArithmeticState() {
        ArithmeticState state{low_, range_, high_, pending_, 0, 0, nullptr, nullptr};
        LoadBits(state);
        return state;
    }
    void StoreArithmeticState(const ArithmeticState& state) {
        low_ = state.low;
        range_ = state.range;
        high_ = state.high;
        pending_ = state.pending;
        SaveBits(state);
    }
    // Hands the bit writer to WriteBits and its kind, and takes it back.
    void SaveBits(const ArithmeticState& state) {
        accumulator_ = state.bits;
        bit_count_ = static_cast<int32_t>(state.bit_count);
        if (buffer_ != nullptr) write_position_ = static_cast<uint32_t>(state.out - buffer_);
    }
    void LoadBits(ArithmeticState& state) {
        state.bits = accumulator_;
        state.bit_count = static_cast<uint32_t>(bit_count_);
        // Without a buffer the words go to a scratch word and fail as
        // StoreWord fails them.
        state.out = buffer_ != nullptr ? buffer_ + write_position_ : scratch_word_;
        state.end = buffer_ != nullptr ? buffer_ + capacity_ : scratch_word_ + 4;
    }
    // WriteBits(value, n) for n from 1 to 32, without a branch on whether
    // the word fills, which is as good as random: the word is stored, whole
    // or in part, every time, and only a whole one moves `out` on. There is
    // room for it, since a full buffer is flushed at once, as StoreWord
    // flushes it.
    void PutBits(ArithmeticState& state, uint32_t value, uint32_t n) {
        const uint32_t held = state.bit_count;
        // The held bits and as many of the new as follow them in the word;
        // in a partial word the rest of `value` follows, to be overwritten.
        const uint32_t front = held != 0 ? state.bits << (32 - held) : 0;
        const uint32_t word = __builtin_bswap32(front | (value >> held));
        std::memcpy(state.out, &word, 4);
        // The latest 32 bits, of which the low bit_count are kept.
        state.bits = (n < 32 ? state.bits << n : 0) | (value >> (32 - n));
        const uint32_t count = held + n;
        state.out += 4 * (count >> 5);
        state.bit_count = count & 31;
        if (state.out >= state.end) [[unlikely]] BufferFilled(state);
    }
    void BufferFilled(ArithmeticState& state);
    // EncodeModelIndex with the sum of the counts before the entry known.
    void EncodeModelStep(SymbolModel* model, uint32_t index, uint32_t before);
    void EncodeModelStep(ArithmeticState& state, SymbolModel* model, uint32_t index, uint32_t before);
    void EncodeModelSymbol(ArithmeticState& state, SymbolModel* model, int32_t symbol);
    // `first` is the model of the first byte and `recent` the four bytes
    // before it, which the caller has at hand already.
    uint32_t LiteralCost(const SymbolModel* first, uint32_t recent, const uint8_t* bytes, uint32_t length,
                         uint32_t limit) const;
    void EncodeHuffmanSymbol(HuffmanTree* tree, uint32_t symbol);
    int32_t FlushBuffer();

    int32_t bit_count_ = 0;
    uint32_t accumulator_ = 0;
    uint32_t capacity_ = 0;
    uint32_t write_position_ = 0;
    uint8_t* buffer_ = nullptr;
    HVBFileObject* destination_file_ = nullptr;
    TOLMAEncodeContext* destination_context_ = nullptr;
    EncodeFunction encode_ = nullptr;
    FinishFunction finish_ = nullptr;
    // Set once the destination took fewer bytes than offered.
    bool write_failed_ = false;
    uint8_t scratch_word_[4] = {};

    uint32_t flags_ = 0;
    int32_t run_remaining_ = 0;
    uint32_t huffman_mode_ = 0;
    HuffmanTree* current_huffman_tree_ = nullptr;
    HuffmanTreeBlock* huffman_trees_ = nullptr;
    SymbolModel* current_order1_ = nullptr;
    Order1ModelBlock* order1_models_ = nullptr;

    uint32_t low_ = 0;
    uint32_t range_ = 0xFFFF;
    uint32_t high_ = 0;
    int32_t pending_ = -1;

    ContextTreeState context_tree_;
    CopySearch* copy_search_ = nullptr;

    TLMBshfBuffer* cipher_ = nullptr;
    uint32_t cipher_fill_ = 0;
};
