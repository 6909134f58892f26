// Walks a heap through its layout and checks the invariants of the block
// chain; the walk reads headers and free space, which the sanitizer build
// keeps poisoned.
#pragma once

#include <string>

#include "core/hvb.h"

struct HeapCensus {
    int segments = 0;
    int large_segments = 0;
    int empty_ordinary_segments = 0;
    int live_blocks = 0;
    int free_blocks = 0;
};

// Empty string when every invariant holds, else what is wrong.
std::string CheckHeap(HVBHeap heap, HeapCensus* census = nullptr);
