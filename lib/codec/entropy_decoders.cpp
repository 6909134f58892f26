// The decoders of the image and sound formats: order-1 arithmetic code with
// zero runs, gamma-coded runs, adaptive Huffman code.
#include <cstring>
#include <new>

#include "codec/arithmetic_decode.h"
#include "codec/decode_context.h"
#include "codec/huffman_tree.h"
#include "codec/symbol_model.h"

// ---- one arithmetic step on a model ----------------------------------------

int32_t TOLMADecodeContext::DecodeModelIndex(SymbolModel* model) {
    ArithmeticRegisters regs{code_, range_, bit_register_, bit_count_};
    int32_t k = DecodeIndex(regs, model);
    code_ = regs.code;
    range_ = regs.range;
    bit_register_ = regs.word;
    bit_count_ = regs.bits;
    return k;
}

int32_t TOLMADecodeContext::DecodeModelSymbol(SymbolModel* model) {
    ArithmeticRegisters regs{code_, range_, bit_register_, bit_count_};
    int32_t symbol = DecodeSymbol(regs, model);
    code_ = regs.code;
    range_ = regs.range;
    bit_register_ = regs.word;
    bit_count_ = regs.bits;
    return symbol == kNoSymbol ? kEscapeSymbol : symbol;
}

// ---- order-1 arithmetic code -------------------------------------------------

ResultCode TOLMADecodeContext::PrepareOrder1Decoding() {
    decode_ = nullptr;
    if (order1_models_ == nullptr) order1_models_ = new (std::nothrow) Order1ModelBlock;
    if (order1_models_ == nullptr || !context_tree_.PrepareAuxiliaryModels()) return ResultGeneralError;
    order1_models_->Reset();
    current_order1_ = order1_models_->index[0];
    run_remaining_ = 0;
    RestartArithmeticDecoding();
    decode_ = &TOLMADecodeContext::DecodeOrder1Bytes;
    return ResultSuccess;
}

uint32_t TOLMADecodeContext::DecodeOrder1Bytes(void* destination, uint32_t count) {
    return DecodeOrder1(destination, count, false);
}

uint32_t TOLMADecodeContext::DecodeOrder1Words(int16_t* destination, uint32_t count) {
    return DecodeOrder1(destination, count, true);
}

uint32_t TOLMADecodeContext::DecodeOrder1(void* destination, uint32_t count, bool words) {
    if (order1_models_ == nullptr || current_order1_ == nullptr) return 0;
    uint8_t* bytes = static_cast<uint8_t*>(destination);
    int16_t* values = static_cast<int16_t*>(destination);
    SymbolModel* model = current_order1_;
    SymbolModel* const* auxiliary = context_tree_.auxiliary;
    ArithmeticRegisters regs{code_, range_, bit_register_, bit_count_};
    uint32_t produced = 0;
    while (produced < count) {
        if (run_remaining_ > 0) {
            uint32_t n = static_cast<uint32_t>(run_remaining_);
            if (n > count - produced) n = count - produced;
            if (words) {
                for (uint32_t i = 0; i < n; ++i) values[produced + i] = 0;
            } else {
                std::memset(bytes + produced, 0, n);
            }
            produced += n;
            run_remaining_ -= static_cast<int32_t>(n);
            continue;
        }
        int32_t c = DecodeSymbol(regs, model);
        if (c == kNoSymbol || (c == kEscapeSymbol && !words)) break;
        if (c == kEscapeSymbol) {
            int32_t high = DecodeSymbol(regs, auxiliary[1]);
            if (high < 0) break;
            int32_t low = DecodeSymbol(regs, auxiliary[0]);
            if (low < 0) break;
            values[produced++] = static_cast<int16_t>((high << 8) | low);
            model = order1_models_->index[256];
            continue;
        }
        if (words) {
            values[produced++] = static_cast<int8_t>(c);
        } else {
            bytes[produced++] = static_cast<uint8_t>(c);
        }
        model = order1_models_->index[c & 0xFF];
        if (c == 0) {
            int32_t run = DecodeSymbol(regs, auxiliary[2]);
            if (run < 0) break;
            run_remaining_ = run;
        }
    }
    current_order1_ = model;
    code_ = regs.code;
    range_ = regs.range;
    bit_register_ = regs.word;
    bit_count_ = regs.bits;
    return produced;
}

// ---- gamma-coded runs --------------------------------------------------------

ResultCode TOLMADecodeContext::PrepareGammaRunDecoding() {
    run_flag_ = 0;
    run_remaining_ = 0;
    decode_ = &TOLMADecodeContext::DecodeGammaRunBytes;
    return ResultSuccess;
}

void TOLMADecodeContext::StartGammaRuns() {
    // ReadBit gives 1 at the end of the data; that counts as no flag.
    run_flag_ = ReadBit() < 0 ? 1 : 0;
    run_remaining_ = 0;
}

uint32_t TOLMADecodeContext::DecodeGammaRunBytes(void* destination, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(destination);
    // Zero runs take a plain fill, not the library's non-temporal one: the
    // caller reads these bytes next, and runs are short.
    uint32_t produced = 0;
    while (produced < count) {
        if (run_remaining_ <= 0) {
            int32_t length = ReadGammaCode();
            if (length < 0) break;
            run_remaining_ = length;
        }
        uint32_t n = static_cast<uint32_t>(run_remaining_);
        if (n > count - produced) n = count - produced;
        if (run_flag_ == 0) {
            std::memset(out + produced, 0, n);
            produced += n;
            run_remaining_ -= static_cast<int32_t>(n);
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                int32_t sign = ReadBit();
                if (sign > 0) return produced;
                int32_t magnitude = ReadGammaCode();
                if (magnitude < 0) return produced;
                out[produced++] = static_cast<uint8_t>(sign ? -magnitude : magnitude);
                --run_remaining_;
            }
        }
        if (run_remaining_ == 0) run_flag_ = !run_flag_;
    }
    return produced;
}

// ---- adaptive Huffman code ---------------------------------------------------

ResultCode TOLMADecodeContext::PrepareHuffmanDecoding(uint32_t mode) {
    decode_ = nullptr;
    if (huffman_trees_ == nullptr) huffman_trees_ = new (std::nothrow) HuffmanTreeBlock;
    if (huffman_trees_ == nullptr) return ResultGeneralError;
    huffman_mode_ = mode;
    huffman_trees_->Reset(mode);
    current_huffman_tree_ = huffman_trees_->trees[0];
    run_remaining_ = 0;
    decode_ = &TOLMADecodeContext::DecodeHuffmanBytes;
    return ResultSuccess;
}

int32_t TOLMADecodeContext::DecodeHuffmanSymbol(HuffmanTree* tree) {
    uint32_t node = kHuffmanRoot;
    while (tree->nodes[node].child >= 0) {
        int32_t bit = ReadBit();
        if (bit > 0) return -1;
        node = static_cast<uint32_t>(tree->nodes[node].child) + (bit ? 1 : 0);
    }
    int32_t leaf = tree->nodes[node].child;
    int32_t symbol;
    if (leaf == kHuffmanEscapeLeaf) {
        uint32_t value = 0;
        for (int i = 0; i < 8; ++i) {
            int32_t bit = ReadBit();
            if (bit > 0) return -1;
            value = (value << 1) | (bit ? 1u : 0u);
        }
        int32_t inserted = tree->Insert(value);
        if (inserted < 0) return -1;
        node = static_cast<uint32_t>(inserted);
        symbol = static_cast<int32_t>(value);
    } else {
        symbol = leaf & 0xFF;
    }
    if (huffman_mode_ != 0 || tree->nodes[kHuffmanRoot].weight < kHuffmanFreezeWeight) tree->Increment(node);
    return symbol;
}

uint32_t TOLMADecodeContext::DecodeHuffmanBytes(void* destination, uint32_t count) {
    if (huffman_trees_ == nullptr) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t produced = 0;
    while (produced < count) {
        if (run_remaining_ > 0) {
            uint32_t n = static_cast<uint32_t>(run_remaining_);
            if (n > count - produced) n = count - produced;
            std::memset(out + produced, 0, n);
            produced += n;
            run_remaining_ -= static_cast<int32_t>(n);
            continue;
        }
        int32_t symbol = DecodeHuffmanSymbol(current_huffman_tree_);
        if (symbol < 0) break;
        out[produced++] = static_cast<uint8_t>(symbol);
        current_huffman_tree_ = huffman_trees_->trees[symbol];
        if (symbol == 0) {
            int32_t run = DecodeHuffmanSymbol(huffman_trees_->trees[kHuffmanRunTree]);
            if (run < 0) break;
            run_remaining_ = run > 0 ? run - 1 : 0;
        }
    }
    return produced;
}
