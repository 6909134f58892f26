// The context-tree coder's search for copy candidates. The command names a
// copy by how many occurrences of the last byte f back it starts, among the
// latest 255 still in the history, and the longest match wins (the nearest on
// equal length). Walking those occurrences costs up to 255 probes per byte;
// here chains of positions with equal three-byte strings lead straight to the
// candidates that can give a copy worth coding (two bytes or more: f and the
// next two source bytes must match), nearest first, and an occurrence count
// per position turns a position back into the distance the command needs.
#pragma once

#include <cstdint>

#include "codec/symbol_model.h"

// A hint that the line at `address` will be read soon. GCC drops
// __builtin_prefetch inside loops, hence the instruction itself; processors
// without SSE have none, and there it is nothing.
inline void PrefetchLine(const void* address) {
#if defined(__SSE__) && (defined(__i386__) || defined(__x86_64__))
    __asm__ volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
    (void)address;
#endif
}

struct CopySearch {
    static constexpr uint32_t kHashBits = 16;
    static constexpr uint32_t kHashSize = 1u << kHashBits;
    static constexpr uint32_t kMaximumLength = 255;
    static constexpr uint32_t kMaximumDistance = 255;

    // Bytes appended since the reset; times are counted from 1 so that 0 can
    // end a chain.
    uint32_t total;
    // Appearances of each byte value since the reset.
    uint32_t occurrences[256];
    // Per hash of three bytes: the time of the latest string that starts
    // with them.
    uint32_t head[kHashSize];
    // Per history position: how many bytes back the previous string with
    // the same hash starts (0: none still in the history), and how often its
    // first byte had appeared before it. Distances rather than times: half
    // the bytes for the chain a walk reads link by link, each a load the
    // next waits for, and nothing to move when times are moved down.
    uint16_t back[kHistorySize];
    uint32_t rank_base[kHistorySize];
    // Per byte value: the times (plus 1) of its latest 256 appearances, at
    // their count modulo 256. The oldest appearance a distance can still
    // name bounds the walk in time, one comparison per step.
    uint32_t appearance_times[256][256];

    void Reset();
    // After `history` took byte d; `recent` is its four latest bytes.
    void Append(uint32_t d, uint32_t recent) {
        uint32_t t = total++;
        const uint32_t rank = occurrences[d]++;
        rank_base[t & kHistoryMask] = rank;
        appearance_times[d][rank & 0xFF] = t + 1;
        // The string of three bytes that ended with d starts two bytes back.
        if (t >= 2) {
            uint32_t start = t - 2;
            uint32_t& h = head[Hash(recent & 0xFFFFFF)];
            const uint32_t gap = start + 1 - h;
            back[start & kHistoryMask] = static_cast<uint16_t>(h != 0 && gap < kHistorySize ? gap : 0);
            h = start + 1;
        }
        if (total == kRebaseAt) Rebase();
    }

    // The longest copy of two bytes or more for the source bytes `ahead`
    // (at most `longest` of them), with its distance; 0 when there is none.
    // The result is that of the walk over the position list of f, except
    // before the first byte of a stream, which the caller handles itself.
    uint32_t Find(const ContextTreeHistory& history, const uint8_t* ahead, uint32_t longest, uint32_t f,
                  uint32_t* distance) const;

    // Brings the first string of the chain for the three bytes at `next`
    // into the cache, where a walk for them will start: the walk's loads
    // depend one on the other, and missing the cache on each is its cost.
    void Prefetch(const uint8_t* past, const uint8_t* next) const {
        const uint32_t link = head[Hash((uint32_t{next[0]} << 16) | (uint32_t{next[1]} << 8) | next[2])];
        const uint32_t p = (link - 1) & kHistoryMask;
        PrefetchLine(&back[p]);
        PrefetchLine(&past[p]);
    }

private:
    // Times stay far from wrapping: every 2 GiB they are moved down.
    static constexpr uint32_t kRebaseAt = 0x80000000u;
    static uint32_t Hash(uint32_t three) { return (three * 2654435761u) >> (32 - kHashBits); }
    void Rebase();
};
