#include "fuzz_target.h"

#include "core/hvb.h"
#include "platform/platform.h"

namespace hvb_fuzz {

namespace {
volatile uint32_t g_kept;
plat::Answer AnswerNo(const char*, const char*, void*) { return plat::Answer::No; }
}  // namespace

void Keep(uint32_t value) { g_kept = g_kept + value; }

void InitializeOnce() {
    static const bool initialized = [] {
        // A failed allocation must come back as a result, never as a question
        // nobody is there to answer.
        plat::SetPromptHandler(&AnswerNo, nullptr);
        zmrInitializeLibrary();
        return true;
    }();
    (void)initialized;
}

}  // namespace hvb_fuzz
