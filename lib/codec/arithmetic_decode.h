// The arithmetic decoding step, shared by the decoders that use it. Included
// only by the decoders' sources, so that the hot loops can inline it with the
// registers held in locals.
#pragma once

#include "codec/decode_context.h"
#include "codec/symbol_model.h"

// Forced inline: a call and its return cost more than the step's divisions
// where the code runs under binary translation.
__attribute__((always_inline)) inline int32_t TOLMADecodeContext::DecodeIndex(ArithmeticRegisters& regs,
                                                                              SymbolModel* model) {
    uint32_t total = model->total;
    uint32_t range = regs.range;
    if (range == 0 || total == 0) return -1;
    uint32_t code = regs.code;
    if (regs.bits == 0) {
        if (!LoadWord(&regs.word)) return -1;
        regs.bits = 32;
    }
    // The counts sum to the total, so a code at or past the range lies past
    // every entry: only a damaged stream gets there. Below it, code, range
    // and total fit the 32-bit products that follow (range stays within 16
    // bits).
    if (code >= range) return -1;
    // The walk compares code * total with the entries' running sums scaled
    // by range rather than dividing it by range first: the same entry as
    // floor(code * total / range) would select, and a mispredicted exit is
    // resolved a multiplication, not a division, after the step begins.
    // What is left when the entry is found is what the code exceeds its low
    // end by, scaled by range and total: over total, the next code, the
    // same as subtracting the low end's ceil(low * range / total) from code.
    uint32_t over = code * total;
    const SymbolEntry* entries = model->entries;
    uint32_t n = model->entry_count;
    uint32_t k = 0;
    // A group of sixteen at a time while the target lies past it, then one
    // entry at a time: one loop inside the group, so one exit that depends
    // on the symbol, where a walk of four at a time and then of one had
    // two, and a mispredicted exit costs more than the steps (the walks are
    // long: most symbols come from models of all 257). Every model's counts
    // and group sums add up to its total, and code is below range, so both
    // walks stop before the model's end; that end is checked once, after.
    for (uint32_t g = 0;; ++g) {
        uint32_t s = model->group_sums[g] * range;
        if (over < s) break;
        over -= s;
        k += 1u << kGroupShift;
    }
    for (;; ++k) {
        uint32_t s = entries[k].count * range;
        if (over < s) break;
        over -= s;
    }
    if (k >= n) return -1;
    const uint32_t count = entries[k].count;
    uint32_t new_range = DivideByTotal(range * count, total);
    code = DivideByTotal(over, total);
    if (new_range == 0) return -1;

    // The doublings that bring the range back to 16 bits, and as many code
    // bits from the stream: from the word at hand (bits > 0, loaded above)
    // when it holds enough, as it mostly does, without a loop whose exit
    // depends on the symbol.
    const uint32_t shift = static_cast<uint32_t>(__builtin_clz(new_range)) - 16;
    uint32_t word = regs.word;
    int32_t bits = regs.bits;
    if (shift <= static_cast<uint32_t>(bits)) [[likely]] {
        code = (code << shift) | static_cast<uint32_t>(uint64_t{word} >> (32 - shift));
        word <<= shift;
        bits -= static_cast<int32_t>(shift);
    } else {
        const uint32_t take = static_cast<uint32_t>(bits);
        const uint32_t rest = shift - take;
        code = (code << take) | (word >> (32 - take));
        if (!LoadWord(&word)) {
            padding_bits_ += 32;
            regs.bits = 0;
            return -1;
        }
        code = (code << rest) | (word >> (32 - rest));
        word <<= rest;
        bits = static_cast<int32_t>(32 - rest);
    }
    new_range <<= shift;
    regs.word = word;
    regs.bits = bits;
    regs.code = code;
    regs.range = new_range;
    return static_cast<int32_t>(k);
}

__attribute__((always_inline)) inline int32_t TOLMADecodeContext::DecodeSymbol(ArithmeticRegisters& regs,
                                                                               SymbolModel* model) {
    int32_t k = DecodeIndex(regs, model);
    if (k < 0) return kNoSymbol;
    // Read before the increment moves the entry: the next byte's context
    // waits for the symbol, not for the move.
    const int32_t symbol = model->entries[k].symbol;
    model->IncrementSymbol<false>(static_cast<uint32_t>(k));
    return symbol;
}
