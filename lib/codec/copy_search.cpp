#include "codec/copy_search.h"

#include <cstring>

void CopySearch::Reset() {
    total = 0;
    std::memset(occurrences, 0, sizeof occurrences);
    std::memset(head, 0, sizeof head);
}

void CopySearch::Rebase() {
    // Only times still in the history matter; older links become chain ends.
    const uint32_t shift = total - 2 * kHistorySize;
    auto move = [&](uint32_t& link) { link = link != 0 && total - (link - 1) <= kHistorySize ? link - shift : 0; };
    for (uint32_t& link : head) move(link);
    for (uint32_t& link : previous) move(link);
    total -= shift;
}

namespace {

// Bytes equal from the start, up to limit; `past` is read from position
// `from` of the ring on.
uint32_t MatchLength(const uint8_t* past, uint32_t from, const uint8_t* ahead, uint32_t limit) {
    uint32_t length = 0;
    if (from + limit <= kHistorySize) {
        const uint8_t* p = past + from;
        while (length + 4 <= limit) {
            uint32_t a, b;
            std::memcpy(&a, ahead + length, 4);
            std::memcpy(&b, p + length, 4);
            if (a != b) return length + static_cast<uint32_t>(__builtin_ctz(a ^ b)) / 8;
            length += 4;
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
    uint32_t best = 1, best_distance = 0;
    for (uint32_t link = head[Hash((f << 16) | (uint32_t{ahead[0]} << 8) | ahead[1])]; link != 0;) {
        const uint32_t t = link - 1;
        // Overwritten since, and so is everything older.
        if (now - t > kHistorySize) break;
        const uint32_t p = t & kHistoryMask;
        link = previous[p];
        if (past[p] != f) continue;
        // Along a chain the distance only grows.
        const uint32_t r = appearances - rank_base[p];
        if (r > kMaximumDistance) break;
        // Only bytes already in the history may be copied.
        const uint32_t bound = now - t - 1;
        const uint32_t limit = bound < longest ? bound : longest;
        // Only a longer match can win, so its last byte is tried first.
        if (limit <= best || ahead[best] != past[(p + 1 + best) & kHistoryMask]) continue;
        const uint32_t length = MatchLength(past, p + 1, ahead, limit);
        if (length > best) {
            best = length;
            best_distance = r;
            if (best == longest) break;
        }
    }
    *distance = best_distance;
    return best_distance != 0 ? best : 0;
}
