#include <cstring>
#include <new>

#include "codec/arithmetic_decode.h"
#include "codec/decode_context.h"
#include "codec/symbol_model.h"

ResultCode TOLMADecodeContext::PrepareContextTreeDecoding() {
    decode_ = nullptr;
    if (tree_ == nullptr) tree_ = new (std::nothrow) ContextTreeBlock;
    if (history_ == nullptr) history_ = new (std::nothrow) uint8_t[kHistorySize];
    if (position_lists_ == nullptr) position_lists_ = new (std::nothrow) uint32_t[256 * kPositionListWords];
    if (tree_ == nullptr || history_ == nullptr || position_lists_ == nullptr || !EnsureAuxiliaryModels()) {
        return ResultGeneralError;
    }
    tree_->Reset();
    std::memset(ring_, 0, sizeof ring_);
    ring_index_ = 0;
    RestartArithmeticDecoding();
    std::memset(history_, 0, kHistorySize);
    std::memset(position_lists_, 0, 256 * kPositionListWords * sizeof(uint32_t));
    history_position_ = 0;
    copy_remaining_ = 0;
    copy_position_ = 0;
    end_of_stream_ = 0;
    decode_ = &TOLMADecodeContext::DecodeContextTreeBytes;
    return ResultSuccess;
}

uint32_t TOLMADecodeContext::DecodeContextTreeBytes(void* destination, uint32_t count) {
    if (end_of_stream_ != 0 || tree_ == nullptr || count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    ContextTreeBlock* tree = tree_;
    SymbolModel* root = &tree->root;
    uint8_t* history = history_;
    uint32_t* lists = position_lists_;
    uint32_t history_position = history_position_;
    uint32_t ring_index = ring_index_;
    ArithmeticRegisters regs{code_, range_, bit_register_, bit_count_};
    uint32_t produced = 0;

    auto produce = [&](uint32_t d) {
        ring_[ring_index] = static_cast<uint8_t>(d);
        ring_index = (ring_index + 1) & 3;
        RecordHistoryByte(history, lists, &history_position, d);
        out[produced++] = static_cast<uint8_t>(d);
    };

    while (produced < count) {
        if (copy_remaining_ > 0) {
            uint32_t n = static_cast<uint32_t>(copy_remaining_);
            if (n > count - produced) n = count - produced;
            uint32_t a = history[(history_position - 1) & kHistoryMask];
            if (copy_position_ >= 0) {
                uint32_t from = static_cast<uint32_t>(copy_position_);
                for (uint32_t i = 0; i < n; ++i) {
                    a = history[from];
                    from = (from + 1) & kHistoryMask;
                    produce(a);
                }
                copy_position_ = static_cast<int32_t>(from);
            } else {
                for (uint32_t i = 0; i < n; ++i) produce(a);
            }
            copy_remaining_ -= static_cast<int32_t>(n);
            continue;
        }

        uint32_t depth;
        SymbolModel* q = tree->Descend(ring_, ring_index, &depth);
        int32_t k = DecodeIndex(regs, q);
        if (k < 0) break;
        int32_t c = q->entries[q->IncrementSymbol(static_cast<uint32_t>(k))].symbol;
        if (c == kEscapeSymbol && q != root) {
            int32_t k2 = DecodeIndex(regs, root);
            if (k2 < 0) break;
            c = root->entries[root->IncrementSymbol(static_cast<uint32_t>(k2))].symbol;
            if (c != kEscapeSymbol) q->AddSymbol(c);
        }
        if (c != kEscapeSymbol) {
            uint32_t d = static_cast<uint32_t>(c) & 0xFF;
            produce(d);
            tree->Grow(q, depth, d, ring_, ring_index);
            continue;
        }

        // Escape in the root: a copy or repeat command, or the end code.
        int32_t k3 = DecodeIndex(regs, auxiliary_[1]);
        int32_t distance = k3 < 0 ? -1
                                  : auxiliary_[1]->entries[auxiliary_[1]->IncrementSymbol(uint32_t(k3))].symbol;
        if (distance < 0) {
            end_of_stream_ = 1;
            break;
        }
        SymbolModel* lengths = distance == 0 ? auxiliary_[2] : auxiliary_[0];
        int32_t k4 = DecodeIndex(regs, lengths);
        if (k4 < 0) break;
        int32_t length = lengths->entries[lengths->IncrementSymbol(static_cast<uint32_t>(k4))].symbol;
        if (length < 0) break;
        copy_remaining_ = length;
        if (distance == 0) {
            copy_position_ = -1;
        } else {
            uint32_t f = history[(history_position - 1) & kHistoryMask];
            const uint32_t* list = lists + f * kPositionListWords;
            uint32_t slot = (list[0] - static_cast<uint32_t>(distance)) & 0xFF;
            copy_position_ = static_cast<int32_t>((list[1 + slot] + 1) & kHistoryMask);
        }
    }

    code_ = regs.code;
    range_ = regs.range;
    bit_register_ = regs.word;
    bit_count_ = regs.bits;
    history_position_ = history_position;
    ring_index_ = ring_index;
    return produced;
}
