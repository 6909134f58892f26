#include "codec/symbol_model.h"

#include <array>
#include <cstring>
#include <new>

namespace {

constexpr std::array<uint64_t, kHalvingTotal + 1> MakeReciprocals() {
    std::array<uint64_t, kHalvingTotal + 1> values{};
    for (uint32_t d = 1; d <= kHalvingTotal; ++d) values[d] = ((uint64_t{1} << kReciprocalShift) + d - 1) / d;
    return values;
}

}  // namespace

// Made at compile time; entry 0 is never read.
constexpr std::array<uint64_t, kHalvingTotal + 1> kTotalReciprocals = MakeReciprocals();

void SymbolModel::InitialiseModel() {
    total = kModelEntries;
    entry_count = kModelEntries;
    for (uint32_t i = 0; i < 256; ++i) entries[i] = SymbolEntry{1, static_cast<int16_t>(i)};
    entries[256] = SymbolEntry{1, kEscapeSymbol};
    for (SubContext& sub : sub_contexts) sub = SubContext{0, -1};
    SumGroups();
}

void SymbolModel::SumGroups() {
    for (uint16_t& sum : group_sums) sum = 0;
    for (uint32_t i = 0; i < entry_count; ++i) {
        group_sums[i >> kGroupShift] += entries[i].count;
        Place(entries[i].symbol, i);
    }
}

void SymbolModel::HalveCounts() {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < entry_count; ++i) {
        entries[i].count = static_cast<uint16_t>((entries[i].count + 1) >> 1);
        sum += entries[i].count;
    }
    total = sum;
    SumGroups();
    for (SubContext& sub : sub_contexts) sub.hits >>= 1;
}

bool SymbolModel::AddSymbol(int32_t symbol) {
    if (entry_count >= kModelEntries) return false;
    ++group_sums[entry_count >> kGroupShift];
    Place(symbol, entry_count);
    entries[entry_count++] = SymbolEntry{1, static_cast<int16_t>(symbol)};
    ++total;
    return true;
}

int32_t SymbolModel::WalkForSymbol(int32_t symbol) const {
    for (uint32_t i = 0; i < entry_count; ++i) {
        if (entries[i].symbol == symbol) return static_cast<int32_t>(i);
    }
    return -1;
}

void ContextTreeBlock::Reset() {
    models_used = 0;
    pool = models;
    root.InitialiseModel();
    std::memset(root_children, 0xFF, sizeof root_children);
    for (uint32_t i = 0; i < kPoolModels; ++i) pool_index[i] = &models[i];
}

void ContextTreeBlock::AddChild(SymbolModel* q, uint32_t depth, uint32_t recent) {
    SymbolModel* node = &root;
    int16_t* row = root_children;
    for (uint32_t level = 0; level <= depth; ++level) {
        const uint32_t slot = RecentByte(recent, level) >> kLevelShift[level];
        SubContext& sub = node->sub_contexts[slot];
        if (sub.child >= 0) {
            node = models + sub.child;
            row = children[sub.child];
            continue;
        }
        uint32_t n = models_used++;
        sub.child = static_cast<int16_t>(n);
        row[slot] = static_cast<int16_t>(n);
        std::memset(children[n], 0xFF, sizeof children[n]);
        SymbolModel* child = models + n;
        uint32_t count = 0, sum = 0;
        for (uint32_t i = 0; i < q->entry_count; ++i) {
            const SymbolEntry& e = q->entries[i];
            if (e.symbol == kEscapeSymbol || (e.count >> 4) == 0) continue;
            child->entries[count++] = SymbolEntry{static_cast<uint16_t>(e.count >> 4), e.symbol};
            sum += e.count >> 4;
        }
        child->entries[count++] = SymbolEntry{1, kEscapeSymbol};
        child->total = sum + 1;
        child->entry_count = count;
        // Absent symbols point past the entries, so that no lookup reads a
        // position nothing wrote.
        std::memset(child->positions, 0xFF, sizeof child->positions);
        child->SumGroups();
        for (SubContext& s : child->sub_contexts) s = SubContext{0, -1};
        return;
    }
}

ContextTreeState::~ContextTreeState() {
    delete tree;
    delete[] history.bytes;
    delete[] history.position_lists;
    for (SymbolModel* model : auxiliary) delete model;
}

bool ContextTreeState::PrepareAuxiliaryModels() {
    for (SymbolModel*& model : auxiliary) {
        if (model == nullptr) model = new (std::nothrow) SymbolModel;
        if (model == nullptr) return false;
        model->InitialiseModel();
    }
    return true;
}

bool ContextTreeState::Prepare() {
    if (tree == nullptr) tree = new (std::nothrow) ContextTreeBlock;
    if (history.bytes == nullptr) history.bytes = new (std::nothrow) uint8_t[kHistorySize];
    if (history.position_lists == nullptr) {
        history.position_lists = new (std::nothrow) uint32_t[256 * kPositionListWords];
    }
    if (tree == nullptr || history.bytes == nullptr || history.position_lists == nullptr || !PrepareAuxiliaryModels()) {
        return false;
    }
    tree->Reset();
    std::memset(history.bytes, 0, kHistorySize);
    std::memset(history.position_lists, 0, 256 * kPositionListWords * sizeof(uint32_t));
    history.position = 0;
    return true;
}
