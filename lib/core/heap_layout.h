// In-memory layout of heap segments and blocks. Shared by the allocator and
// by tools that walk a heap (the tests check the chain invariants through it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Code that reads headers and free space, which AddressSanitizer builds keep
// poisoned between live blocks.
#if defined(__SANITIZE_ADDRESS__)
#define HVB_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HVB_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(HVB_ADDRESS_SANITIZER)
#define HVB_HEAP_INTERNAL __attribute__((no_sanitize_address))
#else
#define HVB_HEAP_INTERNAL
#endif

namespace hvb_heap {

constexpr uint32_t kSizeMask = 0x0FFFFFFFu;
constexpr uint32_t kValid = 0x10000000u;
constexpr uint32_t kAnchor = 0x20000000u;
constexpr uint32_t kLast = 0x40000000u;
constexpr uint32_t kFree = 0x80000000u;

constexpr uint32_t kZeroMemory = 0x01u;
constexpr uint32_t kNoLock = 0x02u;

struct Segment;

// A block header is a size word and a pointer, padded to two pointers so that
// the data after it is aligned for any type: 8 bytes where pointers are 32-bit,
// 16 where they are 64-bit. Data sizes are multiples of it, and a free block's
// data holds its two free-list links.
struct alignas(2 * sizeof(void*)) Block {
    uint32_t word;  // size and flags
    void* link;     // anchor: its Segment; other blocks: the Block physically before

    HVB_HEAP_INTERNAL uint32_t Size() const { return word & kSizeMask; }
    HVB_HEAP_INTERNAL bool Is(uint32_t flag) const { return (word & flag) != 0; }
    HVB_HEAP_INTERNAL unsigned char* Data() { return reinterpret_cast<unsigned char*>(this + 1); }
    HVB_HEAP_INTERNAL Block* Next() { return reinterpret_cast<Block*>(Data() + Size()); }
    HVB_HEAP_INTERNAL Block* Previous() const { return static_cast<Block*>(link); }
    // Free-list links live in the first two words of a free block's data.
    HVB_HEAP_INTERNAL Block*& PrevFree() { return reinterpret_cast<Block**>(Data())[0]; }
    HVB_HEAP_INTERNAL Block*& NextFree() { return reinterpret_cast<Block**>(Data())[1]; }
    static HVB_HEAP_INTERNAL Block* FromData(const void* data) {
        return reinterpret_cast<Block*>(const_cast<void*>(data)) - 1;
    }
};

// The header size, the data granularity and the alignment of every data address.
constexpr uint32_t kHeader = sizeof(Block);
static_assert(kHeader == 2 * sizeof(void*));

struct Segment {
    Segment* next;
    Segment* previous;
    Block* first_free;
    uint32_t free_bytes;
    uint32_t growth;
    Segment* last;  // first segment only
    uint32_t flags;
    uint32_t size;
    plat::CriticalSection lock;  // first segment only
    // Search shortcuts in the reserved words. Requests of no_fit_from bytes
    // or more are known to find no block here (set by a failed search,
    // cleared by any change to the segment's blocks); no free block but the
    // anchor is larger than largest_free (raised whenever one grows, lowered
    // by searches that learn more).
    uint32_t no_fit_from;
    uint32_t largest_free;
    Block anchor;  // last: the segment's header ends with the anchor's header

    HVB_HEAP_INTERNAL bool Contains(const void* p) const {
        auto a = reinterpret_cast<uintptr_t>(p);
        auto s = reinterpret_cast<uintptr_t>(this);
        return a >= s && a - s < size;
    }
};

// Bytes of a segment before its anchor's data; a new segment of S bytes has an
// anchor of S - kSegmentHeader data bytes.
constexpr uint32_t kSegmentHeader = sizeof(Segment);
static_assert(offsetof(Segment, anchor) + kHeader == kSegmentHeader);
#if UINTPTR_MAX == 0xFFFFFFFFu
// The layout other 32-bit code sees: a 64-byte header and the anchor's.
static_assert(sizeof(Block) == 8);
static_assert(sizeof(Segment) == 72);
static_assert(offsetof(Segment, lock) == 32);
static_assert(offsetof(Segment, anchor) == 64);
#endif

struct StackBlock {
    StackBlock* next;
    StackBlock* current;  // first block only
    uint32_t growth;
    unsigned char* data;
    uint32_t capacity;
    uint32_t used;
    uint32_t reserved[2];
};
// The data area follows the header and stays 16-aligned.
static_assert(sizeof(StackBlock) % 16 == 0);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(StackBlock) == 32);
#endif

}  // namespace hvb_heap
