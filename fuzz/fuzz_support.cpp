#include "fuzz_target.h"

#include <cstdio>
#include <cstdlib>

#include "core/heap_layout.h"
#include "core/hvb.h"
#include "platform/codepage.h"
#include "platform/platform.h"

namespace hvb_fuzz {

namespace {
volatile uint32_t g_kept;
plat::Answer AnswerNo(const char*, const char*, void*) { return plat::Answer::No; }
}  // namespace

void Keep(uint32_t value) { g_kept = g_kept + value; }

namespace {

// Headers lie in memory the sanitizer keeps poisoned.
HVB_HEAP_INTERNAL uint32_t LiveGlobalBlocks() {
    HVBHeap heap = hvbGetGlobalHeap();
    uint32_t live = 0;
    hvbHeapLock(heap);
    for (auto* seg = static_cast<hvb_heap::Segment*>(heap); seg != nullptr; seg = seg->next) {
        for (hvb_heap::Block* b = &seg->anchor;; b = b->Next()) {
            if (!b->Is(hvb_heap::kFree)) ++live;
            if (b->Is(hvb_heap::kLast)) break;
        }
    }
    hvbHeapUnlock(heap);
    return live;
}

bool g_counted = false;
uint32_t g_live = 0;

}  // namespace

void RunChecked(Target target, const uint8_t* data, size_t size) {
    target(data, size);
    const uint32_t after = LiveGlobalBlocks();
    if (!g_counted || after <= g_live) {
        g_live = after;
        g_counted = true;
        return;
    }
    target(data, size);
    const uint32_t again = LiveGlobalBlocks();
    if (again > after) {
        std::fprintf(stderr, "heap growth: %u live blocks of the global heap after the first input, %u after this one, "
                             "%u after it again: a library object is lost on every run\n",
                     g_live, after, again);
        std::abort();
    }
    g_live = again;
}

void InitializeOnce() {
    static const bool initialized = [] {
        // A failed allocation must come back as a result, never as a question
        // nobody is there to answer.
        plat::SetPromptHandler(&AnswerNo, nullptr);
        zmrInitializeLibrary();
        // The code page tables are made on first use, which takes long
        // enough under emulation to pass for a hang of the first input.
        WideChar wide[4];
        plat::AnsiToWide("\x82\xa0", -1, wide, 4);
        return true;
    }();
    (void)initialized;
}

}  // namespace hvb_fuzz

#if defined(HVB_LIBFUZZER)
// Before the first input, outside the time limit of each one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hvb_fuzz::InitializeOnce();
    return 0;
}
#endif
