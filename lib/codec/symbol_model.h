// Adaptive frequency tables shared by the arithmetic coders, the context tree
// of models selected by up to four preceding bytes, and the state that the
// context-tree coder and decoder keep alike.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

constexpr uint32_t kModelEntries = 257;
constexpr uint32_t kSubContexts = 128;
constexpr uint32_t kHalvingTotal = 8192;
constexpr int32_t kEscapeSymbol = -1;
// Not a symbol: what a failed decoding step gives.
constexpr int32_t kNoSymbol = -2;

// floor(x / total) for a model's total and x < total * 65536, which every
// product of a 16-bit range and counts within the total keeps: for totals up
// to kHalvingTotal (an added symbol may leave one at the limit until the next
// increment halves it) a multiplication by ceil(2^42 / total) instead of a
// division. The error it adds to x / total stays below x / 2^42 < total /
// 2^26 <= 1 / total, too little to reach the next integer.
constexpr uint32_t kReciprocalShift = 42;
extern const std::array<uint64_t, kHalvingTotal + 1> kTotalReciprocals;
inline uint32_t DivideByTotal(uint32_t x, uint32_t total) {
    if (total > kHalvingTotal) [[unlikely]]
        return x / total;
    return static_cast<uint32_t>((x * kTotalReciprocals[total]) >> kReciprocalShift);
}

struct SymbolEntry {
    uint16_t count;
    int16_t symbol;
};

struct SubContext {
    uint16_t hits;
    int16_t child;
};

// Entries stay in non-increasing order of count, so a walk from the front
// finds the likely symbols first.
// Entries are summed in groups of 16 so that a decoder finds a cumulative
// count a group at a time.
constexpr uint32_t kGroupShift = 4;
constexpr uint32_t kEntryGroups = (kModelEntries + (1u << kGroupShift) - 1) >> kGroupShift;

#if defined(__SSE2__)
// Multipliers of 1 and 0 in 16-bit lanes for SumBefore: per number of
// groups before an index (0..16), 1 for the sums of those groups; per
// number of entries of its own group before it (0..15), 1 for their counts
// and 0 for their symbols and the rest.
struct SumLanes {
    alignas(16) int16_t groups[17][16];
    alignas(16) int16_t entries[16][32];
};
constexpr SumLanes MakeSumLanes() {
    SumLanes lanes{};
    for (uint32_t n = 0; n <= 16; ++n) {
        for (uint32_t g = 0; g < n; ++g) lanes.groups[n][g] = 1;
    }
    for (uint32_t n = 0; n < 16; ++n) {
        for (uint32_t i = 0; i < n; ++i) lanes.entries[n][2 * i] = 1;
    }
    return lanes;
}
inline constexpr SumLanes kSumLanes = MakeSumLanes();
#endif

struct SymbolModel {
    uint32_t total;
    uint32_t entry_count;
    SymbolEntry entries[kModelEntries];
    SubContext sub_contexts[kSubContexts];
    // The counts of entries [16 g, 16 g + 16) below entry_count.
    uint16_t group_sums[kEntryGroups];
    // Per symbol -1..255 (at symbol + 1): its entry, so that a coder finds a
    // symbol without a walk. May be stale for symbols not in the model
    // (never unwritten), so a read is confirmed against the entry; other
    // symbols are walked for.
    uint16_t positions[kModelEntries + 1];

    void InitialiseModel();
    // Recomputes the group sums and the positions from the entries.
    void SumGroups();
    // Returns the entry's new index. The entries passed are exactly those
    // before it that share its old count (counts never increase towards the
    // back); they keep their order and the entry goes in front of them.
    // Inline, and a shift while looking: the passes are short. A decoder
    // never finds entries by symbol and leaves the positions stale.
    template <bool kKeepPositions = true>
    uint32_t IncrementSymbol(uint32_t index) {
        SymbolEntry entry = entries[index];
        const uint16_t old_count = entry.count;
        uint32_t i = index;
        for (; i > 0 && entries[i - 1].count == old_count; --i) {
            entries[i] = entries[i - 1];
            if constexpr (kKeepPositions) Place(entries[i].symbol, i);
        }
        entry.count = static_cast<uint16_t>(old_count + 1);
        entries[i] = entry;
        if constexpr (kKeepPositions) Place(entry.symbol, i);
        // Every entry passed has the old count, so group i's sum gains the
        // increment and the groups between give and take equal counts.
        ++group_sums[i >> kGroupShift];
        // A greater-or-equal test: AddSymbol may already have left the total
        // at the limit, and counts are only 16 bits wide.
        if (++total >= kHalvingTotal) HalveCounts();
        return i;
    }
    void HalveCounts();
    // False when the model is full; only a damaged stream asks for that.
    bool AddSymbol(int32_t symbol);
    int32_t FindSymbol(int32_t symbol) const {
        const uint32_t slot = static_cast<uint32_t>(symbol + 1);
        if (slot >= kModelEntries) return WalkForSymbol(symbol);
        const uint32_t p = positions[slot];
        return p < entry_count && entries[p].symbol == symbol ? static_cast<int32_t>(p) : -1;
    }
    // FindSymbol that also sums the counts of the entries before the one
    // found: whole groups, then the entries of its own group.
    int32_t FindSymbol(int32_t symbol, uint32_t* before) const {
        const int32_t found = FindSymbol(symbol);
        if (found < 0) return -1;
        *before = SumBefore(static_cast<uint32_t>(found));
        return found;
    }
    // The counts of the entries before `index`. Their sum stays within the
    // total, at most kHalvingTotal, so 16-bit lanes cannot overflow.
    uint32_t SumBefore(uint32_t index) const {
        const uint32_t first = index & ~((1u << kGroupShift) - 1);
#if defined(__SSE2__)
        // The loops below stop after a number of steps that differs from
        // call to call, and their mispredicted exits cost more than summing
        // every lane: multiplied by 1 where it counts and by 0 elsewhere,
        // the multipliers taken from a table. Only groups 0..15 can lie
        // wholly before an index.
        const __m128i* groups = reinterpret_cast<const __m128i*>(kSumLanes.groups[index >> kGroupShift]);
        __m128i sum = _mm_add_epi32(
            _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group_sums)), groups[0]),
            _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group_sums + 8)), groups[1]));
        // Sixteen entries from `base` stay inside the array; of them the
        // counts from `first` up to the index count. Past entry 240 only
        // index 256 is left, with none.
        const uint32_t base = first < kModelEntries - 16 ? first : kModelEntries - 16;
        const __m128i* counts = reinterpret_cast<const __m128i*>(kSumLanes.entries[index - first]);
#pragma GCC unroll 4
        for (uint32_t quarter = 0; quarter < 4; ++quarter) {
            const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + base + 4 * quarter));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(e, counts[quarter]));
        }
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
#else
        uint32_t sum = 0;
        for (uint32_t g = 0; g < index >> kGroupShift; ++g) sum += group_sums[g];
        for (uint32_t i = first; i < index; ++i) sum += entries[i].count;
        return sum;
#endif
    }
    uint32_t EstimateCodeBits(int32_t symbol) const {
        const int32_t index = FindSymbol(symbol);
        // An absent symbol costs more than any present one could.
        return index < 0 ? 32 : EstimateIndexBits(static_cast<uint32_t>(index));
    }
    // The doublings of the entry's count needed to reach the total, from the
    // counts' highest bits rather than one doubling at a time.
    uint32_t EstimateIndexBits(uint32_t index) const {
        const uint32_t count = entries[index].count;
        if (count >= total) return 0;
        if (count == 0) return 32;
        uint32_t bits = static_cast<uint32_t>(__builtin_clz(count) - __builtin_clz(total));
        if ((count << bits) < total) ++bits;
        return bits;
    }

private:
    void Place(int32_t symbol, uint32_t index) {
        const uint32_t slot = static_cast<uint32_t>(symbol + 1);
        if (slot < kModelEntries) positions[slot] = static_cast<uint16_t>(index);
    }
    int32_t WalkForSymbol(int32_t symbol) const;
};

constexpr uint32_t kPoolModels = 2048;
constexpr uint32_t kContextLevels = 4;
constexpr uint32_t kHistorySize = 65536;
constexpr uint32_t kHistoryMask = kHistorySize - 1;
// Per byte value: a next-slot counter followed by 256 history positions.
constexpr uint32_t kPositionListWords = 257;

inline constexpr uint8_t kLevelShift[kContextLevels] = {1, 3, 4, 5};
inline constexpr uint16_t kGrowthHits[kContextLevels] = {1, 8, 16, 32};

// The byte `level` places back (0: the latest) in a word of the four latest
// bytes.
inline uint32_t RecentByte(uint32_t recent, uint32_t level) { return (recent >> (8 * level)) & 0xFF; }

// Sub-contexts a pool model can have children in: those of the first level
// below the root, the widest of the levels that have children.
constexpr uint32_t kChildSlots = 256u >> 3;

struct ContextTreeBlock {
    SymbolModel* pool;
    uint32_t models_used;
    SymbolModel root;
    SymbolModel* pool_index[kPoolModels];
    SymbolModel models[kPoolModels];
    // A copy of every model's sub-context children, dense: a descent, which
    // every byte waits for, then reads from a few cache lines, and finds a
    // row by a shift rather than by a multiplication. AddChild writes both.
    int16_t root_children[kSubContexts];
    int16_t children[kPoolModels][kChildSlots];

    void Reset();

    // The model selected by the four latest bytes and the number of levels
    // descended.
    SymbolModel* Descend(uint32_t recent, uint32_t* depth) {
        const int16_t* row = root_children;
        int32_t child = -1;
        uint32_t level = 0;
        // Unrolled, every shift is a constant.
#pragma GCC unroll 4
        for (; level < kContextLevels; ++level) {
            const int32_t next = row[RecentByte(recent, level) >> kLevelShift[level]];
            if (next < 0) break;
            child = next;
            row = children[child];
        }
        *depth = level;
        // pool_index never leaves the identity: index the pool directly.
        return child < 0 ? &root : models + child;
    }

    // After byte d was coded in q at the given depth; `recent` already ends
    // with d.
    void Grow(SymbolModel* q, uint32_t depth, uint32_t d, uint32_t recent) {
        // Inline up to the rare case: called for every coded byte.
        if (models_used >= kPoolModels || depth >= kContextLevels) return;
        SubContext& counter = q->sub_contexts[d >> kLevelShift[depth]];
        ++counter.hits;
        if (counter.hits >= kGrowthHits[depth]) AddChild(q, depth, recent);
    }
    // Gives the path of `recent` its first missing model, seeded from q.
    void AddChild(SymbolModel* q, uint32_t depth, uint32_t recent);
};

// The history ring with its per-byte position lists: what every byte of the
// context-tree code updates, coded or copied. Copy distances count
// occurrences in these lists; the decoder follows them, the encoder counts
// the same occurrences in its own search (copy_search.h). Small enough for a
// hot loop to hold a copy in locals.
struct ContextTreeHistory {
    uint8_t* bytes;
    uint32_t* position_lists;
    uint32_t position;

    void Append(uint32_t d) {
        uint32_t* list = position_lists + d * kPositionListWords;
        uint32_t slot = list[0] & 0xFF;
        list[1 + slot] = position;
        list[0] = (slot + 1) & 0xFF;
        AppendByte(d);
    }
    // Append without the position lists: the encoder finds its copies by
    // other means and never reads them.
    void AppendByte(uint32_t d) {
        bytes[position] = static_cast<uint8_t>(d);
        position = (position + 1) & kHistoryMask;
    }
    // The byte written last; 0 before the first.
    uint32_t LastByte() const { return bytes[(position - 1) & kHistoryMask]; }
    // The four latest bytes, the latest in the low 8 bits, as the context
    // tree reads them. The ring starts zero-filled, so before the fourth
    // byte the missing ones are 0 as they should be.
    uint32_t Recent() const {
        if (position >= 4) {
            uint32_t word;
            std::memcpy(&word, bytes + position - 4, 4);
            return __builtin_bswap32(word);
        }
        uint32_t recent = 0;
        for (uint32_t back = 4; back > 0; --back) recent = (recent << 8) | bytes[(position - back) & kHistoryMask];
        return recent;
    }
    // Where byte f occurred r times back (r = 1: its latest occurrence).
    uint32_t PositionOf(uint32_t f, uint32_t r) const {
        const uint32_t* list = position_lists + f * kPositionListWords;
        return list[1 + ((list[0] - r) & 0xFF)] & kHistoryMask;
    }
};

// Which of the three auxiliary models the context-tree code uses for what.
// The order-1 code borrows them for its own purposes.
enum : uint32_t { kCopyLengths = 0, kCopyDistances = 1, kRepeatLengths = 2 };

// Everything the context-tree coder and decoder must keep identical: the
// model tree, the history and the models of copy commands. Both sides start
// it with the one Prepare, so they cannot start from different states.
struct ContextTreeState {
    ContextTreeState() = default;
    ~ContextTreeState();
    ContextTreeState(const ContextTreeState&) = delete;
    ContextTreeState& operator=(const ContextTreeState&) = delete;

    // Allocates the tables on first use and puts everything in its initial
    // state. False when memory could not be had.
    bool Prepare();
    // Allocates the auxiliary models on first use and initialises them.
    bool PrepareAuxiliaryModels();

    ContextTreeBlock* tree = nullptr;
    // Its tables are owned here.
    ContextTreeHistory history = {};
    SymbolModel* auxiliary[3] = {};
};

constexpr uint32_t kOrder1Models = 257;

// Models of the order-1 coder: one per preceding byte, and model 256 after a
// value that needed the escape.
struct Order1ModelBlock {
    SymbolModel* index[kOrder1Models];
    SymbolModel models[kOrder1Models];

    void Reset() {
        for (uint32_t i = 0; i < kOrder1Models; ++i) {
            models[i].InitialiseModel();
            index[i] = &models[i];
        }
    }
};
