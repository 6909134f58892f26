#include "codec/symbol_model.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

TEST(SymbolModel, FreshModelIsUniform) {
    SymbolModel model;
    model.InitialiseModel();
    EXPECT_EQ(model.total, 257u);
    EXPECT_EQ(model.entry_count, 257u);
    EXPECT_EQ(model.entries[256].symbol, kEscapeSymbol);
    for (int32_t s = -1; s < 256; ++s) EXPECT_EQ(model.EstimateCodeBits(s), 9u) << s;
    for (const SubContext& sub : model.sub_contexts) {
        EXPECT_EQ(sub.hits, 0);
        EXPECT_EQ(sub.child, -1);
    }
}

TEST(SymbolModel, IncrementRotatesPastEqualCounts) {
    SymbolModel model;
    model.InitialiseModel();
    // Entry 3 jumps ahead of 0, 1, 2, which keep their order behind it.
    EXPECT_EQ(model.IncrementSymbol(3), 0u);
    EXPECT_EQ(model.entries[0].symbol, 3);
    EXPECT_EQ(model.entries[1].symbol, 0);
    EXPECT_EQ(model.entries[2].symbol, 1);
    EXPECT_EQ(model.entries[3].symbol, 2);
    EXPECT_EQ(model.entries[4].symbol, 4);
    // Now 5 (count 2 after this) ties with 3 and stays behind it.
    EXPECT_EQ(model.IncrementSymbol(5), 1u);
    EXPECT_EQ(model.entries[0].symbol, 3);
    EXPECT_EQ(model.entries[1].symbol, 5);
    EXPECT_EQ(model.entries[2].symbol, 0);
    EXPECT_EQ(model.total, 259u);
    for (uint32_t i = 1; i < model.entry_count; ++i) ASSERT_GE(model.entries[i - 1].count, model.entries[i].count);
}

TEST(SymbolModel, HalvesWhenTheTotalReachesTheLimit) {
    SymbolModel model;
    model.InitialiseModel();
    model.sub_contexts[9].hits = 7;
    for (int i = 0; i < 7934; ++i) model.IncrementSymbol(0);
    EXPECT_EQ(model.total, 8191u);
    EXPECT_EQ(model.entries[0].count, 7935);
    model.IncrementSymbol(0);
    EXPECT_EQ(model.entries[0].count, 3968);
    EXPECT_EQ(model.entries[1].count, 1) << "a count of 1 stays 1";
    EXPECT_EQ(model.total, 3968u + 256u);
    EXPECT_EQ(model.sub_contexts[9].hits, 3);
}

TEST(SymbolModel, AddSymbolAtTheLimitStillHalvesLater) {
    SymbolModel model;
    model.InitialiseModel();
    model.entry_count = 200;
    model.total = 8191;
    model.entries[0].count = static_cast<uint16_t>(8191 - 199);
    EXPECT_TRUE(model.AddSymbol(300));
    EXPECT_EQ(model.total, 8192u);
    model.IncrementSymbol(0);
    EXPECT_LT(model.total, 8192u) << "an increment past the limit halves";
}

TEST(SymbolModel, AddSymbolRefusesAFullModel) {
    SymbolModel model;
    model.InitialiseModel();
    EXPECT_FALSE(model.AddSymbol(7));
    EXPECT_EQ(model.entry_count, 257u);
    EXPECT_EQ(model.total, 257u);
}

TEST(SymbolModel, EstimateIsSmallestDoublingToReachTheTotal) {
    SymbolModel model;
    model.InitialiseModel();
    for (int i = 0; i < 255; ++i) model.IncrementSymbol(0);  // count 256, total 512
    EXPECT_EQ(model.EstimateCodeBits(0), 1u);
    EXPECT_EQ(model.EstimateCodeBits(1), 9u) << "1 << 9 reaches 512 exactly";
    model.IncrementSymbol(0);
    EXPECT_EQ(model.EstimateCodeBits(1), 10u);
    EXPECT_EQ(model.FindSymbol(1000), -1);
}

TEST(ContextTreeBlock, GrowthCopiesTheParentsFrequentSymbols) {
    auto block = std::make_unique<ContextTreeBlock>();
    block->Reset();
    SymbolModel& root = block->root;
    for (int i = 0; i < 40; ++i) root.IncrementSymbol(static_cast<uint32_t>(root.FindSymbol('a')));
    const uint32_t recent = 'a';
    block->Grow(&root, 0, 'a', recent);
    ASSERT_EQ(block->models_used, 1u);
    EXPECT_EQ(root.sub_contexts['a' >> 1].child, 0);
    const SymbolModel* child = block->pool_index[0];
    ASSERT_EQ(child->entry_count, 2u);
    EXPECT_EQ(child->entries[0].symbol, 'a');
    EXPECT_EQ(child->entries[0].count, 41 >> 4);
    EXPECT_EQ(child->entries[1].symbol, kEscapeSymbol);
    EXPECT_EQ(child->total, 41u / 16 + 1);
    uint32_t depth;
    EXPECT_EQ(block->Descend(recent, &depth), child);
    EXPECT_EQ(depth, 1u);

    // Deeper levels wait for more hits; a full pool grows no more.
    block->Grow(block->pool_index[0], 1, 'a', recent);
    EXPECT_EQ(block->models_used, 1u);
    block->models_used = kPoolModels;
    block->Grow(&root, 0, 'b', recent);
    EXPECT_EQ(block->models_used, kPoolModels);
}

// The group sums a decoder walks and the positions an encoder finds symbols
// by must follow every change of the counts: increments that pass long runs
// of equal counts, halvings and additions (of symbols with and without a
// position).
TEST(SymbolModel, GroupSumsAndPositionsFollowTheCounts) {
    SymbolModel model;
    model.InitialiseModel();
    model.entry_count = 40;
    model.total = 40;
    model.SumGroups();
    auto expect_sums = [&](int step) {
        uint32_t sums[kEntryGroups] = {};
        for (uint32_t i = 0; i < model.entry_count; ++i) sums[i >> kGroupShift] += model.entries[i].count;
        for (uint32_t g = 0; g < kEntryGroups; ++g) ASSERT_EQ(model.group_sums[g], sums[g]) << "step " << step;
        for (int32_t symbol = -1; symbol <= 256; ++symbol) {
            int32_t walked = -1;
            uint32_t sum = 0, walked_sum = 0;
            for (uint32_t i = 0; i < model.entry_count && walked < 0; ++i) {
                if (model.entries[i].symbol == symbol) {
                    walked = static_cast<int32_t>(i);
                    walked_sum = sum;
                }
                sum += model.entries[i].count;
            }
            uint32_t before = ~0u;
            ASSERT_EQ(model.FindSymbol(symbol, &before), walked) << "step " << step << " symbol " << symbol;
            if (walked >= 0) {
                ASSERT_EQ(before, walked_sum) << "step " << step << " symbol " << symbol;
            }
        }
    };
    uint32_t seed = 12345;
    for (int step = 0; step < 30000; ++step) {
        seed = seed * 1103515245u + 12345u;
        if (step % 100 == 0) {
            model.AddSymbol(static_cast<int32_t>(model.entry_count));
        } else {
            // Mostly the back, where entries pass many equal counts.
            uint32_t r = (seed >> 16) % model.entry_count;
            model.IncrementSymbol(step % 3 == 0 ? model.entry_count - 1 - r / 8 : r);
        }
        if (step % 97 == 0) expect_sums(step);
    }
    EXPECT_EQ(model.entry_count, 257u);
    expect_sums(-1);
}

// The coders divide by a model's total through a table of reciprocals; the
// quotient must be exact for every total and every dividend they form (below
// total * 65536). The error grows with the dividend and the total, so the
// last dividends below each multiple near the bound are where it would show.
TEST(SymbolModel, DivisionByTheTotalIsExact) {
    for (uint32_t total = 1; total <= kHalvingTotal; ++total) {
        const uint32_t bound = total * 65536;
        for (uint32_t x : {0u, 1u, total - 1, total, bound - total - 1, bound - total, bound - 2, bound - 1}) {
            if (x >= bound) continue;
            ASSERT_EQ(DivideByTotal(x, total), x / total) << x << " / " << total;
        }
    }
}
