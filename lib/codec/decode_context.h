// The input side of every decoder: a refillable buffer fed from a file, from
// another context's plain output, or from a derived class, with bit-level
// reads and the state of whichever decoder was prepared last.
//
// Coded streams are untrusted: a damaged or truncated stream makes a decode
// call return fewer units than asked, never more, and never loops.
#pragma once

#include <cstdint>

#include "codec/symbol_model.h"
#include "core/object.h"
#include "core/result.h"
#include "file/file_object.h"

struct HuffmanTree;
struct HuffmanTreeBlock;
struct Order1ModelBlock;
class TLMBshfBuffer;

class TOLMADecodeContext : public HVBObject {
    HVB_DECLARE_CLASS(TOLMADecodeContext, HVBObject)

public:
    using DecodeFunction = uint32_t (TOLMADecodeContext::*)(void* destination, uint32_t count);

    // The archive passes 65,536.
    explicit TOLMADecodeContext(uint32_t buffer_size);
    ~TOLMADecodeContext() override;
    TOLMADecodeContext(const TOLMADecodeContext&) = delete;
    TOLMADecodeContext& operator=(const TOLMADecodeContext&) = delete;

    // Neither source is owned; attaching one detaches the other.
    void AttachSourceFile(HVBFileObject* file);
    void AttachSourceContext(TOLMADecodeContext* context);
    // Bytes delivered, 0 at the end of the data.
    virtual uint32_t ReadNextData(void* destination, uint32_t count);

    void ResetBitInput();
    // 0, or 1 at the end of the data.
    int32_t FillBitBuffer();
    // 0 for a 0 bit, -1 for a 1 bit, 1 at the end of the data.
    int32_t ReadBit();
    // n = 1..32, first bit most significant; 0 at the end of the data.
    uint32_t ReadBits(uint32_t n);
    // A value >= 1, or -1 at the end of the data (or on a code too long to
    // be a 32-bit value).
    int32_t ReadGammaCode();

    // Runs the decoder installed by the last prepare; 0 when there is none.
    uint32_t Decode(void* destination, uint32_t count);
    DecodeFunction GetDecodeFunction() const { return decode_; }

    // The prepare operations return ResultGeneralError only when their tables
    // cannot be allocated; no decoder is installed then.
    ResultCode PrepareContextTreeDecoding();
    uint32_t DecodeContextTreeBytes(void* destination, uint32_t count);

    ResultCode PrepareShuffleDecryption(const char* password);
    ResultCode PrepareShuffleDecryption(const char* password, uint32_t length);
    uint32_t DecryptShuffleBytes(void* destination, uint32_t count);

    ResultCode PrepareOrder1Decoding();
    void RestartArithmeticDecoding();
    uint32_t DecodeOrder1Bytes(void* destination, uint32_t count);
    uint32_t DecodeOrder1Words(int16_t* destination, uint32_t count);

    // A run sequence begins with StartGammaRuns, which reads its first flag.
    ResultCode PrepareGammaRunDecoding();
    void StartGammaRuns();
    uint32_t DecodeGammaRunBytes(void* destination, uint32_t count);

    // mode 0: one tree shared by every preceding byte.
    ResultCode PrepareHuffmanDecoding(uint32_t mode);
    uint32_t DecodeHuffmanBytes(void* destination, uint32_t count);

    // The arithmetic decoding step: an entry index, or -1 on a damaged
    // stream or at the end of the data.
    int32_t DecodeModelIndex(SymbolModel* model);
    // The decoded entry's symbol after its increment; -1 for the escape and
    // on failure.
    int32_t DecodeModelSymbol(SymbolModel* model);

    bool IsEndOfStream() const { return end_of_stream_ != 0; }
    uint32_t GetPaddingBits() const { return padding_bits_; }
    const ContextTreeBlock* GetContextTree() const { return context_tree_.tree; }

    struct ArithmeticRegisters {
        uint32_t code;
        uint32_t range;
        uint32_t word;
        int32_t bits;
    };

private:
    // The next 32-bit word of the stream, refilling as needed; false at the
    // end of the data.
    bool LoadWord(uint32_t* word) {
        const uint64_t next = NextWord();
        if (next > 0xFFFFFFFFu) return false;
        *word = static_cast<uint32_t>(next);
        return true;
    }
    // The same as a value, kNoWord at the end of the data. The slow path
    // takes no pointer either: a decoder's registers whose address reached a
    // call would live in memory through its whole loop.
    static constexpr uint64_t kNoWord = uint64_t{1} << 32;
    uint64_t NextWord() {
        if (available_ >= 4) {
            const uint8_t* p = cursor_;
            cursor_ += 4;
            available_ -= 4;
            return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        }
        return NextWordSlow();
    }
    uint64_t NextWordSlow();
    // Refills the buffer; `pad` rounds a short read up to whole words.
    bool Refill(bool pad);
    inline int32_t DecodeIndex(ArithmeticRegisters& regs, SymbolModel* model);
    // DecodeIndex followed by the increment: the entry's symbol, or
    // kNoSymbol when DecodeIndex failed.
    inline int32_t DecodeSymbol(ArithmeticRegisters& regs, SymbolModel* model);
    uint32_t DecodeOrder1(void* destination, uint32_t count, bool words);
    int32_t DecodeHuffmanSymbol(HuffmanTree* tree);

    int32_t bit_count_ = 0;
    uint32_t bit_register_ = 0;
    uint32_t capacity_ = 0;
    int32_t available_ = 0;
    uint8_t* buffer_ = nullptr;
    const uint8_t* cursor_ = nullptr;
    HVBFileObject* source_file_ = nullptr;
    TOLMADecodeContext* source_context_ = nullptr;
    DecodeFunction decode_ = nullptr;

    int32_t run_flag_ = 0;
    int32_t run_remaining_ = 0;
    uint32_t huffman_mode_ = 0;
    HuffmanTree* current_huffman_tree_ = nullptr;
    HuffmanTreeBlock* huffman_trees_ = nullptr;

    uint32_t code_ = 0;
    uint32_t range_ = 0;
    uint32_t padding_bits_ = 0;

    ContextTreeState context_tree_;
    int32_t copy_remaining_ = 0;
    int32_t copy_position_ = 0;
    SymbolModel* current_order1_ = nullptr;
    Order1ModelBlock* order1_models_ = nullptr;
    int32_t end_of_stream_ = 0;

    TLMBshfBuffer* cipher_ = nullptr;
    uint32_t cipher_position_ = 32;
};
