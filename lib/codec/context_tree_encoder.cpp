#include <new>

#include "codec/arithmetic_encode.h"
#include "codec/copy_search.h"
#include "codec/encode_context.h"
#include "codec/symbol_model.h"

namespace {

constexpr uint32_t kMaximumCommand = 255;

// The copy candidate before the first byte of a stream, which the search
// cannot give: every position list still names position 0 of the zero-filled
// ring and the last byte counts as 0, so the latest occurrence of f (distance
// 1) is followed by as many zero bytes as the copy may take, and no other
// occurrence is longer.
uint32_t FirstCopy(const uint8_t* ahead, uint32_t longest, uint32_t* distance) {
    uint32_t length = 0;
    while (length < longest && ahead[length] == 0) ++length;
    *distance = length > 0 ? 1 : 0;
    return length;
}

}  // namespace

ResultCode TOLMAEncodeContext::PrepareContextTreeEncoding(uint32_t flags) {
    encode_ = nullptr;
    finish_ = nullptr;
    if (!context_tree_.Prepare()) return ResultGeneralError;
    if (flags & ContextTreeCopies) {
        if (copy_search_ == nullptr) copy_search_ = new (std::nothrow) CopySearch;
        if (copy_search_ == nullptr) return ResultGeneralError;
        copy_search_->Reset();
    }
    flags_ = flags;
    StartArithmeticEncoding();
    encode_ = &TOLMAEncodeContext::EncodeContextTreeBytes;
    finish_ = &TOLMAEncodeContext::FinishArithmeticEncoding;
    return ResultSuccess;
}

// What coding `length` bytes as literals would cost, counted only up to
// `limit` since the caller merely compares the two.
uint32_t TOLMAEncodeContext::LiteralCost(const SymbolModel* first, uint32_t recent, const uint8_t* bytes,
                                         uint32_t length, uint32_t limit) const {
    ContextTreeBlock* tree = context_tree_.tree;
    const SymbolModel* root = &tree->root;
    const SymbolModel* m = first;
    uint32_t cost = 0;
    for (uint32_t i = 0; i < length && cost < limit;) {
        const int32_t symbol = bytes[i];
        const int32_t k = m->FindSymbol(symbol);
        if (k >= 0) {
            cost += m->EstimateIndexBits(static_cast<uint32_t>(k));
        } else {
            cost += m->EstimateCodeBits(kEscapeSymbol) + root->EstimateCodeBits(symbol);
        }
        recent = (recent << 8) | bytes[i];
        // No model is looked up for a byte that is not weighed.
        if (++i < length && cost < limit) {
            uint32_t depth;
            m = tree->Descend(recent, &depth);
        }
    }
    return cost;
}

uint32_t TOLMAEncodeContext::EncodeContextTreeBytes(const void* source, uint32_t count) {
    ContextTreeBlock* tree = context_tree_.tree;
    if (tree == nullptr || write_failed_) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(source);
    ContextTreeHistory& history = context_tree_.history;
    SymbolModel* root = &tree->root;
    SymbolModel* distances = context_tree_.auxiliary[kCopyDistances];
    SymbolModel* copy_lengths = context_tree_.auxiliary[kCopyLengths];
    SymbolModel* repeat_lengths = context_tree_.auxiliary[kRepeatLengths];
    CopySearch* search = (flags_ & ContextTreeCopies) ? copy_search_ : nullptr;
    ArithmeticState state = LoadArithmeticState();
    // The four latest bytes, carried here: read back from the ring right
    // after a byte store, they would wait for the store every byte.
    uint32_t recent = history.Recent();
    uint32_t i = 0;
    while (i < count) {
        uint32_t depth;
        SymbolModel* q = tree->Descend(recent, &depth);
        const uint32_t f = recent & 0xFF;
        uint32_t left = count - i;
        uint32_t longest = left < kMaximumCommand ? left : kMaximumCommand;
        const uint8_t* ahead = src + i;

        if (search != nullptr && left >= 4) search->Prefetch(history.bytes, ahead);
        uint32_t repeat_length = 0;
        if (flags_ & ContextTreeRepeats) {
            while (repeat_length < longest && ahead[repeat_length] == f) ++repeat_length;
        }
        uint32_t copy_length = 0, copy_distance = 0;
        if (search != nullptr) {
            copy_length = search->total == 0 ? FirstCopy(ahead, longest, &copy_distance)
                                             : search->Find(history, ahead, longest, f, &copy_distance);
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
            if (LiteralCost(q, recent, ahead, command_length, best) < best) command_length = 0;
        }

        if (command_length > 0) {
            // The next search starts past the copy, where the prefetch at
            // the top of the loop did not look: its chain comes in while the
            // command is coded and its bytes are appended.
            if (search != nullptr && left >= command_length + 3) {
                search->Prefetch(history.bytes, ahead + command_length - 1);
            }
            EncodeModelSymbol(state, q, kEscapeSymbol);
            if (q != root) EncodeModelSymbol(state, root, kEscapeSymbol);
            EncodeModelSymbol(state, distances, static_cast<int32_t>(command_distance));
            EncodeModelSymbol(state, command_distance != 0 ? copy_lengths : repeat_lengths,
                              static_cast<int32_t>(command_length));
            for (uint32_t j = 0; j < command_length; ++j) {
                history.AppendByte(ahead[j]);
                recent = (recent << 8) | ahead[j];
                if (search != nullptr) search->Append(ahead[j], recent);
            }
        } else {
            uint32_t d = ahead[0];
            history.AppendByte(d);
            recent = (recent << 8) | d;
            if (search != nullptr) search->Append(d, recent);
            uint32_t before;
            int32_t k = q->FindSymbol(static_cast<int32_t>(d), &before);
            if (k >= 0) {
                EncodeModelStep(state, q, static_cast<uint32_t>(k), before);
            } else {
                EncodeModelSymbol(state, q, kEscapeSymbol);
                EncodeModelSymbol(state, root, static_cast<int32_t>(d));
                q->AddSymbol(static_cast<int32_t>(d));
            }
            tree->Grow(q, depth, d, recent);
            command_length = 1;
        }
        if (write_failed_) break;
        i += command_length;
    }
    StoreArithmeticState(state);
    return write_failed_ ? i : count;
}

int32_t TOLMAEncodeContext::WriteEndCode() {
    ContextTreeBlock* tree = context_tree_.tree;
    if (tree == nullptr) return 1;
    uint32_t depth;
    SymbolModel* q = tree->Descend(context_tree_.history.Recent(), &depth);
    EncodeModelSymbol(q, kEscapeSymbol);
    if (q != &tree->root) EncodeModelSymbol(&tree->root, kEscapeSymbol);
    EncodeModelSymbol(context_tree_.auxiliary[kCopyDistances], kEscapeSymbol);
    return write_failed_ ? 1 : 0;
}
