// The arithmetic encoding step, shared by the encoders that use it. Included
// only by the encoders' sources, so that the hot loops can inline it.
#pragma once

#include "codec/encode_context.h"
#include "codec/symbol_model.h"

// pending >= 0 stands for one held 0 bit followed by pending held 1 bits,
// which a later carry may still turn into a 1 followed by zeros.
__attribute__((always_inline)) inline void TOLMAEncodeContext::EncodeModelStep(ArithmeticState& state,
                                                                               SymbolModel* model, uint32_t index,
                                                                               uint32_t before) {
    const uint32_t total = model->total;
    before &= 0xFFFF;
    uint32_t range = state.range;
    // The low end's ceil(before * range / total) and the entry's share of
    // the range: both below total * 65536 (range stays within 16 bits), so
    // the reciprocal's exact quotients.
    const uint32_t count = model->entries[index].count;
    uint32_t low = state.low + DivideByTotal(before * range + total - 1, total);
    range = DivideByTotal(count * range, total);
    uint32_t high = state.high;
    int32_t pending = state.pending;
    // A carry out of low goes into high: added rather than branched on,
    // since whether it comes is as good as random (low stays below 0x20000).
    high += low >> 16;
    low &= 0xFFFF;
    if (high & 0x10000) {
        SaveBits(state);
        WriteBits(0x80000000u, 1);
        --pending;
        WriteRepeatedBits(0, pending);
        LoadBits(state);
        if (pending > 0) pending = 0;
        if (pending < -1) pending = -1;
        high &= 0xFFFF;
    }
    if (range != 0 && range < 0x8000) {
        // All the doublings at once: the bits that leave the top of high are
        // the top `shift` bits of high:low. A 1 adds to the held ones; a 0
        // releases what is held and is held itself. So what a run of bits
        // releases is the held bits with the ones before its first 0, then
        // its own bits from the first 0 up to the last, and the ones after
        // the last 0 are held.
        const uint32_t shift = static_cast<uint32_t>(__builtin_clz(range)) - 16;
        const uint32_t window = (high << 16) | low;
        const uint32_t out = window >> (32 - shift);
        const uint32_t zeros = ~out & ((1u << shift) - 1);
        high = (window << shift) >> 16;
        low = (window << shift) & 0xFFFF;
        range <<= shift;
        if (zeros == 0) {
            pending += static_cast<int32_t>(shift);
        } else {
            const uint32_t first = 31 - static_cast<uint32_t>(__builtin_clz(zeros));
            const uint32_t last = static_cast<uint32_t>(__builtin_ctz(zeros));
            const int32_t held = pending + static_cast<int32_t>(shift - 1 - first);
            // The held 0 with its ones, then the run's own bits, in one
            // write where they fit in a word: the branches on each part
            // would go either way.
            const uint32_t own = held >= 0 ? static_cast<uint32_t>(held) + 1 : 0;
            const uint32_t released = first - last;
            if (own + released <= 32) {
                const uint32_t ones = held >= 0 ? ((1u << (own - 1)) - 1) << (32 - own) : 0;
                const uint32_t run = own < 32 ? (out << (31 - first)) >> own : 0;
                if (own + released > 0) PutBits(state, ones | run, own + released);
            } else {
                if (held >= 0 && held < 32) {
                    PutBits(state, ((1u << held) - 1) << (31 - held), static_cast<uint32_t>(held) + 1);
                } else if (held >= 0) {
                    PutBits(state, 0, 1);
                    SaveBits(state);
                    WriteRepeatedBits(1, held);
                    LoadBits(state);
                }
                if (first > last) PutBits(state, out << (31 - first), first - last);
            }
            pending = static_cast<int32_t>(last);
        }
    }
    state.low = low;
    state.range = range;
    state.high = high;
    state.pending = pending;
    model->IncrementSymbol(index);
}

__attribute__((always_inline)) inline void TOLMAEncodeContext::EncodeModelStep(SymbolModel* model, uint32_t index,
                                                                               uint32_t before) {
    ArithmeticState state = LoadArithmeticState();
    EncodeModelStep(state, model, index, before);
    StoreArithmeticState(state);
}

// The symbol must be present in the model.
__attribute__((always_inline)) inline void TOLMAEncodeContext::EncodeModelSymbol(ArithmeticState& state,
                                                                                 SymbolModel* model, int32_t symbol) {
    uint32_t before;
    int32_t index = model->FindSymbol(symbol, &before);
    if (index >= 0) EncodeModelStep(state, model, static_cast<uint32_t>(index), before);
}

inline void TOLMAEncodeContext::EncodeModelSymbol(SymbolModel* model, int32_t symbol) {
    ArithmeticState state = LoadArithmeticState();
    EncodeModelSymbol(state, model, symbol);
    StoreArithmeticState(state);
}
