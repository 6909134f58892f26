// Runs one allocation sequence through the library heap and through the C
// runtime's malloc / free / realloc, side by side in one run, and prints the
// times and their ratio. The sequence mimics the library's own use: many small
// objects and strings, growing buffers, occasional large transfer buffers.
//
//   heap_bench [operations]          the timing
//   heap_bench --dump [operations]   runs the sequence once on the library heap
//                                    without its final frees and prints where
//                                    each allocation went and the heap's
//                                    blocks, as segment ordinals and offsets:
//                                    the same text before and after a change
//                                    shows the same decisions
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench_clock.h"
#include "core/heap_layout.h"
#include "core/hvb.h"

namespace {

enum class Op : uint8_t { Allocate, Free, Reallocate };
struct Step {
    Op op;
    uint32_t slot;
    uint32_t size;
};

std::vector<Step> MakeSequence(uint32_t count, uint32_t slots) {
    std::mt19937 rng(12345);
    std::vector<Step> steps;
    std::vector<bool> used(slots, false);
    steps.reserve(count);
    auto size = [&]() -> uint32_t {
        const uint32_t r = rng() % 100;
        if (r < 55) return 8 + rng() % 56;         // small objects
        if (r < 85) return 64 + rng() % 448;       // strings, nodes
        if (r < 97) return 512 + rng() % 7680;     // buffers
        return 8192 + rng() % (65536 - 8192);      // up to 64 KiB
    };
    while (steps.size() < count) {
        const uint32_t slot = rng() % slots;
        if (!used[slot]) {
            steps.push_back({Op::Allocate, slot, size()});
            used[slot] = true;
        } else if (rng() % 3 == 0) {
            steps.push_back({Op::Reallocate, slot, size()});
        } else {
            steps.push_back({Op::Free, slot, 0});
            used[slot] = false;
        }
    }
    for (uint32_t slot = 0; slot < slots; ++slot) {
        if (used[slot]) steps.push_back({Op::Free, slot, 0});
    }
    return steps;
}

struct LibraryHeap {
    HVBHeap heap = hvbHeapCreate(0, 0, 0);
    ~LibraryHeap() { hvbHeapDestroy(heap); }
    void* Allocate(uint32_t n) { return hvbHeapAllocate(heap, n, 0); }
    void Free(void* p) { hvbHeapFree(heap, p, 0); }
    void* Reallocate(void* p, uint32_t n) { return hvbHeapReallocate(heap, p, n, 0); }
};

struct CRuntime {
    void* Allocate(uint32_t n) { return std::malloc(n); }
    void Free(void* p) { std::free(p); }
    void* Reallocate(void* p, uint32_t n) { return std::realloc(p, n); }
};

template <typename Heap>
double Run(const std::vector<Step>& steps, uint32_t slots) {
    std::vector<void*> live(slots, nullptr);
    Heap heap;
    const double start = BenchSeconds();
    for (const Step& s : steps) {
        switch (s.op) {
            case Op::Allocate:
                live[s.slot] = heap.Allocate(s.size);
                static_cast<unsigned char*>(live[s.slot])[0] = 1;  // touch it, as a caller would
                break;
            case Op::Free:
                heap.Free(live[s.slot]);
                live[s.slot] = nullptr;
                break;
            case Op::Reallocate:
                live[s.slot] = heap.Reallocate(live[s.slot], s.size);
                break;
        }
    }
    return BenchSeconds() - start;
}

// Segment ordinal in the chain and offset in it; addresses themselves
// differ from run to run.
void PrintPlace(HVBHeap heap, const void* p) {
    uint32_t ordinal = 0;
    for (auto* seg = static_cast<hvb_heap::Segment*>(heap); seg != nullptr; seg = seg->next, ++ordinal) {
        if (seg->Contains(p)) {
            std::printf(
                "%u+%u\n", ordinal,
                static_cast<unsigned>(static_cast<const unsigned char*>(p) - reinterpret_cast<unsigned char*>(seg)));
            return;
        }
    }
    std::printf("nowhere\n");
}

void PrintBlocks(HVBHeap heap) {
    for (auto* seg = static_cast<hvb_heap::Segment*>(heap); seg != nullptr; seg = seg->next) {
        std::printf("segment size %u free %u first_free %s\n", seg->size, seg->free_bytes,
                    seg->first_free != nullptr ? "anchor" : "null");
        for (hvb_heap::Block* b = &seg->anchor;; b = b->Next()) {
            std::printf(
                "  %u %u %08X\n",
                static_cast<unsigned>(reinterpret_cast<unsigned char*>(b) - reinterpret_cast<unsigned char*>(seg)),
                b->Size(), b->word & ~hvb_heap::kSizeMask);
            if (b->Is(hvb_heap::kLast)) break;
        }
    }
}

// The sequence's final frees would leave nothing to show: only the first
// `count` steps run.
int Dump(const std::vector<Step>& steps, uint32_t slots, uint32_t count) {
    std::vector<void*> live(slots, nullptr);
    LibraryHeap heap;
    for (uint32_t i = 0; i < count && i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.op == Op::Free) {
            heap.Free(live[s.slot]);
            live[s.slot] = nullptr;
        } else {
            live[s.slot] = s.op == Op::Allocate ? heap.Allocate(s.size) : heap.Reallocate(live[s.slot], s.size);
            PrintPlace(heap.heap, live[s.slot]);
        }
    }
    PrintBlocks(heap.heap);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool dump = argc > 1 && std::strcmp(argv[1], "--dump") == 0;
    if (dump) --argc, ++argv;
    const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 2000000;
    const uint32_t slots = 2000;
    zmrInitializeLibrary();
    const std::vector<Step> steps = MakeSequence(count, slots);
    if (dump) return Dump(steps, slots, count);
    double best_library = 1e9, best_crt = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double l = Run<LibraryHeap>(steps, slots);
        const double c = Run<CRuntime>(steps, slots);
        if (l < best_library) best_library = l;
        if (c < best_crt) best_crt = c;
    }
    std::printf("heap_bench: %zu operations, %u live slots, sizes 8 B to 64 KiB, best of 5 rounds\n", steps.size(), slots);
    std::printf("  library heap   %8.3f s  %7.1f ns/op\n", best_library, 1e9 * best_library / steps.size());
    std::printf("  C runtime      %8.3f s  %7.1f ns/op\n", best_crt, 1e9 * best_crt / steps.size());
    std::printf("  ratio library / C runtime time: %.2f\n", best_library / best_crt);
    return 0;
}
