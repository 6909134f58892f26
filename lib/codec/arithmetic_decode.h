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
    // A sound stream keeps code below range, so the product fits 32 bits.
    uint32_t v = (code < 0x10000u && total < 0x10000u) ? code * total / range
                                                       : static_cast<uint32_t>(uint64_t(code) * total / range);
    if (regs.bits == 0) {
        if (!LoadWord(&regs.word)) return -1;
        regs.bits = 32;
    }
    const SymbolEntry* entries = model->entries;
    uint32_t n = model->entry_count;
    const uint32_t target = v;
    uint32_t k = 0;
    // A group of sixteen, then four entries a step while the target lies
    // past them: the same entry and remainder as one at a time with far
    // fewer steps, and the walks are long (most symbols come from models of
    // all 257).
    for (uint32_t g = 0;; ++g) {
        if (k >= n) return -1;
        uint32_t s = model->group_sums[g];
        if (v < s) break;
        v -= s;
        k += 1u << kGroupShift;
    }
    while (k + 4 <= n) {
        uint32_t s = uint32_t(entries[k].count) + entries[k + 1].count + entries[k + 2].count + entries[k + 3].count;
        if (v < s) break;
        v -= s;
        k += 4;
    }
    for (;; ++k) {
        if (k >= n) return -1;
        uint32_t c = entries[k].count;
        if (v < c) break;
        v -= c;
    }
    const uint32_t low = target - v;
    uint32_t new_range = range * entries[k].count / total;
    if (new_range == 0) return -1;
    code -= (low * range + total - 1) / total;

    uint32_t shift = static_cast<uint32_t>(__builtin_clz(new_range)) - 16;
    uint32_t word = regs.word;
    int32_t bits = regs.bits;
    while (shift > 0) {
        if (bits == 0) {
            if (!LoadWord(&word)) {
                padding_bits_ += 32;
                regs.bits = 0;
                return -1;
            }
            bits = 32;
        }
        uint32_t take = shift < static_cast<uint32_t>(bits) ? shift : static_cast<uint32_t>(bits);
        new_range <<= take;
        code = (code << take) | (word >> (32 - take));
        word <<= take;
        bits -= static_cast<int32_t>(take);
        shift -= take;
    }
    regs.word = word;
    regs.bits = bits;
    regs.code = code;
    regs.range = new_range;
    return static_cast<int32_t>(k);
}

inline int32_t TOLMADecodeContext::DecodeSymbol(ArithmeticRegisters& regs, SymbolModel* model) {
    int32_t k = DecodeIndex(regs, model);
    if (k < 0) return kNoSymbol;
    return model->entries[model->IncrementSymbol<false>(static_cast<uint32_t>(k))].symbol;
}
