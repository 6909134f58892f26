// Adaptive frequency tables shared by the arithmetic coders, and the context
// tree of models selected by up to four preceding bytes.
#pragma once

#include <cstdint>

constexpr uint32_t kModelEntries = 257;
constexpr uint32_t kSubContexts = 128;
constexpr uint32_t kHalvingTotal = 8192;
constexpr int32_t kEscapeSymbol = -1;

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
struct SymbolModel {
    uint32_t total;
    uint32_t entry_count;
    SymbolEntry entries[kModelEntries];
    SubContext sub_contexts[kSubContexts];

    void InitialiseModel();
    // Returns the entry's new index.
    uint32_t IncrementSymbol(uint32_t index);
    void HalveCounts();
    // False when the model is full; only a damaged stream asks for that.
    bool AddSymbol(int32_t symbol);
    int32_t FindSymbol(int32_t symbol) const;
    uint32_t EstimateCodeBits(int32_t symbol) const;
    uint32_t EstimateIndexBits(uint32_t index) const;
};

constexpr uint32_t kPoolModels = 2048;
constexpr uint32_t kContextLevels = 4;
constexpr uint32_t kHistorySize = 65536;
constexpr uint32_t kHistoryMask = kHistorySize - 1;
// Per byte value: a next-slot counter followed by 256 history positions.
constexpr uint32_t kPositionListWords = 257;

inline constexpr uint8_t kLevelShift[kContextLevels] = {1, 3, 4, 5};
inline constexpr uint16_t kGrowthHits[kContextLevels] = {1, 8, 16, 32};

struct ContextTreeBlock {
    SymbolModel* pool;
    uint32_t models_used;
    SymbolModel root;
    SymbolModel* pool_index[kPoolModels];
    SymbolModel models[kPoolModels];

    void Reset();

    // The model selected by the ring of recent bytes (ring[(index - 1) & 3]
    // is the latest) and the number of levels descended.
    SymbolModel* Descend(const uint8_t* ring, uint32_t ring_index, uint32_t* depth) {
        SymbolModel* q = &root;
        uint32_t level = 0;
        for (; level < kContextLevels; ++level) {
            uint32_t b = ring[(ring_index - 1 - level) & 3];
            int32_t child = q->sub_contexts[b >> kLevelShift[level]].child;
            if (child < 0) break;
            q = pool_index[child];
        }
        *depth = level;
        return q;
    }

    // After byte d (already in the ring) was coded in q at the given depth.
    void Grow(SymbolModel* q, uint32_t depth, uint32_t d, const uint8_t* ring, uint32_t ring_index);
};

// The history ring and its per-byte position lists, kept identically by the
// coder and the decoder so that copy distances mean the same on both sides.
inline void RecordHistoryByte(uint8_t* history, uint32_t* position_lists, uint32_t* history_position, uint32_t d) {
    uint32_t* list = position_lists + d * kPositionListWords;
    uint32_t slot = list[0] & 0xFF;
    list[1 + slot] = *history_position;
    list[0] = (slot + 1) & 0xFF;
    history[*history_position] = static_cast<uint8_t>(d);
    *history_position = (*history_position + 1) & kHistoryMask;
}

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
