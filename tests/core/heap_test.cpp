#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include <cinttypes>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if UINTPTR_MAX > 0xFFFFFFFFu
#include <sys/resource.h>
#endif

#include "core/heap_layout.h"
#include "core/hvb.h"
#include "platform/platform.h"
#include "support/heap_walk.h"

using hvb_heap::kHeader;
using hvb_heap::kSegmentHeader;

namespace {

// A request's data size: a multiple of the header, at least one header.
uint32_t Rounded(uint32_t size) { return size == 0 ? kHeader : (size + kHeader - 1) / kHeader * kHeader; }

// A byte of a block's rounding past its request, which the sanitizer builds
// keep poisoned.
HVB_HEAP_INTERNAL unsigned char SlackByte(const unsigned char* p) { return *static_cast<const volatile unsigned char*>(p); }

class Heap : public testing::Test {
protected:
    void SetUp() override { heap_ = hvbHeapCreate(0, 0, 0); }
    void TearDown() override {
        EXPECT_EQ(CheckHeap(heap_), "");
        hvbHeapDestroy(heap_);
    }
    uintptr_t Address(void* p) { return reinterpret_cast<uintptr_t>(p); }
    HVBHeap heap_ = nullptr;
};

struct Captured {
    std::vector<std::string> lines;
    static void Sink(const char* text, void* context) { static_cast<Captured*>(context)->lines.push_back(text); }
};

}  // namespace

TEST_F(Heap, FreshHeapCarvesFromTheEnd) {
    ASSERT_NE(heap_, nullptr);
    auto* seg = static_cast<hvb_heap::Segment*>(heap_);
    EXPECT_EQ(seg->size, 0x10000u);
    EXPECT_EQ(seg->growth, 0x10000u);
    EXPECT_EQ(seg->free_bytes, 0x10000u - kSegmentHeader);

    void* a = hvbHeapAllocate(heap_, 8, 0);
    void* b = hvbHeapAllocate(heap_, 8, 0);
    EXPECT_EQ(Address(a) % kHeader, 0u);
    EXPECT_EQ(Address(a) - Address(b), 2 * kHeader) << "the second block lies one block below the first";
    EXPECT_EQ(Address(a) + kHeader, Address(heap_) + 0x10000) << "the first block ends the segment";
    EXPECT_EQ(seg->free_bytes, 0x10000u - kSegmentHeader - 4 * kHeader);
    EXPECT_EQ(CheckHeap(heap_), "");
}

TEST_F(Heap, SizesRoundToTheHeader) {
    void* zero = hvbHeapAllocate(heap_, 0, 0);
    void* other = hvbHeapAllocate(heap_, 0, 0);
    EXPECT_NE(zero, other);
    EXPECT_EQ(hvbHeapGetLength(heap_, zero), static_cast<int32_t>(kHeader));
    EXPECT_EQ(hvbHeapGetLength(heap_, hvbHeapAllocate(heap_, 1, 0)), static_cast<int32_t>(kHeader));
    EXPECT_EQ(hvbHeapGetLength(heap_, hvbHeapAllocate(heap_, 9, 0)), 16);
    EXPECT_EQ(hvbHeapGetLength(heap_, hvbHeapAllocate(heap_, 100, 0)), sizeof(void*) == 4 ? 104 : 112);
}

TEST_F(Heap, ZeroFlagFillsFromEitherSide) {
    auto* dirty = static_cast<unsigned char*>(hvbHeapAllocate(heap_, 256, 0));
    std::memset(dirty, 0xAB, 256);
    hvbHeapFree(heap_, dirty, 0);
    auto* clean = static_cast<unsigned char*>(hvbHeapAllocate(heap_, 256, HVB_HEAP_ZERO_MEMORY));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(clean[i], 0) << i;

    HVBHeap zeroing = hvbHeapCreate(0, 0, HVB_HEAP_ZERO_MEMORY);
    auto* p = static_cast<unsigned char*>(hvbHeapAllocate(zeroing, 64, 0));
    std::memset(p, 0xCD, 64);
    p = static_cast<unsigned char*>(hvbHeapReallocate(zeroing, p, 40, 0));
    for (int i = 40; i < hvbHeapGetLength(zeroing, p); ++i) EXPECT_EQ(SlackByte(p + i), 0) << i;
    EXPECT_EQ(CheckHeap(zeroing), "");
    hvbHeapDestroy(zeroing);
}

TEST_F(Heap, FreeMergesNeighboursAndCountsTheInnerHeader) {
    auto* seg = static_cast<hvb_heap::Segment*>(heap_);
    void* keep = hvbHeapAllocate(heap_, 64, 0);
    void* a = hvbHeapAllocate(heap_, 64, 0);
    void* b = hvbHeapAllocate(heap_, 64, 0);
    void* fence = hvbHeapAllocate(heap_, 64, 0);
    const uint32_t before = seg->free_bytes;
    hvbHeapFree(heap_, a, 0);
    hvbHeapFree(heap_, b, 0);
    EXPECT_EQ(seg->free_bytes, before + 64 + 64 + kHeader);
    HeapCensus census;
    ASSERT_EQ(CheckHeap(heap_, &census), "");
    EXPECT_EQ(census.free_blocks, 1);
    hvbHeapFree(heap_, keep, 0);
    hvbHeapFree(heap_, fence, 0);
    EXPECT_EQ(seg->free_bytes, 0x10000u - kSegmentHeader) << "everything merged back into the anchor";
}

TEST_F(Heap, InvalidAddressesChangeNothing) {
    auto* seg = static_cast<hvb_heap::Segment*>(heap_);
    void* p = hvbHeapAllocate(heap_, 32, 0);
    void* q = hvbHeapAllocate(heap_, 32, 0);
    const uint32_t before = seg->free_bytes;
    int local = 0;
    hvbHeapFree(heap_, nullptr, 0);
    hvbHeapFree(heap_, static_cast<char*>(p) + 4, 0);
    hvbHeapFree(heap_, static_cast<char*>(p) + kHeader, 0);
    hvbHeapFree(heap_, &local, 0);
    hvbHeapFree(heap_, reinterpret_cast<void*>(0x1000), 0);
    EXPECT_EQ(seg->free_bytes, before);
    EXPECT_EQ(CheckHeap(heap_), "");

    hvbHeapFree(heap_, q, 0);
    const uint32_t after_one = seg->free_bytes;
    hvbHeapFree(heap_, q, 0);
    EXPECT_EQ(seg->free_bytes, after_one) << "a second free of the same block";
    hvbHeapFree(heap_, p, 0);
    const uint32_t after_merge = seg->free_bytes;
    hvbHeapFree(heap_, p, 0);
    hvbHeapFree(heap_, q, 0);
    EXPECT_EQ(seg->free_bytes, after_merge) << "frees of blocks that merged into a neighbour";

    EXPECT_EQ(hvbHeapReallocate(heap_, static_cast<char*>(p) + 4, 64, 0), nullptr);
    EXPECT_EQ(hvbHeapReallocate(heap_, p, 64, 0), nullptr);
    EXPECT_EQ(hvbHeapReallocate(heap_, &local, 64, 0), nullptr);
    EXPECT_EQ(hvbHeapGetLength(heap_, nullptr), -1);
    EXPECT_EQ(hvbHeapGetLength(heap_, static_cast<char*>(p) + 4), -1);
    EXPECT_EQ(hvbHeapGetLength(heap_, &seg->anchor + 1), -1) << "the anchor is never a live block";
    EXPECT_EQ(seg->free_bytes, after_merge);
}

TEST_F(Heap, LargeRequestsGetASegmentReleasedOnFree) {
    HeapCensus census;
    void* small = hvbHeapAllocate(heap_, 32768 - kHeader, 0);
    ASSERT_EQ(CheckHeap(heap_, &census), "");
    EXPECT_EQ(census.large_segments, 0) << "just below half the growth";
    void* big = hvbHeapAllocate(heap_, 32768, 0);
    ASSERT_EQ(CheckHeap(heap_, &census), "");
    EXPECT_EQ(census.large_segments, 1);
    EXPECT_EQ(Address(big) % 16, 0u);
    EXPECT_GE(hvbHeapGetLength(heap_, big), 32768);
    auto* seg = static_cast<hvb_heap::Segment*>(heap_);
    EXPECT_EQ(seg->last, seg->next);
    std::memset(big, 0x5A, 32768);
    hvbHeapFree(heap_, big, 0);
    ASSERT_EQ(CheckHeap(heap_, &census), "");
    EXPECT_EQ(census.segments, 1) << "the large-block segment went back to the system at once";
    EXPECT_EQ(seg->last, nullptr);
    hvbHeapFree(heap_, small, 0);
}

TEST_F(Heap, OrdinarySegmentsComeAndGo) {
    std::vector<void*> blocks;
    for (int i = 0; i < 40; ++i) blocks.push_back(hvbHeapAllocate(heap_, 4000, 0));
    HeapCensus census;
    ASSERT_EQ(CheckHeap(heap_, &census), "");
    EXPECT_GE(census.segments, 3);
    for (void* p : blocks) {
        hvbHeapFree(heap_, p, 0);
        ASSERT_EQ(CheckHeap(heap_, &census), "");
    }
    EXPECT_LE(census.segments, 2) << "at most one empty ordinary segment is kept";
    EXPECT_LE(census.empty_ordinary_segments, 1);
}

TEST_F(Heap, Reallocate) {
    void* fresh = hvbHeapReallocate(heap_, nullptr, 24, 0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(hvbHeapGetLength(heap_, fresh), static_cast<int32_t>(Rounded(24)));

    // Shrinking beside an allocated neighbour keeps the length.
    void* a = hvbHeapAllocate(heap_, 64, 0);
    void* b = hvbHeapAllocate(heap_, 64, 0);
    EXPECT_EQ(hvbHeapReallocate(heap_, b, 16, 0), b);
    EXPECT_EQ(hvbHeapGetLength(heap_, b), 64);
    EXPECT_EQ(hvbHeapReallocate(heap_, b, 64, 0), b) << "equal sizes change nothing";

    // Shrinking beside a free neighbour gives the bytes to it; growing takes
    // them back in place. Blocks are carved downwards, so `above` follows p.
    void* above = hvbHeapAllocate(heap_, 512, 0);
    auto* p = static_cast<unsigned char*>(hvbHeapAllocate(heap_, 256, 0));
    void* guard = hvbHeapAllocate(heap_, 8, 0);
    (void)guard;
    for (int i = 0; i < 256; ++i) p[i] = static_cast<unsigned char>(i);
    hvbHeapFree(heap_, above, 0);
    void* r = hvbHeapReallocate(heap_, p, 100, 0);
    EXPECT_EQ(r, p);
    EXPECT_EQ(hvbHeapGetLength(heap_, p), static_cast<int32_t>(Rounded(100)));
    ASSERT_EQ(CheckHeap(heap_), "");
    r = hvbHeapReallocate(heap_, p, 200, 0);
    EXPECT_EQ(r, p) << "grows into the free neighbour";
    EXPECT_GE(hvbHeapGetLength(heap_, p), 200);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], i);
    ASSERT_EQ(CheckHeap(heap_), "");

    // Growing past what the neighbour holds moves the data.
    r = hvbHeapReallocate(heap_, p, 4000, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, p);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<unsigned char*>(r)[i], i);
    EXPECT_EQ(hvbHeapGetLength(heap_, p), -1);
    hvbHeapFree(heap_, a, 0);
}

TEST_F(Heap, AbsurdSizesFailCleanly) {
    EXPECT_EQ(hvbHeapAllocate(heap_, 0xFFFFFFFFu, 0), nullptr);
    EXPECT_EQ(hvbHeapAllocate(heap_, 0x10000000u, 0), nullptr);
    void* p = hvbHeapAllocate(heap_, 16, 0);
    EXPECT_EQ(hvbHeapReallocate(heap_, p, 0xFFFFFFFFu, 0), nullptr);
    EXPECT_EQ(hvbHeapGetLength(heap_, p), 16) << "a refused reallocation leaves the block alone";
}

TEST_F(Heap, DumpListsLiveBlocksUpToTheMaximum) {
    std::vector<void*> blocks;
    for (int i = 0; i < 150; ++i) {
        auto* p = static_cast<unsigned char*>(hvbHeapAllocate(heap_, 24, 0));
        for (int k = 0; k < 24; ++k) p[k] = static_cast<unsigned char>(k + i);
        blocks.push_back(p);
    }
    Captured out;
    plat::SetDebugOutputSink(&Captured::Sink, &out);
    hvbHeapDump(heap_, 100);
    plat::SetDebugOutputSink(nullptr, nullptr);
    ASSERT_EQ(out.lines.size(), 101u);
    EXPECT_EQ(out.lines[0], "HVB の解放されていないメモリブロックがあります\n");
    // Blocks are listed in address order: the last one allocated comes first.
    char expected[128];
    auto* last = static_cast<unsigned char*>(blocks.back());
    int n = std::snprintf(expected, sizeof expected, "block %08" PRIXPTR "H (%u bytes) :", Address(last), Rounded(24));
    for (int k = 0; k < 16; ++k) n += std::snprintf(expected + n, sizeof expected - n, " %02X", last[k]);
    std::snprintf(expected + n, sizeof expected - n, "\n");
    EXPECT_EQ(out.lines[1], expected);

    // A block at the very end of its segment shows only the bytes it has.
    HVBHeap tiny = hvbHeapCreate(0, 0, 0);
    auto* edge = static_cast<unsigned char*>(hvbHeapAllocate(tiny, kHeader, 0));
    std::memset(edge, 0x3C, kHeader);
    Captured end;
    plat::SetDebugOutputSink(&Captured::Sink, &end);
    hvbHeapDump(tiny, 100);
    plat::SetDebugOutputSink(nullptr, nullptr);
    ASSERT_EQ(end.lines.size(), 2u);
    n = std::snprintf(expected, sizeof expected, "block %08" PRIXPTR "H (%u bytes) :", Address(edge), kHeader);
    for (uint32_t k = 0; k < kHeader; ++k) n += std::snprintf(expected + n, sizeof expected - n, " 3C");
    std::snprintf(expected + n, sizeof expected - n, "\n");
    EXPECT_EQ(end.lines[1], expected);
    hvbHeapDestroy(tiny);

    Captured none;
    HVBHeap empty = hvbHeapCreate(0, 0, 0);
    plat::SetDebugOutputSink(&Captured::Sink, &none);
    hvbHeapDump(empty, 100);
    plat::SetDebugOutputSink(nullptr, nullptr);
    EXPECT_TRUE(none.lines.empty()) << "no header without live blocks";
    hvbHeapDestroy(empty);
}

namespace {

#if UINTPTR_MAX > 0xFFFFFFFFu
// Caps the process's address space at what it maps now and 64 MiB more.
class AddressSpaceCap {
public:
    AddressSpaceCap() {
        getrlimit(RLIMIT_AS, &saved_);
        rlimit cap = saved_;
        cap.rlim_cur = MappedBytes() + (64u << 20);
        setrlimit(RLIMIT_AS, &cap);
    }
    ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &saved_); }

private:
    static rlim_t MappedBytes() {
        rlim_t total = 0;
        std::FILE* maps = std::fopen("/proc/self/maps", "r");
        unsigned long long begin, end;
        char line[512];
        while (maps != nullptr && std::fgets(line, sizeof line, maps) != nullptr) {
            if (std::sscanf(line, "%llx-%llx", &begin, &end) == 2) total += end - begin;
        }
        if (maps != nullptr) std::fclose(maps);
        return total;
    }
    rlimit saved_;
};
#else
struct AddressSpaceCap {
    AddressSpaceCap() {}
};
#endif

}  // namespace

TEST(HeapRetry, ExhaustedMemoryAsksUntilTheUserGivesUp) {
    struct Script {
        std::vector<plat::Answer> answers;
        int asked = 0;
        std::string text, caption;
        static plat::Answer Ask(const char* text, const char* caption, void* context) {
            auto* s = static_cast<Script*>(context);
            s->text = text;
            s->caption = caption;
            return s->answers[s->asked++];
        }
    };
    // Pages in pieces of the largest segment a heap may have, until the
    // address space holds no more: the next segment of that size must fail.
    // A 64-bit address space never runs out that way; there the address
    // space allowed to the process is capped a little above what it uses.
    std::vector<void*> hogs;
    hogs.reserve(64);
    AddressSpaceCap cap;
    while (hogs.size() < 64) {
        void* hog = plat::PageAllocate(0x10000000u);
        if (hog == nullptr) break;
        hogs.push_back(hog);
    }
    ASSERT_LT(hogs.size(), 64u);
    for (plat::Answer last : {plat::Answer::Cancel, plat::Answer::No}) {
        Script script;
        script.text.reserve(256);
        script.caption.reserve(64);
        script.answers = {plat::Answer::Yes, plat::Answer::Yes, last};
        plat::SetPromptHandler(&Script::Ask, &script);
        HVBHeap heap = hvbHeapCreate(0x10000000u, 0, 0);
        plat::SetPromptHandler(nullptr, nullptr);
        EXPECT_EQ(heap, nullptr);
        EXPECT_EQ(script.asked, 3) << "Yes retries, the third answer ends it";
        EXPECT_EQ(script.caption, "◆ HVB メモリアロケーション ◆");
        EXPECT_EQ(script.text,
                  "メモリ確保に失敗しました。\n他のアプリケーションで使用しているメモリを解放してください。\n"
                  "メモリ確保を再実行しますか？");
    }
    for (void* hog : hogs) plat::PageRelease(hog, 0x10000000u);
}

// Sizes a block header cannot describe are refused up front; before, they
// were recorded into the flag bits, or a growth that rounded to no pages at
// all made every growth a new, useless segment.
TEST(HeapSizes, UnrepresentableSegmentSizesAreRefused) {
    struct Case {
        uint32_t initial, growth;
        bool accepted;
    } cases[] = {
        {0x10000000u, 0, true},        {0x10000001u, 0, false}, {0xFFFFF001u, 0, false},
        {0, 0x10000000u, true},        {0, 0x10000001u, false}, {0, 0xFFFFFFFFu, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.initial << " " << c.growth);
        HVBHeap heap = hvbHeapCreate(c.initial, c.growth, 0);
        EXPECT_EQ(heap != nullptr, c.accepted);
        if (heap == nullptr) continue;
        void* p = hvbHeapAllocate(heap, 100, 0);
        EXPECT_NE(p, nullptr);
        EXPECT_EQ(CheckHeap(heap), "");
        hvbHeapDestroy(heap);
    }
}

TEST(StackHeap, HandsOutSixteenByteStepsAndResetsAtOnce) {
    HVBStackHeap stack = hvbStackHeapCreate(0, 0, 0);
    ASSERT_NE(stack, nullptr);
    auto* first = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 1));
    auto* second = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 1));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 16, 0u);
    EXPECT_EQ(second - first, 16);
    EXPECT_EQ(first, static_cast<unsigned char*>(stack) + sizeof(hvb_heap::StackBlock));
    // Growth: requests beyond the first block go to new blocks.
    for (int i = 0; i < 10; ++i) {
        auto* big = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 40000));
        ASSERT_NE(big, nullptr);
        std::memset(big, i, 40000);
    }
    auto* huge = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 300000));
    ASSERT_NE(huge, nullptr);
    std::memset(huge, 1, 300000);
    hvbStackHeapFree(stack);
    EXPECT_EQ(hvbStackHeapAllocate(stack, 5), first);
    EXPECT_NE(hvbStackHeapDestroy(stack), 0);
    EXPECT_EQ(hvbStackHeapDestroy(nullptr), 0);
    EXPECT_EQ(hvbStackHeapAllocate(nullptr, 16), nullptr);
}

TEST(StackHeap, RequestsNearFourGigabytesFailWithoutWrapping) {
    HVBStackHeap stack = hvbStackHeapCreate(0, 0, 0);
    auto* before = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 0x3000));
    ASSERT_NE(before, nullptr);
    // used + size would wrap to a small number and "fit". A 32-bit address
    // space has no room for the block it needs; a 64-bit one gives it one.
    auto* near = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 0xFFFFDFF0u));
    auto* after = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, 16));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(near, nullptr);
    }
    EXPECT_EQ(after, near == nullptr ? before + 0x3000 : near + 0xFFFFDFF0u);
    hvbStackHeapDestroy(stack);

    // A growth size that rounds past 4 GiB: refused, not an endless chain of
    // default-sized blocks too small for the request.
    stack = hvbStackHeapCreate(0, 0xFFFFFFFFu, 0);
    ASSERT_NE(stack, nullptr);
    EXPECT_NE(hvbStackHeapAllocate(stack, 100), nullptr);
    EXPECT_EQ(hvbStackHeapAllocate(stack, 0x20000), nullptr);
    hvbStackHeapDestroy(stack);
}

// A request just under a page multiple at or above the growth size: the new
// block holds the header and the request, whatever the header's size here.
TEST(StackHeap, ARequestNearTheGrowthSizeTakesOneNewBlock) {
    // A block too small for the request would be chained again and again
    // until memory runs out: the address space is capped meanwhile.
    AddressSpaceCap cap;
    for (const uint32_t size : {65489u, 65504u, 2 * 65536u - 47, 2 * 65536u - 32}) {
        HVBStackHeap stack = hvbStackHeapCreate(0, 0, 0);
        ASSERT_NE(stack, nullptr);
        ASSERT_NE(hvbStackHeapAllocate(stack, 16), nullptr);
        auto* p = static_cast<unsigned char*>(hvbStackHeapAllocate(stack, size));
        ASSERT_NE(p, nullptr) << size;
        std::memset(p, 0xA5, size);
        const auto* first = static_cast<hvb_heap::StackBlock*>(stack);
        ASSERT_NE(first->next, nullptr) << size;
        EXPECT_EQ(first->next->next, nullptr) << size << ": blocks chained for one request";
        hvbStackHeapDestroy(stack);
    }
}

TEST(GlobalHeap, NullHandleMeansTheGlobalHeap) {
    void* p = hvbHeapAllocate(nullptr, 40, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(CheckHeap(hvbGetGlobalHeap()), "");
    EXPECT_EQ(hvbHeapGetLength(nullptr, p), static_cast<int32_t>(Rounded(40)));
    hvbHeapLock(nullptr);
    hvbHeapLock(nullptr);
    hvbHeapUnlock(nullptr);
    hvbHeapUnlock(nullptr);
    hvbHeapFree(nullptr, p, 0);
    auto* object = new std::string(300, 'x');
    EXPECT_GE(hvbHeapGetLength(nullptr, object), static_cast<int32_t>(sizeof(std::string)));
    delete object;
}

// A free finds its block's segment among hundreds (more than one table page
// of them), and an address of another heap's segment, or just past a
// segment, is no block of this heap.
TEST(HeapSegments, FreesFindTheirSegmentAmongMany) {
    HVBHeap heaps[2] = {hvbHeapCreate(0, 0, 0), hvbHeapCreate(0, 0, 0)};
    std::vector<void*> blocks[2];
    for (int i = 0; i < 800; ++i) {
        for (int h = 0; h < 2; ++h) blocks[h].push_back(hvbHeapAllocate(heaps[h], i % 4 == 0 ? 20000 : 40000, 0));
    }
    HeapCensus census[2];
    for (int h = 0; h < 2; ++h) {
        ASSERT_EQ(CheckHeap(heaps[h], &census[h]), "");
        ASSERT_GT(census[h].segments, 600);
    }
    for (void* p : blocks[1]) {
        auto* seg = static_cast<hvb_heap::Segment*>(heaps[1]);
        for (; seg != nullptr && !seg->Contains(p); seg = seg->next) {}
        ASSERT_NE(seg, nullptr);
        void* past = reinterpret_cast<unsigned char*>(seg) + seg->size + kHeader;
        for (void* wrong : {p, past}) {
            hvbHeapFree(heaps[0], wrong, 0);
            EXPECT_EQ(hvbHeapReallocate(heaps[0], wrong, 8, 0), nullptr);
        }
    }
    HeapCensus after;
    ASSERT_EQ(CheckHeap(heaps[0], &after), "");
    EXPECT_EQ(after.live_blocks, census[0].live_blocks) << "another heap's blocks are not this heap's";
    std::mt19937 rng(33);
    for (int h = 0; h < 2; ++h) {
        std::shuffle(blocks[h].begin(), blocks[h].end(), rng);
        for (size_t i = 0; i < blocks[h].size(); ++i) {
            if (i % 2 == 0) blocks[h][i] = hvbHeapReallocate(heaps[h], blocks[h][i], 100, 0);
            hvbHeapFree(heaps[h], blocks[h][i], 0);
        }
        ASSERT_EQ(CheckHeap(heaps[h], &after), "");
        EXPECT_EQ(after.live_blocks, 0);
        EXPECT_LE(after.segments, 2);
        hvbHeapDestroy(heaps[h]);
    }
}

// A heap locked while the process has one thread stays locked for a thread
// started afterwards, and unlocking lets that thread in.
TEST(HeapLocking, ALockTakenBeforeASecondThreadHoldsIt) {
    HVBHeap heap = hvbHeapCreate(0, 0, 0);
    hvbHeapLock(heap);
    std::atomic<bool> started{false}, done{false};
    std::thread other([&] {
        started = true;
        hvbHeapFree(heap, hvbHeapAllocate(heap, 16, 0), 0);
        done = true;
    });
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 20000 && !done; ++i) std::this_thread::yield();
    EXPECT_FALSE(done) << "the other thread got into a locked heap";
    hvbHeapUnlock(heap);
    other.join();
    EXPECT_TRUE(done);
    hvbHeapDestroy(heap);
}

// Random allocate / free / reallocate against a shadow copy of every live
// block, walking the whole heap after each step.
TEST(HeapStress, RandomOperationsAgainstAShadowModel) {
    HVBHeap heap = hvbHeapCreate(0, 0, 0);
    std::mt19937 rng(20261208);
    struct Live {
        std::vector<unsigned char> bytes;
    };
    std::map<unsigned char*, Live> live;
    auto random_size = [&]() -> uint32_t {
        switch (rng() % 8) {
            case 0: return rng() % 8;
            case 1: return 8 + rng() % 64;
            case 2: case 3: return rng() % 512;
            case 4: return rng() % 4096;
            case 5: return rng() % 20000;
            case 6: return 30000 + rng() % 40000;
            default: return rng() % 128;
        }
    };
    auto fill = [&](unsigned char* p, Live& entry) {
        for (auto& b : entry.bytes) b = static_cast<unsigned char>(rng());
        if (!entry.bytes.empty()) std::memcpy(p, entry.bytes.data(), entry.bytes.size());
    };
    auto verify = [&](unsigned char* p, const Live& entry) {
        return entry.bytes.empty() || std::memcmp(p, entry.bytes.data(), entry.bytes.size()) == 0;
    };
    const int steps = 100000;
    for (int step = 0; step < steps; ++step) {
        // Allocation wins while few blocks live and loses when many do, so
        // the live set hovers around a few hundred blocks of mixed sizes.
        const unsigned op = rng() % 10;
        const bool allocate = live.size() < 200 ? op < 7 : live.size() > 600 ? op < 2 : op < 5;
        if (allocate || live.empty()) {
            const uint32_t size = random_size();
            auto* p = static_cast<unsigned char*>(hvbHeapAllocate(heap, size, op == 0 ? HVB_HEAP_ZERO_MEMORY : 0));
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % kHeader, 0u);
            ASSERT_GE(hvbHeapGetLength(heap, p), static_cast<int32_t>(size));
            if (op == 0) {
                for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0);
            }
            ASSERT_EQ(live.count(p), 0u) << "address handed out twice";
            Live entry{std::vector<unsigned char>(size)};
            fill(p, entry);
            live.emplace(p, std::move(entry));
        } else {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            ASSERT_TRUE(verify(it->first, it->second)) << "step " << step;
            if (op < 8) {
                hvbHeapFree(heap, it->first, 0);
                live.erase(it);
            } else {
                const uint32_t size = random_size();
                unsigned char* old = it->first;
                Live entry = std::move(it->second);
                live.erase(it);
                auto* p = static_cast<unsigned char*>(hvbHeapReallocate(heap, old, size, 0));
                ASSERT_NE(p, nullptr);
                const size_t kept = std::min<size_t>(size, entry.bytes.size());
                entry.bytes.resize(kept);
                ASSERT_TRUE(verify(p, entry)) << "reallocation lost bytes at step " << step;
                entry.bytes.resize(size);
                fill(p, entry);
                live.emplace(p, std::move(entry));
            }
        }
        const std::string problem = CheckHeap(heap);
        ASSERT_EQ(problem, "") << "step " << step;
        if (step % 1000 == 0) {
            for (auto& [p, entry] : live) ASSERT_TRUE(verify(p, entry)) << "step " << step;
        }
    }
    for (auto& [p, entry] : live) ASSERT_TRUE(verify(p, entry));
    for (auto& [p, entry] : live) hvbHeapFree(heap, p, 0);
    HeapCensus census;
    ASSERT_EQ(CheckHeap(heap, &census), "");
    EXPECT_EQ(census.live_blocks, 0);
    EXPECT_LE(census.segments, 2);
    hvbHeapDestroy(heap);
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer build poisons everything outside live block data, so an
// overrun or a use after free inside our own pages is reported.
TEST(HeapSanitizer, OverrunsAndStaleUsesAreReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* p = static_cast<volatile char*>(hvbHeapAllocate(nullptr, 32, 0));
            p[32] = 1;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            auto* p = static_cast<volatile char*>(hvbHeapAllocate(nullptr, 64, 0));
            hvbHeapFree(nullptr, const_cast<char*>(p), 0);
            p[10] = 1;
        },
        "use-after-poison");
}

// The rounding past a request, and the byte past a segment's end (where the
// first block of a segment ends), are reported too.
TEST(HeapSanitizer, SlackAndSegmentEndsAreWatched) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* p = static_cast<volatile char*>(hvbHeapAllocate(nullptr, 1, 0));
            p[sizeof(void*) == 8 ? 15 : 7] = 1;
        },
        "use-after-poison");
    HVBHeap heap = hvbHeapCreate(0, 0, 0);
    auto* seg = static_cast<hvb_heap::Segment*>(heap);
    auto* p = static_cast<volatile char*>(hvbHeapAllocate(heap, 4096, 0));
    ASSERT_EQ(const_cast<char*>(p) + 4096, reinterpret_cast<char*>(seg) + seg->size) << "carved from the end";
    // A page no one may touch: the sanitizer reports the fault.
    EXPECT_DEATH(p[4096] = 1, "use-after-poison|SEGV");
    hvbHeapDestroy(heap);
}
#endif

namespace {

uint64_t Mix(uint64_t h, uint32_t v) {
    for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 0x100000001B3ull;
    return h;
}

// Where an allocation went, as addresses cannot say it: segment ordinal in
// the chain and offset.
HVB_HEAP_INTERNAL uint64_t MixPlace(uint64_t h, HVBHeap heap, const void* p) {
    uint32_t ordinal = 0;
    for (auto* seg = static_cast<hvb_heap::Segment*>(heap); seg != nullptr; seg = seg->next, ++ordinal) {
        if (seg->Contains(p)) {
            return Mix(Mix(h, ordinal), static_cast<uint32_t>(static_cast<const unsigned char*>(p) -
                                                              reinterpret_cast<unsigned char*>(seg)));
        }
    }
    return Mix(h, 0xFFFFFFFFu);
}

HVB_HEAP_INTERNAL uint64_t MixBlocks(uint64_t h, HVBHeap heap) {
    for (auto* seg = static_cast<hvb_heap::Segment*>(heap); seg != nullptr; seg = seg->next) {
        h = Mix(Mix(h, seg->size), seg->free_bytes);
        for (hvb_heap::Block* b = &seg->anchor;; b = b->Next()) {
            h = Mix(Mix(h, static_cast<uint32_t>(reinterpret_cast<unsigned char*>(b) -
                                                 reinterpret_cast<unsigned char*>(seg))),
                    b->word);
            if (b->Is(hvb_heap::kLast)) break;
        }
    }
    return h;
}

}  // namespace

// Which block an allocation gets and how the heap looks afterwards are the
// heap's described behaviour, whatever shortcuts its walks take. The hash
// pins both for a mixed sequence.
TEST(HeapDecisions, SameBlocksAndLayoutAsEver) {
    HVBHeap heap = hvbHeapCreate(0, 0, 0);
    std::mt19937 rng(4711);
    std::vector<void*> live(1000, nullptr);
    uint64_t h = 0xCBF29CE484222325ull;
    for (int step = 0; step < 100000; ++step) {
        const uint32_t r = rng() % 100;
        const uint32_t size = r < 55 ? rng() % 64 : r < 85 ? rng() % 512 : r < 98 ? rng() % 8192 : rng() % 50000;
        void*& slot = live[rng() % live.size()];
        if (slot == nullptr) {
            slot = hvbHeapAllocate(heap, size, 0);
        } else if (rng() % 3 == 0) {
            slot = hvbHeapReallocate(heap, slot, size, 0);
        } else {
            hvbHeapFree(heap, slot, 0);
            slot = nullptr;
            continue;
        }
        h = MixPlace(h, heap, slot);
    }
    h = MixBlocks(h, heap);
    // Headers and sizes are in units of two pointers, so the 64-bit heap has a
    // history of its own.
    EXPECT_EQ(h, sizeof(void*) == 4 ? 0x6561da0f7bfc2a8eull : 0xb92f9d2faed022b6ull) << std::hex << h;
    EXPECT_EQ(CheckHeap(heap), "");
    hvbHeapDestroy(heap);
}
