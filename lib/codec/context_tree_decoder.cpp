#include "codec/arithmetic_decode.h"
#include "codec/decode_context.h"
#include "codec/symbol_model.h"

ResultCode TOLMADecodeContext::PrepareContextTreeDecoding() {
    decode_ = nullptr;
    if (!context_tree_.Prepare()) return ResultGeneralError;
    RestartArithmeticDecoding();
    copy_remaining_ = 0;
    copy_position_ = 0;
    end_of_stream_ = 0;
    decode_ = &TOLMADecodeContext::DecodeContextTreeBytes;
    return ResultSuccess;
}

uint32_t TOLMADecodeContext::DecodeContextTreeBytes(void* destination, uint32_t count) {
    ContextTreeBlock* tree = context_tree_.tree;
    if (end_of_stream_ != 0 || tree == nullptr || count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    SymbolModel* root = &tree->root;
    SymbolModel* const* auxiliary = context_tree_.auxiliary;
    // Held in locals: every store to `out` could otherwise alias the members.
    ContextTreeHistory history = context_tree_.history;
    ArithmeticRegisters regs{code_, range_, bit_register_, bit_count_};
    int32_t copy_remaining = copy_remaining_;
    int32_t copy_position = copy_position_;
    uint32_t produced = 0;
    // The four latest bytes, kept here as they are produced: reading them
    // back from the ring right after a byte store stalls every byte.
    uint32_t recent = history.Recent();

    auto produce = [&](uint32_t d) {
        history.Append(d);
        recent = (recent << 8) | d;
        out[produced++] = static_cast<uint8_t>(d);
    };

    while (produced < count) {
        if (copy_remaining > 0) {
            uint32_t n = static_cast<uint32_t>(copy_remaining);
            if (n > count - produced) n = count - produced;
            if (copy_position >= 0) {
                uint32_t from = static_cast<uint32_t>(copy_position);
                for (uint32_t i = 0; i < n; ++i) {
                    uint32_t a = history.bytes[from];
                    from = (from + 1) & kHistoryMask;
                    produce(a);
                }
                copy_position = static_cast<int32_t>(from);
            } else {
                uint32_t a = history.LastByte();
                for (uint32_t i = 0; i < n; ++i) produce(a);
            }
            copy_remaining -= static_cast<int32_t>(n);
            continue;
        }

        uint32_t depth;
        SymbolModel* q = tree->Descend(recent, &depth);
        int32_t c = DecodeSymbol(regs, q);
        if (c == kNoSymbol) break;
        if (c == kEscapeSymbol && q != root) {
            c = DecodeSymbol(regs, root);
            if (c == kNoSymbol) break;
            if (c != kEscapeSymbol) q->AddSymbol(c);
        }
        if (c != kEscapeSymbol) {
            uint32_t d = static_cast<uint32_t>(c) & 0xFF;
            produce(d);
            tree->Grow(q, depth, d, recent);
            continue;
        }

        // Escape in the root: a copy or repeat command, or (an escape for
        // the distance) the end code.
        int32_t distance = DecodeSymbol(regs, auxiliary[kCopyDistances]);
        if (distance < 0) {
            end_of_stream_ = 1;
            break;
        }
        int32_t length = DecodeSymbol(regs, auxiliary[distance == 0 ? kRepeatLengths : kCopyLengths]);
        if (length < 0) break;
        copy_remaining = length;
        // Distance 1 names the latest occurrence of the last byte: the copy
        // starts right after it.
        copy_position =
            distance == 0
                ? -1
                : static_cast<int32_t>((history.PositionOf(history.LastByte(), static_cast<uint32_t>(distance)) + 1) &
                                       kHistoryMask);
    }

    copy_remaining_ = copy_remaining;
    copy_position_ = copy_position;
    code_ = regs.code;
    range_ = regs.range;
    bit_register_ = regs.word;
    bit_count_ = regs.bits;
    context_tree_.history = history;
    return produced;
}
