// The library heap: chains of page-granular segments carved into blocks with
// two-word headers; see heap_layout.h for the layout. Under AddressSanitizer
// every byte that is not the data of a live block is poisoned, so an overrun
// of a block is reported although the blocks come from our own pages.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/heap_layout.h"
#include "core/hvb.h"
#include "core/memory.h"
#include "platform/platform.h"

#define HEAP_INTERNAL HVB_HEAP_INTERNAL
#if defined(HVB_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#define HEAP_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define HEAP_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define HEAP_POISON(p, n) ((void)(p), (void)(n))
#define HEAP_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

using namespace hvb_heap;

namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kDefaultSize = 0x10000;

Segment* g_global_heap = nullptr;

const char kRetryText[] =
    "メモリ確保に失敗しました。\n他のアプリケーションで使用しているメモリを解放してください。\nメモリ確保を再実行しますか？";
const char kRetryCaption[] = "◆ HVB メモリアロケーション ◆";
const char kInvalidFreeText[] = "無効なポインタを解放しようとしました。\n";

constexpr uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) & ~(unit - 1); }

// The anchor only serves a request that leaves it this much, and a free block
// is split only when the rest holds this much (header included).
constexpr uint32_t kSplitReserve = 4 * kHeader;
// A large request of b bytes gets a segment of (b + kLargeExtra) rounded down
// to a page: its header, the anchor's reserve and the block's own header.
constexpr uint32_t kLargeExtra = kPage - 1 + kSegmentHeader + kSplitReserve + kHeader;
// A large block's size is rounded down to this.
constexpr uint32_t kLargeGrain = 16;
static_assert(kLargeGrain % kHeader == 0);
// An ordinary segment is at least a request's size and this much.
constexpr uint32_t kSegmentExtra = kSegmentHeader - sizeof(uint32_t);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(kSplitReserve == 32 && kLargeExtra == 0x106F && kSegmentExtra == 68);
#endif

// The largest segment whose anchor block a 28-bit size can describe. Initial
// and growth sizes beyond it are refused: recorded as they are, they would
// overflow into the header's flags, and a growth size that rounds up to 0
// pages would make every growth a new segment too small to serve.
constexpr uint32_t kMaxSegment = (kSizeMask + kSegmentHeader) & ~(kPage - 1);

// Page-rounded size, or 0 when value is 0 or the rounded size exceeds limit.
uint32_t SegmentSize(uint32_t value, uint32_t limit) {
    const uint64_t rounded = (static_cast<uint64_t>(value) + kPage - 1) & ~static_cast<uint64_t>(kPage - 1);
    return rounded <= limit ? static_cast<uint32_t>(rounded) : 0;
}

uint32_t DataSize(uint32_t size) { return size == 0 ? kHeader : RoundUp(size, kHeader); }

constexpr uint32_t kUnknownFit = 0xFFFFFFFFu;

struct SegmentIndex;
HEAP_INTERNAL SegmentIndex*& IndexOf(Segment* first);

// Commits a segment, asking the user to retry while memory is exhausted.
// Yes retries; No and Cancel give up (No must neither retry endlessly nor use
// the missing memory).
HEAP_INTERNAL Segment* NewSegment(uint32_t size, uint32_t growth, uint32_t flags) {
    void* pages;
    while ((pages = plat::PageAllocate(size)) == nullptr) {
        if (plat::AskYesNoCancel(kRetryText, kRetryCaption) != plat::Answer::Yes) return nullptr;
    }
    HEAP_POISON(static_cast<unsigned char*>(pages) + offsetof(Segment, anchor), size - offsetof(Segment, anchor));
    auto* seg = static_cast<Segment*>(pages);
    seg->next = nullptr;
    seg->previous = nullptr;
    seg->last = nullptr;
    seg->growth = growth;
    seg->flags = flags;
    seg->size = size;
    seg->no_fit_from = kUnknownFit;
    seg->largest_free = 0;
    seg->anchor.word = (size - kSegmentHeader) | kValid | kAnchor | kLast | kFree;
    seg->anchor.link = seg;
    seg->anchor.PrevFree() = nullptr;
    seg->anchor.NextFree() = nullptr;
    // The anchor's data is poisoned, and the leak checker ignores pointers
    // it finds in poisoned memory: the table's address is left readable, or
    // a table of pages from the sanitizer's allocator would count as lost.
    HEAP_UNPOISON(&IndexOf(seg), sizeof(SegmentIndex*));
    IndexOf(seg) = nullptr;
    seg->first_free = &seg->anchor;
    seg->free_bytes = size - kSegmentHeader;
    return seg;
}

Segment* Resolve(HVBHeap heap) {
    return heap != nullptr ? static_cast<Segment*>(heap) : static_cast<Segment*>(hvbGetGlobalHeap());
}

class HeapLock {
public:
    HeapLock(Segment* first, uint32_t flags) : lock_(((flags | first->flags) & kNoLock) ? nullptr : &first->lock) {
        if (lock_ != nullptr) plat::EnterCriticalSection(lock_);
    }
    ~HeapLock() {
        if (lock_ != nullptr) plat::LeaveCriticalSection(lock_);
    }
    HeapLock(const HeapLock&) = delete;
    HeapLock& operator=(const HeapLock&) = delete;

private:
    plat::CriticalSection* lock_;
};

HEAP_INTERNAL void Unlink(Segment* first, Segment* seg) {
    seg->previous->next = seg->next;
    if (seg->next != nullptr) {
        seg->next->previous = seg->previous;
    } else {
        first->last = seg->previous == first ? nullptr : seg->previous;
    }
}

HEAP_INTERNAL void InsertAfterFirst(Segment* first, Segment* seg) {
    seg->previous = first;
    seg->next = first->next;
    if (first->next != nullptr) first->next->previous = seg;
    else first->last = seg;
    first->next = seg;
}

HEAP_INTERNAL void Append(Segment* first, Segment* seg) {
    Segment* tail = first->last != nullptr ? first->last : first;
    tail->next = seg;
    seg->previous = tail;
    seg->next = nullptr;
    first->last = seg;
}

HEAP_INTERNAL void ListRemove(Block* b) {
    Block* prev = b->PrevFree();
    Block* next = b->NextFree();
    if (prev != nullptr) prev->NextFree() = next;
    if (next != nullptr) next->PrevFree() = prev;
}

HEAP_INTERNAL void ListInsertAfterAnchor(Segment* seg, Block* b) {
    Block* anchor = &seg->anchor;
    Block* next = anchor->NextFree();
    b->PrevFree() = anchor;
    b->NextFree() = next;
    if (next != nullptr) next->PrevFree() = b;
    anchor->NextFree() = b;
}

// Moves the header of the free block `from` to `to` with a new size; the
// block keeps its flags and its place in the free list, and its neighbours on
// both sides are pointed at the new header. The ranges may overlap.
HEAP_INTERNAL void MoveFreeBlock(Block* from, Block* to, uint32_t size, Block* predecessor) {
    Block* after = from->Is(kLast) ? nullptr : from->Next();
    Block* prev_free = from->PrevFree();
    Block* next_free = from->NextFree();
    to->word = (from->word & ~kSizeMask) | size;
    to->link = predecessor;
    to->PrevFree() = prev_free;
    to->NextFree() = next_free;
    if (prev_free != nullptr) prev_free->NextFree() = to;
    if (next_free != nullptr) next_free->PrevFree() = to;
    if (after != nullptr) after->link = to;
}

// Gives `b` the last flag of `from`, or points the block after it back at `b`.
HEAP_INTERNAL void TakeOverSuccessor(Block* b, uint32_t from_word, Block* successor) {
    if (from_word & kLast) b->word |= kLast;
    else successor->link = b;
}

// The chain is in the order placement needs, so finding the segment that
// holds an address by walking it reads one header per segment, each on a page
// of its own. A heap that has grown keeps its other segments sorted by address
// beside the chain, on pages of their own, for a binary search. The table's
// address is kept in the first segment's anchor just past its free-list links:
// an anchor keeps at least three headers' worth of data and is carved only
// from its end, so no block ever covers those bytes. Without a table (none
// could be mapped) the chain is walked.
struct alignas(sizeof(uintptr_t)) SegmentIndex {
    struct Entry {
        uintptr_t begin;
        uintptr_t end;
    };
    uint32_t bytes;  // of its own mapping
    uint32_t capacity;
    uint32_t count;

    HEAP_INTERNAL Entry* Entries() { return reinterpret_cast<Entry*>(this + 1); }
    HEAP_INTERNAL const Entry* Entries() const { return reinterpret_cast<const Entry*>(this + 1); }
};
static_assert(sizeof(SegmentIndex) % alignof(SegmentIndex::Entry) == 0);
static_assert(3 * sizeof(void*) <= kSplitReserve - kHeader, "the table's address must stay in the anchor's data");

HEAP_INTERNAL SegmentIndex*& IndexOf(Segment* first) {
    return reinterpret_cast<SegmentIndex**>(first->anchor.Data())[2];
}

HEAP_INTERNAL void DropIndex(Segment* first) {
    SegmentIndex*& index = IndexOf(first);
    if (index != nullptr) plat::PageRelease(index, index->bytes);
    index = nullptr;
}

// First entry that begins above address.
HEAP_INTERNAL uint32_t UpperBound(const SegmentIndex* index, uintptr_t address) {
    uint32_t low = 0, high = index->count;
    while (low < high) {
        const uint32_t mid = (low + high) / 2;
        if (index->Entries()[mid].begin <= address) low = mid + 1;
        else high = mid;
    }
    return low;
}

// Called once seg is linked into the chain. A full table is rebuilt from the
// chain at twice its size; when that cannot be mapped the heap walks instead.
HEAP_INTERNAL void IndexAdd(Segment* first, Segment* seg) {
    SegmentIndex*& index = IndexOf(first);
    const auto begin = reinterpret_cast<uintptr_t>(seg);
    if (index == nullptr || index->count == index->capacity) {
        uint32_t segments = 0;
        for (Segment* s = first->next; s != nullptr; s = s->next) ++segments;
        const uint32_t wanted = 2 * segments + 16;
        const uint32_t bytes =
            RoundUp(static_cast<uint32_t>(sizeof(SegmentIndex) + wanted * sizeof(SegmentIndex::Entry)), kPage);
        DropIndex(first);
        auto* fresh = static_cast<SegmentIndex*>(plat::PageAllocate(bytes));
        if (fresh == nullptr) return;
        fresh->bytes = bytes;
        fresh->capacity = static_cast<uint32_t>((bytes - sizeof(SegmentIndex)) / sizeof(SegmentIndex::Entry));
        fresh->count = 0;
        index = fresh;
        for (Segment* s = first->next; s != nullptr; s = s->next) {
            if (s != seg) IndexAdd(first, s);
        }
    }
    const uint32_t at = UpperBound(index, begin);
    SegmentIndex::Entry* entries = index->Entries();
    for (uint32_t i = index->count; i > at; --i) entries[i] = entries[i - 1];
    entries[at] = {begin, begin + seg->size};
    ++index->count;
}

HEAP_INTERNAL void IndexRemove(Segment* first, Segment* seg) {
    SegmentIndex* index = IndexOf(first);
    if (index == nullptr) return;
    const uint32_t at = UpperBound(index, reinterpret_cast<uintptr_t>(seg));
    SegmentIndex::Entry* entries = index->Entries();
    if (at == 0 || entries[at - 1].begin != reinterpret_cast<uintptr_t>(seg)) return;
    for (uint32_t i = at; i < index->count; ++i) entries[i - 1] = entries[i];
    --index->count;
}

HEAP_INTERNAL Segment* FindSegment(Segment* first, const Block* b) {
    if (first->Contains(b)) return first;
    const SegmentIndex* index = IndexOf(first);
    if (index == nullptr) {
        for (Segment* seg = first->next; seg != nullptr; seg = seg->next) {
            if (seg->Contains(b)) return seg;
        }
        return nullptr;
    }
    // Without branches on the comparisons: frees come in no order a
    // predictor could learn.
    if (index->count == 0) return nullptr;
    const auto address = reinterpret_cast<uintptr_t>(b);
    const SegmentIndex::Entry* base = index->Entries();
    for (uint32_t n = index->count; n > 1;) {
        const uint32_t half = n / 2;
        base = base[half].begin <= address ? base + half : base;
        n -= half;
    }
    if (address < base->begin || address >= base->end) return nullptr;
    return reinterpret_cast<Segment*>(base->begin);
}

HEAP_INTERNAL void NoteFreeBlock(Segment* seg, const Block* b) {
    if (!b->Is(kAnchor) && b->Size() > seg->largest_free) seg->largest_free = b->Size();
}

HEAP_INTERNAL bool HeaderValid(const Block* b) {
    return (b->word & (kValid | kAnchor | kFree)) == kValid;
}

// The block behind `address` if it is a live block of the heap, else null.
// The segment range is checked before the header is read, so a wild address
// cannot fault.
HEAP_INTERNAL Block* LiveBlock(Segment* first, const void* address, Segment** segment) {
    if (address == nullptr || (reinterpret_cast<uintptr_t>(address) & (kHeader - 1)) != 0) return nullptr;
    Block* b = Block::FromData(address);
    Segment* seg = FindSegment(first, b);
    if (seg == nullptr || b <= &seg->anchor) {
        return nullptr;
    }
    if (!HeaderValid(b)) return nullptr;
    *segment = seg;
    return b;
}

// Carves b bytes out of the free block `node` of `seg`. A request that found
// nothing here still finds nothing afterwards: the walk sees the same or
// smaller blocks with the same or smaller budget, unless the taken node was
// the last block, whose flag had ended the walk.
HEAP_INTERNAL Block* Take(Segment* seg, Block* node, uint32_t b) {
    if (node->Is(kLast)) seg->no_fit_from = kUnknownFit;
    const uint32_t d = node->Size();
    if (!node->Is(kAnchor) && d < b + kSplitReserve) {
        ListRemove(node);
        node->word &= ~kFree;
        seg->free_bytes -= d;
        return node;
    }
    const uint32_t rest = d - b - kHeader;
    node->word = (node->word & ~kSizeMask) | rest;
    auto* block = reinterpret_cast<Block*>(node->Data() + rest);
    block->word = b | kValid;
    block->link = node;
    if (node->Is(kLast)) {
        node->word &= ~kLast;
        block->word |= kLast;
    } else {
        block->Next()->link = block;
    }
    seg->free_bytes -= b + kHeader;
    return block;
}

// A request that found nothing in a segment finds nothing there while its
// blocks stay as they are, and neither does any larger one: the larger
// request's walk stops no later and every node fits it less.
// Whatever the walk's other limits, a request larger than every free block
// allows finds nothing either.
// The free list always starts at the anchor, so the anchor's own threshold is
// tested once, before the walk.
HEAP_INTERNAL Block* FindFit(Segment* seg, uint32_t b) {
    if (b >= seg->no_fit_from || seg->first_free == nullptr) return nullptr;
    Block* anchor = seg->first_free;
    const uint32_t anchor_size = anchor->Size();
    if (anchor_size >= b + kSplitReserve) return anchor;
    if (b + kHeader > seg->largest_free) return nullptr;
    // The budget check before the anchor always passes: free bytes include
    // the anchor's size.
    int32_t budget = static_cast<int32_t>(seg->free_bytes) - static_cast<int32_t>(kSplitReserve + anchor_size);
    uint32_t largest = 0;
    Block* node = anchor->Is(kLast) ? anchor : anchor->NextFree();
    if (node != anchor) {
        // The last flag sits above the size bits: kept in the size, it sends
        // every last block, fitting or not, down the one rare branch.
        const uint32_t need = b + kHeader;
        for (; node != nullptr && budget >= static_cast<int32_t>(b); node = node->NextFree()) {
            const uint32_t d = node->word & (kSizeMask | kLast);
            if (d >= need) {
                if (!(d & kLast) || (d & kSizeMask) >= need) return node;
                break;
            }
            if (d > largest) largest = d;
            budget -= static_cast<int32_t>(d);
        }
    }
    if (node == nullptr) {
        seg->largest_free = largest;
    } else if (budget < static_cast<int32_t>(b)) {
        // The free bytes are the sum of the free blocks' sizes, so the
        // budget left tells how much the blocks not walked hold together.
        const uint32_t rest = static_cast<uint32_t>(budget) + kSplitReserve;
        seg->largest_free = largest > rest ? largest : rest;
    }
    seg->no_fit_from = b;
    return nullptr;
}

// Sizes beyond what a block header can hold are refused.
constexpr uint32_t kMaxRequest = kSizeMask - (kLargeExtra + 1);

HEAP_INTERNAL void* Allocate(Segment* first, uint32_t size, uint32_t flags) {
    if (size > kMaxRequest) return nullptr;
    uint32_t b = DataSize(size);
    Block* block = nullptr;
    if (size != 0 && b >= first->growth / 2) {
        Segment* seg = NewSegment((b + kLargeExtra) & ~(kPage - 1), first->growth, kNoLock);
        if (seg == nullptr) return nullptr;
        Append(first, seg);
        IndexAdd(first, seg);
        Block* node = &seg->anchor;
        b = (node->Size() - kSplitReserve) & ~(kLargeGrain - 1);
        block = Take(seg, node, b);
        seg->first_free = nullptr;
    } else {
        Segment* seg = first;
        Block* node = nullptr;
        for (;;) {
            node = FindFit(seg, b);
            if (node != nullptr) break;
            if (seg->next == nullptr || seg->next->first_free == nullptr) break;
            seg = seg->next;
        }
        if (node == nullptr) {
            const uint32_t want = b + kSegmentExtra > first->growth ? b + kSegmentExtra : first->growth;
            seg = NewSegment(RoundUp(want, kPage), first->growth, kNoLock);
            if (seg == nullptr) return nullptr;
            InsertAfterFirst(first, seg);
            IndexAdd(first, seg);
            node = FindFit(seg, b);
            if (node == nullptr) return nullptr;
        }
        block = Take(seg, node, b);
    }
    HEAP_UNPOISON(block->Data(), block->Size());
    if (flags & kZeroMemory) MemoryFill(block->Data(), 0, b);
    // The rounding past the request is no one's: an overrun into it is one.
    HEAP_POISON(block->Data() + size, block->Size() - size);
    return block->Data();
}

// Pages go back to the system unpoisoned: whoever maps them next owns them.
HEAP_INTERNAL int ReleasePages(Segment* seg) {
    const uint32_t size = seg->size;
    HEAP_UNPOISON(seg, size);
    return plat::PageRelease(seg, size);
}

HEAP_INTERNAL void Release(Segment* first, Segment* seg) {
    Unlink(first, seg);
    IndexRemove(first, seg);
    ReleasePages(seg);
}

HEAP_INTERNAL bool Empty(const Segment* seg) {
    return seg->first_free != nullptr && (seg->anchor.word & kLast) != 0;
}

HEAP_INTERNAL void SegmentUpkeep(Segment* first, Segment* seg, Block* merged) {
    if (seg == first) return;
    if (merged->Is(kAnchor) && merged->Is(kLast)) {
        if (seg->first_free == nullptr) {
            Release(first, seg);
            return;
        }
        Segment* front = first->next;
        Unlink(first, seg);
        InsertAfterFirst(first, seg);
        if (front != seg && front != nullptr && Empty(front)) Release(first, front);
        return;
    }
    Segment* prev = seg->previous;
    if (prev != first && prev->free_bytes < seg->free_bytes) {
        Segment* before = prev->previous;
        Segment* after = seg->next;
        before->next = seg;
        seg->previous = before;
        seg->next = prev;
        prev->previous = seg;
        prev->next = after;
        if (after != nullptr) after->previous = prev;
        else first->last = prev;
    }
}

HEAP_INTERNAL void FreeBlock(Segment* first, Segment* seg, Block* block) {
    HEAP_POISON(block->Data(), block->Size());
    const uint32_t word = block->word;
    Block* merged;
    Block* prev = block->Previous();
    const bool next_free = !(word & kLast) && block->Next()->Is(kFree);
    if (prev->Is(kFree) || next_free) {
        seg->no_fit_from = kUnknownFit;
    } else if (seg->no_fit_from < block->Size()) {
        // A block put at the head of the list alone raises every later
        // budget by its own size, so requests it cannot hold still fail.
        seg->no_fit_from = block->Size();
    }
    if (prev->Is(kFree)) {
        // The old header stays behind inside the free block: mark it free so
        // that a second free of the same address is recognised.
        block->word |= kFree;
        prev->word += block->Size() + kHeader;
        seg->free_bytes += block->Size() + kHeader;
        TakeOverSuccessor(prev, word, word & kLast ? nullptr : block->Next());
        merged = prev;
    } else {
        block->word |= kFree;
        ListInsertAfterAnchor(seg, block);
        seg->free_bytes += block->Size();
        merged = block;
    }
    if (!merged->Is(kLast)) {
        Block* next = merged->Next();
        if (next->Is(kFree)) {
            ListRemove(next);
            seg->free_bytes += kHeader;
            const uint32_t next_word = next->word;
            merged->word += next->Size() + kHeader;
            TakeOverSuccessor(merged, next_word, next_word & kLast ? nullptr : next->Next());
        }
    }
    NoteFreeBlock(seg, merged);
    SegmentUpkeep(first, seg, merged);
}

HEAP_INTERNAL void Dump(Segment* first, int32_t maximum) {
    int32_t written = 0;
    for (Segment* seg = first; seg != nullptr; seg = seg->next) {
        for (Block* b = &seg->anchor;; b = b->Next()) {
            if (!b->Is(kFree)) {
                if (written >= maximum) return;
                if (written == 0) plat::DebuggerOutput("HVB の解放されていないメモリブロックがあります\n");
                char line[128];
                int n = std::snprintf(line, sizeof line, "block %08" PRIXPTR "H (%d bytes) :",
                                      reinterpret_cast<uintptr_t>(b->Data()),
                                      static_cast<int>(b->Size()));
                // Sixteen bytes, but never past the segment's end: a small
                // last block would otherwise take the line beyond its pages.
                const auto end = reinterpret_cast<uintptr_t>(seg) + seg->size;
                const uint32_t room = static_cast<uint32_t>(end - reinterpret_cast<uintptr_t>(b->Data()));
                const uint32_t shown = room < 16 ? room : 16;
                for (uint32_t i = 0; i < shown; ++i) n += std::snprintf(line + n, sizeof line - n, " %02X", b->Data()[i]);
                std::snprintf(line + n, sizeof line - n, "\n");
                plat::DebuggerOutput(line);
                ++written;
            }
            if (b->Is(kLast)) break;
        }
    }
}

}  // namespace

extern "C" {

HVBHeap hvbHeapCreate(uint32_t initial_size, uint32_t growth_size, uint32_t flags) {
    const uint32_t size = initial_size == 0 ? kDefaultSize : SegmentSize(initial_size, kMaxSegment);
    if (size == 0 || (growth_size != 0 && SegmentSize(growth_size, kMaxSegment) == 0)) return nullptr;
    Segment* seg = NewSegment(size, growth_size == 0 ? kDefaultSize : growth_size, flags);
    if (seg == nullptr) return nullptr;
    if (!(flags & kNoLock)) plat::InitializeCriticalSection(&seg->lock);
    return seg;
}

HEAP_INTERNAL int32_t hvbHeapDestroy(HVBHeap heap) {
    auto* first = static_cast<Segment*>(heap);
    if (first == nullptr) return 0;
    if (!(first->flags & kNoLock)) plat::DeleteCriticalSection(&first->lock);
    DropIndex(first);
    int32_t ok = 1;
    for (Segment* seg = first; seg != nullptr;) {
        Segment* next = seg->next;
        ok &= ReleasePages(seg);
        seg = next;
    }
    return ok;
}

HEAP_INTERNAL void* hvbHeapAllocate(HVBHeap heap, uint32_t size, uint32_t flags) {
    Segment* first = Resolve(heap);
    if (first == nullptr) return nullptr;
    const uint32_t effective = (flags & 0xFF) | first->flags;
    HeapLock lock(first, effective);
    return Allocate(first, size, effective);
}

HEAP_INTERNAL int32_t hvbHeapFree(HVBHeap heap, void* address, uint32_t flags) {
    Segment* first = heap != nullptr ? static_cast<Segment*>(heap) : g_global_heap;
    if (first == nullptr || address == nullptr) {
        plat::DebugTrace(kInvalidFreeText);
        return 0;
    }
    HeapLock lock(first, flags);
    Segment* seg = nullptr;
    Block* block = LiveBlock(first, address, &seg);
    if (block == nullptr) {
        plat::DebugTrace(kInvalidFreeText);
        return 0;
    }
    FreeBlock(first, seg, block);
    return 1;
}

HEAP_INTERNAL void* hvbHeapReallocate(HVBHeap heap, void* address, uint32_t new_size, uint32_t flags) {
    if (address == nullptr) return hvbHeapAllocate(heap, new_size, flags);
    Segment* first = Resolve(heap);
    if (first == nullptr) return nullptr;
    const uint32_t effective = (flags & 0xFF) | first->flags;
    HeapLock lock(first, effective);
    Segment* seg = nullptr;
    Block* block = LiveBlock(first, address, &seg);
    if (block == nullptr || new_size > kMaxRequest) return nullptr;

    const uint32_t d = DataSize(new_size);
    const uint32_t p = block->Size();
    if (d != p) seg->no_fit_from = kUnknownFit;
    Block* next = block->Is(kLast) ? nullptr : block->Next();
    const bool next_free = next != nullptr && next->Is(kFree);

    if (d < p) {
        if (next_free) {
            MoveFreeBlock(next, reinterpret_cast<Block*>(block->Data() + d), next->Size() + (p - d), block);
            NoteFreeBlock(seg, reinterpret_cast<Block*>(block->Data() + d));
            seg->free_bytes += p - d;
            block->word = (block->word & ~kSizeMask) | d;
            HEAP_POISON(block->Data() + d, p - d);
        }
    }
    if (d <= p) {
        HEAP_UNPOISON(block->Data(), block->Size());
        if (d < p && (effective & kZeroMemory)) MemoryFill(block->Data() + new_size, 0, block->Size() - new_size);
        HEAP_POISON(block->Data() + new_size, block->Size() - new_size);
        return address;
    }

    const uint32_t reachable = p + (next_free ? next->Size() + kHeader : 0);
    if (reachable < d) {
        void* moved = Allocate(first, new_size, effective | kNoLock);
        if (moved == nullptr) return nullptr;
        // The old size is known only rounded: its poisoned tail moves too.
        HEAP_UNPOISON(block->Data(), p);
        MemoryMove(moved, address, p);
        FreeBlock(first, seg, block);
        return moved;
    }
    const uint32_t grow = d - p;
    const uint32_t next_size = next->Size();
    if (grow < next_size / 2) {
        MoveFreeBlock(next, reinterpret_cast<Block*>(reinterpret_cast<unsigned char*>(next) + grow), next_size - grow,
                      block);
        seg->free_bytes -= grow;
        block->word += grow;
    } else {
        ListRemove(next);
        const uint32_t next_word = next->word;
        block->word += next_size + kHeader;
        TakeOverSuccessor(block, next_word, next_word & kLast ? nullptr : next->Next());
        seg->free_bytes -= next_size;
    }
    HEAP_UNPOISON(block->Data(), block->Size());
    if (effective & kZeroMemory) MemoryFill(block->Data() + p, 0, block->Size() - p);
    HEAP_POISON(block->Data() + new_size, block->Size() - new_size);
    return address;
}

HEAP_INTERNAL int32_t hvbHeapGetLength(HVBHeap, const void* address) {
    if (address == nullptr || (reinterpret_cast<uintptr_t>(address) & (kHeader - 1)) != 0) return -1;
    const Block* b = Block::FromData(address);
    if (!HeaderValid(b)) return -1;
    return static_cast<int32_t>(b->Size());
}

void hvbHeapLock(HVBHeap heap) {
    Segment* first = Resolve(heap);
    if (first != nullptr && !(first->flags & kNoLock)) plat::EnterCriticalSection(&first->lock);
}

void hvbHeapUnlock(HVBHeap heap) {
    Segment* first = heap != nullptr ? static_cast<Segment*>(heap) : g_global_heap;
    if (first != nullptr && !(first->flags & kNoLock)) plat::LeaveCriticalSection(&first->lock);
}

void hvbHeapDump(HVBHeap heap, int32_t maximum) {
    Segment* first = heap != nullptr ? static_cast<Segment*>(heap) : g_global_heap;
    if (first == nullptr) return;
    HeapLock lock(first, 0);
    Dump(first, maximum);
}

HVBHeap hvbGetGlobalHeap(void) {
    if (g_global_heap == nullptr) g_global_heap = static_cast<Segment*>(hvbHeapCreate(0, 0, 0));
    return g_global_heap;
}

int32_t hvbFreeGlobalHeap(void) {
    if (g_global_heap == nullptr) return 0;
    hvbHeapDump(g_global_heap, 100);
    const int32_t result = hvbHeapDestroy(g_global_heap);
    g_global_heap = nullptr;
    return result;
}

HVBStackHeap hvbStackHeapCreate(uint32_t initial_size, uint32_t growth_size, uint32_t) {
    const uint32_t size = initial_size == 0 ? kDefaultSize : SegmentSize(initial_size, 0xFFFFF000u);
    if (size <= sizeof(StackBlock)) return nullptr;
    auto* block = static_cast<StackBlock*>(plat::PageAllocate(size));
    if (block == nullptr) return nullptr;
    block->next = nullptr;
    block->current = block;
    block->growth = growth_size == 0 ? kDefaultSize : growth_size;
    block->data = reinterpret_cast<unsigned char*>(block) + sizeof(StackBlock);
    block->capacity = size - sizeof(StackBlock);
    block->used = 0;
    return block;
}

// A block that cannot be committed gives null; the heap stays as it was.
void* hvbStackHeapAllocate(HVBStackHeap heap, uint32_t size) {
    auto* first = static_cast<StackBlock*>(heap);
    if (first == nullptr || size > 0xFFFFFFFFu - 0x2000) return nullptr;
    const uint32_t b = RoundUp(size, 16);
    StackBlock* current = first->current;
    // Compared as room left: used + b could wrap past 4 GiB.
    while (b > current->capacity - current->used) {
        // The new block holds its header as well as the request.
        const uint32_t needed = b + static_cast<uint32_t>(sizeof(StackBlock));
        const uint32_t want = first->growth > needed ? first->growth : needed;
        // A growth that rounds past 4 GiB is no size at all: rather than a
        // default-sized block too small for b, again and again, give up.
        const uint32_t size = SegmentSize(want, 0xFFFFF000u);
        if (size == 0) return nullptr;
        auto* block = static_cast<StackBlock*>(hvbStackHeapCreate(size, first->growth, 0));
        if (block == nullptr) return nullptr;
        block->next = current->next;
        current->next = block;
        current = block;
        first->current = block;
    }
    void* result = current->data + current->used;
    current->used += b;
    return result;
}

void hvbStackHeapFree(HVBStackHeap heap) {
    auto* first = static_cast<StackBlock*>(heap);
    if (first == nullptr) return;
    for (StackBlock* block = first->next; block != nullptr;) {
        StackBlock* next = block->next;
        plat::PageRelease(block, block->capacity + sizeof(StackBlock));
        block = next;
    }
    first->next = nullptr;
    first->current = first;
    first->used = 0;
}

int32_t hvbStackHeapDestroy(HVBStackHeap heap) {
    auto* first = static_cast<StackBlock*>(heap);
    if (first == nullptr) return 0;
    hvbStackHeapFree(first);
    return plat::PageRelease(first, first->capacity + sizeof(StackBlock));
}

}  // extern "C"

// Every allocation of the program goes through the global heap. The throwing
// forms may not return null: memory the user chose not to wait for ends the
// program here rather than in whatever dereferences the null. Where size_t is
// wider than a block's size, a larger request fails rather than being cut.
static void* AllocateGlobal(std::size_t size) {
    if constexpr (sizeof(std::size_t) > sizeof(uint32_t)) {
        if (size > UINT32_MAX) return nullptr;
    }
    return hvbHeapAllocate(nullptr, static_cast<uint32_t>(size), 0);
}
static void* AllocateOrDie(std::size_t size) {
    void* p = AllocateGlobal(size);
    if (p == nullptr) {
        plat::DebugTrace("HVB: out of memory\n");
        std::abort();
    }
    return p;
}
void* operator new(std::size_t size) { return AllocateOrDie(size); }
void* operator new[](std::size_t size) { return AllocateOrDie(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateGlobal(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateGlobal(size); }
void operator delete(void* p) noexcept { if (p != nullptr) hvbHeapFree(nullptr, p, 0); }
void operator delete[](void* p) noexcept { if (p != nullptr) hvbHeapFree(nullptr, p, 0); }
void operator delete(void* p, std::size_t) noexcept { if (p != nullptr) hvbHeapFree(nullptr, p, 0); }
void operator delete[](void* p, std::size_t) noexcept { if (p != nullptr) hvbHeapFree(nullptr, p, 0); }
