// Coders for the gamma-run, order-1 and Huffman families, each writing what
// the matching decoder reads back.
#include <new>

#include "codec/arithmetic_encode.h"
#include "codec/encode_context.h"
#include "codec/huffman_tree.h"
#include "codec/symbol_model.h"

// ---- one arithmetic step on a model ----------------------------------------

void TOLMAEncodeContext::EncodeModelIndex(SymbolModel* model, uint32_t index) {
    uint32_t before = 0;
    for (uint32_t i = 0; i < index; ++i) before += model->entries[i].count;
    EncodeModelStep(model, index, before);
}

namespace {

constexpr uint32_t kMaximumRun = 255;

}  // namespace

// ---- gamma-coded runs --------------------------------------------------------

ResultCode TOLMAEncodeContext::PrepareGammaRunEncoding() {
    encode_ = &TOLMAEncodeContext::EncodeGammaRunBytes;
    finish_ = &TOLMAEncodeContext::FlushBits;
    return ResultSuccess;
}

int32_t TOLMAEncodeContext::WriteGammaCode(uint32_t value) {
    if (value <= 1) return WriteBits(0, 1);
    int32_t top = 31 - __builtin_clz(value);
    WriteBits(0x80000000u, 1);
    for (int32_t bit = top - 1; bit >= 0; --bit) {
        uint32_t pair = (((value >> bit) & 1) << 31) | (bit > 0 ? 0x40000000u : 0);
        WriteBits(pair, 2);
    }
    return write_failed_ ? 1 : 0;
}

uint32_t TOLMAEncodeContext::EncodeGammaRunBytes(const void* source, uint32_t count) {
    if (write_failed_ || count == 0) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(source);
    WriteBits(src[0] != 0 ? 0x80000000u : 0, 1);
    uint32_t i = 0;
    while (i < count) {
        bool zeros = src[i] == 0;
        uint32_t end = i;
        while (end < count && (src[end] == 0) == zeros) ++end;
        WriteGammaCode(end - i);
        if (!zeros) {
            for (uint32_t j = i; j < end; ++j) {
                int32_t value = static_cast<int8_t>(src[j]);
                WriteBits(value < 0 ? 0x80000000u : 0, 1);
                WriteGammaCode(static_cast<uint32_t>(value < 0 ? -value : value));
            }
        }
        if (write_failed_) return i;
        i = end;
    }
    return count;
}

// ---- order-1 arithmetic code -------------------------------------------------

ResultCode TOLMAEncodeContext::PrepareOrder1Encoding() {
    encode_ = nullptr;
    finish_ = nullptr;
    if (order1_models_ == nullptr) order1_models_ = new (std::nothrow) Order1ModelBlock;
    if (order1_models_ == nullptr || !context_tree_.PrepareAuxiliaryModels()) return ResultGeneralError;
    order1_models_->Reset();
    current_order1_ = order1_models_->index[0];
    StartArithmeticEncoding();
    encode_ = &TOLMAEncodeContext::EncodeOrder1Bytes;
    finish_ = &TOLMAEncodeContext::FinishArithmeticEncoding;
    return ResultSuccess;
}

uint32_t TOLMAEncodeContext::EncodeOrder1Bytes(const void* source, uint32_t count) {
    if (order1_models_ == nullptr || write_failed_) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(source);
    uint32_t i = 0;
    while (i < count) {
        uint32_t start = i;
        uint32_t c = src[i++];
        EncodeModelSymbol(current_order1_, static_cast<int32_t>(c));
        current_order1_ = order1_models_->index[c];
        if (c == 0) {
            uint32_t run = 0;
            while (run < kMaximumRun && i < count && src[i] == 0) ++run, ++i;
            EncodeModelSymbol(context_tree_.auxiliary[2], static_cast<int32_t>(run));
        }
        if (write_failed_) return start;
    }
    return count;
}

uint32_t TOLMAEncodeContext::EncodeOrder1Words(const int16_t* source, uint32_t count) {
    if (order1_models_ == nullptr || write_failed_) return 0;
    uint32_t i = 0;
    while (i < count) {
        uint32_t start = i;
        int32_t value = source[i++];
        if (value >= -128 && value <= 127) {
            uint32_t c = static_cast<uint32_t>(value) & 0xFF;
            EncodeModelSymbol(current_order1_, static_cast<int32_t>(c));
            current_order1_ = order1_models_->index[c];
            if (c == 0) {
                uint32_t run = 0;
                while (run < kMaximumRun && i < count && source[i] == 0) ++run, ++i;
                EncodeModelSymbol(context_tree_.auxiliary[2], static_cast<int32_t>(run));
            }
        } else {
            EncodeModelSymbol(current_order1_, kEscapeSymbol);
            EncodeModelSymbol(context_tree_.auxiliary[1], (value >> 8) & 0xFF);
            EncodeModelSymbol(context_tree_.auxiliary[0], value & 0xFF);
            current_order1_ = order1_models_->index[256];
        }
        if (write_failed_) return start;
    }
    return count;
}

// ---- adaptive Huffman code ---------------------------------------------------

ResultCode TOLMAEncodeContext::PrepareHuffmanEncoding(uint32_t mode) {
    encode_ = nullptr;
    finish_ = nullptr;
    if (huffman_trees_ == nullptr) huffman_trees_ = new (std::nothrow) HuffmanTreeBlock;
    if (huffman_trees_ == nullptr) return ResultGeneralError;
    huffman_mode_ = mode;
    huffman_trees_->Reset(mode);
    current_huffman_tree_ = huffman_trees_->trees[0];
    encode_ = &TOLMAEncodeContext::EncodeHuffmanBytes;
    finish_ = &TOLMAEncodeContext::FlushBits;
    return ResultSuccess;
}

void TOLMAEncodeContext::EncodeHuffmanSymbol(HuffmanTree* tree, uint32_t symbol) {
    uint32_t leaf = tree->leaf_of_symbol[symbol];
    bool known = leaf != kHuffmanNoLeaf;
    if (!known) leaf = tree->escape_leaf;
    // The path is gathered leaf to root and written root first.
    uint8_t path[kHuffmanNodes];
    uint32_t length = 0;
    for (uint32_t node = leaf; node != kHuffmanRoot; node = tree->nodes[node].parent) {
        uint32_t parent = tree->nodes[node].parent;
        path[length++] = node != static_cast<uint32_t>(tree->nodes[parent].child) ? 1 : 0;
    }
    while (length > 0) WriteBits(path[--length] ? 0x80000000u : 0, 1);
    if (!known) {
        WriteBits(symbol << 24, 8);
        leaf = static_cast<uint32_t>(tree->Insert(symbol));
    }
    if (huffman_mode_ != 0 || tree->nodes[kHuffmanRoot].weight < kHuffmanFreezeWeight) tree->Increment(leaf);
}

uint32_t TOLMAEncodeContext::EncodeHuffmanBytes(const void* source, uint32_t count) {
    if (huffman_trees_ == nullptr || write_failed_) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(source);
    uint32_t i = 0;
    while (i < count) {
        uint32_t start = i;
        uint32_t b = src[i++];
        EncodeHuffmanSymbol(current_huffman_tree_, b);
        current_huffman_tree_ = huffman_trees_->trees[b];
        if (b == 0) {
            // A run counts the zero just coded; longer runs start anew.
            uint32_t run = 1;
            while (run < kMaximumRun && i < count && src[i] == 0) ++run, ++i;
            EncodeHuffmanSymbol(huffman_trees_->trees[kHuffmanRunTree], run);
        }
        if (write_failed_) return start;
    }
    return count;
}
