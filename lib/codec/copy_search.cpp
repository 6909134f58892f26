#include "codec/copy_search.h"

#include <cstring>

void CopySearch::Reset() {
    total = 0;
    std::memset(occurrences, 0, sizeof occurrences);
    std::memset(head, 0, sizeof head);
    std::memset(head4, 0, sizeof head4);
}

void CopySearch::Rebase() {
    // Only times still in the history matter; older links become chain ends.
    const uint32_t shift = total - 2 * kHistorySize;
    auto move = [&](uint32_t& link) { link = link != 0 && total - (link - 1) <= kHistorySize ? link - shift : 0; };
    for (uint32_t& link : head) move(link);
    for (uint32_t& link : head4) move(link);
    // Only the appearances written since the reset.
    for (uint32_t d = 0; d < 256; ++d) {
        const uint32_t n = occurrences[d];
        for (uint32_t k = n > 256 ? n - 256 : 0; k < n; ++k) move(appearance_times[d][k & 0xFF]);
    }
    total -= shift;
}

namespace {

// Bytes equal from the start, up to limit; `past` is read from position
// `from` of the ring on.
uint32_t MatchLength(const uint8_t* past, uint32_t from, const uint8_t* ahead, uint32_t limit) {
    uint32_t length = 0;
    if (from + limit <= kHistorySize) {
        const uint8_t* p = past + from;
        // Words as wide as the processor's; little-endian, so the lowest
        // differing bit is in the first differing byte.
        using Word = uintptr_t;
        while (length + sizeof(Word) <= limit) {
            Word a, b;
            std::memcpy(&a, ahead + length, sizeof a);
            std::memcpy(&b, p + length, sizeof b);
            if (a != b) return length + static_cast<uint32_t>(__builtin_ctzll(a ^ b)) / 8;
            length += sizeof(Word);
        }
        while (length < limit && ahead[length] == p[length]) ++length;
        return length;
    }
    while (length < limit && ahead[length] == past[(from + length) & kHistoryMask]) ++length;
    return length;
}

}  // namespace

uint32_t CopySearch::Find(const ContextTreeHistory& history, const uint8_t* ahead, uint32_t longest, uint32_t f,
                          uint32_t* distance) const {
    *distance = 0;
    if (longest < 2) return 0;
    const uint8_t* past = history.bytes;
    const uint32_t now = total;
    const uint32_t appearances = occurrences[f];
    // Links below `floor` are overwritten in the ring or lie more than
    // kMaximumDistance appearances of f back; along a chain times only fall,
    // so the first such link ends the walk.
    uint32_t floor = now > kHistorySize ? now - kHistorySize + 1 : 1;
    if (appearances >= kMaximumDistance) {
        const uint32_t oldest = appearance_times[f][(appearances - kMaximumDistance) & 0xFF];
        if (oldest > floor) floor = oldest;
    }
    uint32_t best = 1, best_time = 0;
    // The chain of three bytes until a copy is found, then that of four
    // from its head: the strings on it nearer than the copy found share
    // fewer than four bytes with the source (the first walk would have
    // taken them), so they fail again as before and the result is that of
    // one walk.
    const uint16_t* links = back;
    for (uint32_t link = head[Hash((f << 16) | (uint32_t{ahead[0]} << 8) | ahead[1])]; link >= floor;) {
        const uint32_t t = link - 1;
        const uint32_t p = t & kHistoryMask;
        const uint32_t gap = links[p];
        link = gap != 0 ? link - gap : 0;
        // Only bytes already in the history may be copied.
        const uint32_t bound = now - t - 1;
        const uint32_t limit = bound < longest ? bound : longest;
        // One branch for the three ways a string cannot win: another first
        // byte (the hash collided), too near now, or its byte at `best`
        // differs so that it cannot be longer.
        if ((past[p] != f) | (limit <= best) | (ahead[best] != past[(p + 1 + best) & kHistoryMask])) continue;
        const uint32_t length = MatchLength(past, p + 1, ahead, limit);
        if (length > best) {
            best = length;
            best_time = t + 1;
            if (best == longest) break;
            if (links == back) {
                links = back4;
                link = head4[Hash4((f << 24) | (uint32_t{ahead[0]} << 16) | (uint32_t{ahead[1]} << 8) | ahead[2])];
            }
        }
    }
    if (best_time == 0) return 0;
    // Along a chain the distance only grows, so the nearest of the longest
    // is the first found.
    *distance = (appearances - rank_base[(best_time - 1) & kHistoryMask]) & 0xFF;
    return best;
}
