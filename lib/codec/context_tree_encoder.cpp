#include <cstring>
#include <new>

#include "codec/encode_context.h"
#include "codec/symbol_model.h"

namespace {

constexpr uint32_t kMaximumCommand = 255;
constexpr uint32_t kMaximumDistance = 255;

}  // namespace

ResultCode TOLMAEncodeContext::PrepareContextTreeEncoding(uint32_t flags) {
    encode_ = nullptr;
    finish_ = nullptr;
    if (tree_ == nullptr) tree_ = new (std::nothrow) ContextTreeBlock;
    if (history_ == nullptr) history_ = new (std::nothrow) uint8_t[kHistorySize];
    if (position_lists_ == nullptr) position_lists_ = new (std::nothrow) uint32_t[256 * kPositionListWords];
    if (tree_ == nullptr || history_ == nullptr || position_lists_ == nullptr || !EnsureAuxiliaryModels()) {
        return ResultGeneralError;
    }
    tree_->Reset();
    std::memset(ring_, 0, sizeof ring_);
    ring_index_ = 0;
    std::memset(history_, 0, kHistorySize);
    std::memset(position_lists_, 0, 256 * kPositionListWords * sizeof(uint32_t));
    history_position_ = 0;
    flags_ = flags;
    StartArithmeticEncoding();
    encode_ = &TOLMAEncodeContext::EncodeContextTreeBytes;
    finish_ = &TOLMAEncodeContext::FinishArithmeticEncoding;
    return ResultSuccess;
}

void TOLMAEncodeContext::AppendHistoryByte(uint32_t d) {
    ring_[ring_index_] = static_cast<uint8_t>(d);
    ring_index_ = (ring_index_ + 1) & 3;
    RecordHistoryByte(history_, position_lists_, &history_position_, d);
}

// What coding `length` bytes as literals would cost, counted only up to
// `limit` since the caller merely compares the two.
uint32_t TOLMAEncodeContext::LiteralCost(const uint8_t* bytes, uint32_t length, uint32_t limit) const {
    uint8_t ring[4];
    std::memcpy(ring, ring_, sizeof ring);
    uint32_t ring_index = ring_index_;
    const SymbolModel* root = &tree_->root;
    uint32_t cost = 0;
    for (uint32_t i = 0; i < length && cost < limit; ++i) {
        uint32_t depth;
        const SymbolModel* m = tree_->Descend(ring, ring_index, &depth);
        int32_t k = m->FindSymbol(bytes[i]);
        if (k >= 0) {
            cost += m->EstimateIndexBits(static_cast<uint32_t>(k));
        } else {
            cost += m->EstimateCodeBits(kEscapeSymbol) + root->EstimateCodeBits(bytes[i]);
        }
        ring[ring_index] = bytes[i];
        ring_index = (ring_index + 1) & 3;
    }
    return cost;
}

uint32_t TOLMAEncodeContext::EncodeContextTreeBytes(const void* source, uint32_t count) {
    if (tree_ == nullptr || write_failed_) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(source);
    SymbolModel* root = &tree_->root;
    SymbolModel* distances = auxiliary_[1];
    SymbolModel* copy_lengths = auxiliary_[0];
    SymbolModel* repeat_lengths = auxiliary_[2];
    uint32_t i = 0;
    while (i < count) {
        uint32_t depth;
        SymbolModel* q = tree_->Descend(ring_, ring_index_, &depth);
        uint32_t f = history_[(history_position_ - 1) & kHistoryMask];
        uint32_t left = count - i;
        uint32_t longest = left < kMaximumCommand ? left : kMaximumCommand;
        const uint8_t* ahead = src + i;

        uint32_t repeat_length = 0;
        if (flags_ & ContextTreeRepeats) {
            while (repeat_length < longest && ahead[repeat_length] == f) ++repeat_length;
        }
        uint32_t copy_length = 0, copy_distance = 0;
        if (flags_ & ContextTreeCopies) {
            const uint32_t* list = position_lists_ + f * kPositionListWords;
            for (uint32_t r = 1; r <= kMaximumDistance && copy_length < longest; ++r) {
                uint32_t p = list[1 + ((list[0] - r) & 0xFF)] & kHistoryMask;
                if (history_[p] != f) break;
                // Only bytes already in the history may be copied.
                uint32_t bound = (history_position_ - p - 1) & kHistoryMask;
                uint32_t limit = bound < longest ? bound : longest;
                // Only a longer match can win, so its last byte is tried first.
                if (limit <= copy_length ||
                    ahead[copy_length] != history_[(p + 1 + copy_length) & kHistoryMask]) {
                    continue;
                }
                uint32_t length = 0;
                while (length < limit && ahead[length] == history_[(p + 1 + length) & kHistoryMask]) ++length;
                if (length > copy_length) {
                    copy_length = length;
                    copy_distance = r;
                }
            }
        }

        uint32_t command_length = 0, command_distance = 0;
        if (repeat_length >= 2 || copy_length >= 2) {
            uint32_t escape = q->EstimateCodeBits(kEscapeSymbol);
            if (q != root) escape += root->EstimateCodeBits(kEscapeSymbol);
            uint32_t best = ~0u;
            if (copy_length >= 2) {
                best = escape + distances->EstimateCodeBits(static_cast<int32_t>(copy_distance)) +
                       copy_lengths->EstimateCodeBits(static_cast<int32_t>(copy_length));
                command_length = copy_length;
                command_distance = copy_distance;
            }
            if (repeat_length >= 2) {
                uint32_t cost = escape + distances->EstimateCodeBits(0) +
                                repeat_lengths->EstimateCodeBits(static_cast<int32_t>(repeat_length));
                if (cost <= best) {
                    best = cost;
                    command_length = repeat_length;
                    command_distance = 0;
                }
            }
            if (LiteralCost(ahead, command_length, best) < best) command_length = 0;
        }

        if (command_length > 0) {
            EncodeModelSymbol(q, kEscapeSymbol);
            if (q != root) EncodeModelSymbol(root, kEscapeSymbol);
            EncodeModelSymbol(distances, static_cast<int32_t>(command_distance));
            EncodeModelSymbol(command_distance != 0 ? copy_lengths : repeat_lengths,
                              static_cast<int32_t>(command_length));
            for (uint32_t j = 0; j < command_length; ++j) AppendHistoryByte(ahead[j]);
        } else {
            uint32_t d = ahead[0];
            AppendHistoryByte(d);
            int32_t k = q->FindSymbol(static_cast<int32_t>(d));
            if (k >= 0) {
                EncodeModelIndex(q, static_cast<uint32_t>(k));
            } else {
                EncodeModelSymbol(q, kEscapeSymbol);
                EncodeModelSymbol(root, static_cast<int32_t>(d));
                q->AddSymbol(static_cast<int32_t>(d));
            }
            tree_->Grow(q, depth, d, ring_, ring_index_);
            command_length = 1;
        }
        if (write_failed_) return i;
        i += command_length;
    }
    return count;
}

int32_t TOLMAEncodeContext::WriteEndCode() {
    if (tree_ == nullptr) return 1;
    uint32_t depth;
    SymbolModel* q = tree_->Descend(ring_, ring_index_, &depth);
    EncodeModelSymbol(q, kEscapeSymbol);
    if (q != &tree_->root) EncodeModelSymbol(&tree_->root, kEscapeSymbol);
    EncodeModelSymbol(auxiliary_[1], kEscapeSymbol);
    return write_failed_ ? 1 : 0;
}
