// A fuzz target: one function over arbitrary bytes that must come back with
// one of the library's results, never a fault, a sanitizer report, a hang or
// an allocation the input does not justify.
//
// Built with libFuzzer each target is a program of its own; in the ordinary
// host build every target is linked into one replay program that runs the
// regression corpus.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hvb_fuzz {

using Target = void (*)(const uint8_t* data, size_t size);

struct Registration {
    Registration(const char* name, Target target);
};

// Largest input a target looks at; longer inputs reach no further paths.
constexpr size_t kMaxInput = 64 * 1024;

// Keeps a value computed from bytes under test, so the reads that made it
// are not optimised away.
void Keep(uint32_t value);

// Brings the library up once, with every question answered No and traces
// discarded.
void InitializeOnce();

// Runs the target on one input, then counts the global heap's live blocks.
// Every library object is a block there, inside segments that stay
// reachable, so the leak sanitizer never sees one lost: a count above the one
// after the first input runs the input again, and a second rise (a leak, not
// something made once on first use) is reported and aborts.
void RunChecked(Target target, const uint8_t* data, size_t size);

// Reads little pieces off the front of the input (options of a run).
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_ < kMaxInput ? size_ : kMaxInput; }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace hvb_fuzz

#if defined(HVB_LIBFUZZER)
#define HVB_FUZZ_TARGET(name)                                                    \
    static void name##Fuzz(const uint8_t* data, size_t size);                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {   \
        hvb_fuzz::InitializeOnce();                                             \
        hvb_fuzz::RunChecked(&name##Fuzz, data, size);                          \
        return 0;                                                               \
    }                                                                           \
    static void name##Fuzz(const uint8_t* data, size_t size)
#else
#define HVB_FUZZ_TARGET(name)                                                              \
    static void name##Fuzz(const uint8_t* data, size_t size);                             \
    static const hvb_fuzz::Registration name##Registration(#name, &name##Fuzz);           \
    static void name##Fuzz(const uint8_t* data, size_t size)
#endif
