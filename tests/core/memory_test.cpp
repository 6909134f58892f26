#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/hvb.h"
#include "core/memory.h"

namespace {

// Runs with SSE enabled as far as the processor allows, and restores the
// detected flags afterwards.
class Memory : public testing::Test {
protected:
    void SetUp() override { saved_ = zmrGetEnabledProcessorType(); }
    void TearDown() override {
        zmrDisableProcessorType(0xFFFFFFFFu);
        zmrEnableProcessorType(saved_);
    }
    uint32_t saved_ = 0;
};

}  // namespace

TEST_F(Memory, FillMatchesThePlainPathAtEveryAlignment) {
    std::vector<unsigned char> a(1200), b(1200);
    for (bool sse : {false, true}) {
        if (sse) zmrEnableProcessorType(ZMR_PROCESSOR_SSE);
        else zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
        if (sse && !(saved_ & ZMR_PROCESSOR_SSE)) continue;
        for (uint32_t offset = 0; offset < 17; ++offset) {
            for (uint32_t count : {0u, 1u, 7u, 8u, 127u, 128u, 129u, 300u, 1024u}) {
                std::memset(a.data(), 0x11, a.size());
                std::memset(b.data(), 0x11, b.size());
                MemoryFill(a.data() + offset, 0xE7, count);
                MemoryFillPlain(b.data() + offset, 0xE7, count);
                ASSERT_EQ(a, b) << "offset " << offset << " count " << count << " sse " << sse;
                for (uint32_t i = 0; i < a.size(); ++i) {
                    const bool inside = i >= offset && i < offset + count;
                    ASSERT_EQ(a[i], inside ? 0xE7 : 0x11) << i;
                }
            }
        }
    }
}

TEST_F(Memory, MoveHandlesOverlapInBothDirections) {
    std::mt19937 rng(7);
    std::vector<unsigned char> pattern(4096);
    for (auto& c : pattern) c = static_cast<unsigned char>(rng());
    for (bool sse : {false, true}) {
        if (sse && !(saved_ & ZMR_PROCESSOR_SSE)) continue;
        if (sse) zmrEnableProcessorType(ZMR_PROCESSOR_SSE);
        else zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
        for (int trial = 0; trial < 3000; ++trial) {
            const uint32_t count = trial % 5 == 0 ? rng() % 2000 : rng() % 200;
            const uint32_t src = rng() % (pattern.size() - count);
            const uint32_t dst = rng() % (pattern.size() - count);
            std::vector<unsigned char> got = pattern, plain = pattern, want = pattern;
            MemoryMove(got.data() + dst, got.data() + src, count);
            MemoryMovePlain(plain.data() + dst, plain.data() + src, count);
            std::memmove(want.data() + dst, want.data() + src, count);
            ASSERT_EQ(got, want) << "src " << src << " dst " << dst << " count " << count << " sse " << sse;
            ASSERT_EQ(plain, want);
        }
    }
}

TEST_F(Memory, DisablingSseStillGivesCorrectResults) {
    zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
    EXPECT_EQ(zmrGetEnabledProcessorType() & ZMR_PROCESSOR_SSE, 0u);
    std::vector<unsigned char> buffer(4096, 1);
    MemoryFill(buffer.data() + 3, 9, 4000);
    EXPECT_EQ(buffer[2], 1);
    EXPECT_EQ(buffer[3], 9);
    EXPECT_EQ(buffer[4002], 9);
    EXPECT_EQ(buffer[4003], 1);
}
