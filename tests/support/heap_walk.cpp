#include "support/heap_walk.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "core/heap_layout.h"

#define WALK HVB_HEAP_INTERNAL

using namespace hvb_heap;

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// The walk must not allocate: the heap it walks may be the global heap that
// every allocation of this program comes from.
Block* g_free_blocks[1 << 18];

}  // namespace

WALK std::string CheckHeap(HVBHeap heap, HeapCensus* census) {
    HeapCensus local;
    auto* first = static_cast<Segment*>(heap);
    Segment* previous = nullptr;
    Segment* final = first;
    bool in_large = false;
    for (Segment* seg = first; seg != nullptr; previous = seg, seg = seg->next) {
        ++local.segments;
        if (seg->previous != (seg == first ? nullptr : previous)) return Format("segment %p: bad previous link", seg);
        if (seg->size % 4096 != 0) return Format("segment %p: size %u", seg, seg->size);
        const bool large = seg->first_free == nullptr;
        if (large) {
            ++local.large_segments;
            in_large = true;
        } else if (in_large) {
            return Format("segment %p: ordinary segment after a large-block segment", seg);
        }
        final = seg;

        uint32_t free_count = 0;
        uint32_t free_total = 0;
        uint32_t covered = offsetof(Segment, anchor);
        Block* prev_block = nullptr;
        int blocks = 0;
        for (Block* b = &seg->anchor;; b = b->Next()) {
            ++blocks;
            if (!b->Is(kValid)) return Format("segment %p: block %p lacks the valid bit", seg, b);
            if ((b->Size() & (kHeader - 1)) != 0 || b->Size() < kHeader) return Format("block %p: size %u", b, b->Size());
            if (b == &seg->anchor) {
                if (!b->Is(kAnchor) || !b->Is(kFree)) return Format("anchor %p: flags %08X", b, b->word);
                if (b->link != seg) return Format("anchor %p: segment link", b);
            } else {
                if (b->Is(kAnchor)) return Format("block %p: anchor flag on inner block", b);
                if (b->link != prev_block) return Format("block %p: previous-block link", b);
                if (b->Is(kFree) && prev_block->Is(kFree)) return Format("block %p: two adjacent free blocks", b);
            }
            covered += kHeader + b->Size();
            if (covered > seg->size) return Format("segment %p: blocks run past the end", seg);
            if (b->Is(kFree)) {
                if (free_count == sizeof g_free_blocks / sizeof g_free_blocks[0]) return "too many free blocks to check";
                g_free_blocks[free_count++] = b;
                free_total += b->Size();
                if (b != &seg->anchor) ++local.free_blocks;
            } else {
                ++local.live_blocks;
            }
            prev_block = b;
            if (b->Is(kLast)) break;
        }
        if (seg->size - covered >= kHeader) return Format("segment %p: %u bytes after the last block", seg, seg->size - covered);
        if (free_total != seg->free_bytes) {
            return Format("segment %p: free bytes %u, blocks say %u", seg, seg->free_bytes, free_total);
        }
        if (!large) {
            if (seg->first_free != &seg->anchor) return Format("segment %p: list head is not the anchor", seg);
            // Blocks were walked in address order, so the free ones are sorted.
            uint32_t listed = 0;
            Block* back = nullptr;
            for (Block* f = seg->first_free; f != nullptr; back = f, f = f->NextFree()) {
                if (f->PrevFree() != back) return Format("free block %p: back link", f);
                if (!std::binary_search(g_free_blocks, g_free_blocks + free_count, f)) {
                    return Format("free list of %p holds %p, which is no free block", seg, f);
                }
                if (++listed > free_count) return Format("free list of %p has a cycle", seg);
            }
            if (listed != free_count) return Format("segment %p: free list misses free blocks", seg);
            if (seg != first && blocks == 1) ++local.empty_ordinary_segments;
        } else if (blocks != 2) {
            return Format("large segment %p holds %d blocks", seg, blocks);
        }
    }
    if (first->last != (final == first ? nullptr : final)) return "last-segment field is wrong";
    if (local.empty_ordinary_segments > 1) return "more than one empty ordinary segment";
    if (census != nullptr) *census = local;
    return {};
}
