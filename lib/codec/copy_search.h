// The context-tree coder's search for copy candidates. The command names a
// copy by how many occurrences of the last byte f back it starts, among the
// latest 255 still in the history, and the longest match wins (the nearest on
// equal length). Walking those occurrences costs up to 255 probes per byte;
// here chains of positions with equal three-byte strings lead straight to the
// candidates that can give a copy worth coding (two bytes or more: f and the
// next two source bytes must match), nearest first, and, once one is found,
// chains of four-byte strings lead on to those that can be longer. An
// occurrence count per position turns a position back into the distance the
// command needs.
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
    // The three-byte chains' heads are twice as many as the four-byte
    // ones': of the strings on a three-byte chain, those that only share
    // its hash are skipped one load at a time, and with as many heads as
    // the four-byte chains have they were two steps in five.
    static constexpr uint32_t kHeadBits = 17;
    static constexpr uint32_t kHead4Bits = 16;
    static constexpr uint32_t kMaximumLength = 255;
    static constexpr uint32_t kMaximumDistance = 255;

    // Bytes appended since the reset; times are counted from 1 so that 0 can
    // end a chain.
    uint32_t total;
    // Appearances of each byte value since the reset.
    uint32_t occurrences[256];
    // Per hash of three bytes: the time of the latest string that starts
    // with them.
    uint32_t head[1u << kHeadBits];
    // Per history position: how many bytes back the previous string with
    // the same hash starts (0, or a reach back to time 0: none still in the
    // history; see Link). Distances rather than times: half the bytes for
    // the chain a walk reads link by link, each a load the next waits for,
    // and nothing to move when times are moved down.
    uint16_t back[kHistorySize];
    // The same for strings of four bytes: once a walk holds a copy of two
    // bytes, only strings that match f and three more can beat it, and
    // their chain skips the many that share only three.
    uint32_t head4[1u << kHead4Bits];
    uint16_t back4[kHistorySize];
    // Per history position: how often its byte had appeared before it,
    // modulo 256. The walk takes only strings 1 to kMaximumDistance
    // occurrences back, so the low byte of a difference of counts is the
    // whole of it, in a quarter of the memory.
    uint8_t rank_base[kHistorySize];
    // Per byte value: the times (plus 1) of its latest 256 appearances, at
    // their count modulo 256. The oldest appearance a distance can still
    // name bounds the walk in time, one comparison per step.
    uint32_t appearance_times[256][256];

    void Reset();
    // After `history` took byte d; `recent` is its four latest bytes.
    void Append(uint32_t d, uint32_t recent) {
        uint32_t t = total++;
        const uint32_t rank = occurrences[d]++;
        rank_base[t & kHistoryMask] = static_cast<uint8_t>(rank);
        appearance_times[d][rank & 0xFF] = t + 1;
        // The string of three bytes that ended with d starts two bytes back.
        if (t >= 2) {
            uint32_t start = t - 2;
            uint32_t& h = head[Hash(recent & 0xFFFFFF)];
            const uint32_t gap = start + 1 - h;
            back[start & kHistoryMask] = Link(gap);
            h = start + 1;
            if (t >= 3) {
                const uint32_t start4 = t - 3;
                uint32_t& h4 = head4[Hash4(recent)];
                const uint32_t gap4 = start4 + 1 - h4;
                back4[start4 & kHistoryMask] = Link(gap4);
                h4 = start4 + 1;
            }
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
    // into the cache, where a walk for them will start, and the head of the
    // chain for the four bytes there, where it goes on once it has a copy:
    // the walk's loads depend one on the other, and missing the cache on
    // each is its cost. Four bytes at `next` must be readable.
    void Prefetch(const uint8_t* past, const uint8_t* next) const {
        const uint32_t four = (uint32_t{next[0]} << 24) | (uint32_t{next[1]} << 16) | (uint32_t{next[2]} << 8) | next[3];
        const uint32_t link = head[Hash(four >> 8)];
        const uint32_t p = (link - 1) & kHistoryMask;
        PrefetchLine(&back[p]);
        PrefetchLine(&head4[Hash4(four)]);
        PrefetchLine(&past[p]);
    }

private:
    // Times stay far from wrapping: every 2 GiB they are moved down.
    static constexpr uint32_t kRebaseAt = 0x80000000u;
    static uint32_t Hash(uint32_t three) { return (three * 2654435761u) >> (32 - kHeadBits); }
    // The link to the previous string `gap` bytes back: 0 when it left the
    // history. Masked, not branched on: whether a string was seen within the
    // history is as good as random. Where there was none (a head of 0), the
    // gap reaches back to time 0, which is below every walk's floor, so a
    // walk ends there as at a link of 0, and it needs no test of its own,
    // which the 32-bit build, short of registers, feels most.
    static uint16_t Link(uint32_t gap) {
        return static_cast<uint16_t>(gap & (0u - static_cast<uint32_t>(gap < kHistorySize)));
    }
    static uint32_t Hash4(uint32_t four) { return (four * 2246822519u) >> (32 - kHead4Bits); }
    void Rebase();
};
