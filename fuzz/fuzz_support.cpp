#include "fuzz_target.h"

#include "core/hvb.h"
#include "platform/codepage.h"
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
