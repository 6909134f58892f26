#include "core/memory.h"

#include <xmmintrin.h>

#include <cstring>

#include "core/hvb.h"

namespace {

using Byte = unsigned char;
using u32 = uint32_t;

inline void Store32(Byte* p, u32 v) { std::memcpy(p, &v, 4); }
inline u32 Load32(const Byte* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}

void FillTail(Byte* d, u32 pattern, u32 count) {
    while (count > 0 && (reinterpret_cast<uintptr_t>(d) & 3) != 0) {
        *d++ = static_cast<Byte>(pattern);
        --count;
    }
    for (; count >= 8; count -= 8, d += 8) {
        Store32(d, pattern);
        Store32(d + 4, pattern);
    }
    while (count-- > 0) *d++ = static_cast<Byte>(pattern);
}

void CopyForward(Byte* d, const Byte* s, u32 count) {
    while (count > 0 && (reinterpret_cast<uintptr_t>(d) & 3) != 0) {
        *d++ = *s++;
        --count;
    }
    for (; count >= 4; count -= 4, d += 4, s += 4) Store32(d, Load32(s));
    while (count-- > 0) *d++ = *s++;
}

// Copies backwards from the ends; d and s point one past the ranges.
void CopyBackward(Byte* d, const Byte* s, u32 count) {
    while (count > 0 && (reinterpret_cast<uintptr_t>(d) & 3) != 0) {
        *--d = *--s;
        --count;
    }
    for (; count >= 4; count -= 4) {
        d -= 4;
        s -= 4;
        Store32(d, Load32(s));
    }
    while (count-- > 0) *--d = *--s;
}

__attribute__((target("sse"))) void FillSse(Byte* d, u32 pattern, u32 count) {
    while ((reinterpret_cast<uintptr_t>(d) & 15) != 0) {
        *d++ = static_cast<Byte>(pattern);
        --count;
    }
    float f;
    std::memcpy(&f, &pattern, 4);
    const __m128 v = _mm_set1_ps(f);
    for (; count >= 16; count -= 16, d += 16) _mm_stream_ps(reinterpret_cast<float*>(d), v);
    _mm_sfence();
    FillTail(d, pattern, count);
}

__attribute__((target("sse"))) void MoveForwardSse(Byte* d, const Byte* s, u32 count) {
    while ((reinterpret_cast<uintptr_t>(d) & 15) != 0) {
        *d++ = *s++;
        --count;
    }
    if ((reinterpret_cast<uintptr_t>(s) & 15) == 0) {
        for (; count >= 32; count -= 32, d += 32, s += 32) {
            if (count > 512) _mm_prefetch(reinterpret_cast<const char*>(s) + 512, _MM_HINT_NTA);
            const __m128 a = _mm_load_ps(reinterpret_cast<const float*>(s));
            const __m128 b = _mm_load_ps(reinterpret_cast<const float*>(s + 16));
            _mm_stream_ps(reinterpret_cast<float*>(d), a);
            _mm_stream_ps(reinterpret_cast<float*>(d + 16), b);
        }
    } else {
        for (; count >= 16; count -= 16, d += 16, s += 16) {
            _mm_stream_ps(reinterpret_cast<float*>(d), _mm_loadu_ps(reinterpret_cast<const float*>(s)));
        }
    }
    _mm_sfence();
    CopyForward(d, s, count);
}

// d and s point one past the ranges. Every 16-byte block is loaded before it
// is stored, so overlap within a block cannot corrupt the copy.
__attribute__((target("sse"))) void MoveBackwardSse(Byte* d, const Byte* s, u32 count) {
    while ((reinterpret_cast<uintptr_t>(d) & 15) != 0) {
        *--d = *--s;
        --count;
    }
    for (; count >= 16; count -= 16) {
        d -= 16;
        s -= 16;
        _mm_stream_ps(reinterpret_cast<float*>(d), _mm_loadu_ps(reinterpret_cast<const float*>(s)));
    }
    _mm_sfence();
    CopyBackward(d, s, count);
}

bool SseEnabled() { return (zmrGetEnabledProcessorType() & ZMR_PROCESSOR_SSE) != 0; }

}  // namespace

void MemoryFillPlain(void* destination, int value, uint32_t count) {
    FillTail(static_cast<Byte*>(destination), 0x01010101u * static_cast<Byte>(value), count);
}

void MemoryFill(void* destination, int value, uint32_t count) {
    const u32 pattern = 0x01010101u * static_cast<Byte>(value);
    if (count >= 128 && SseEnabled()) {
        FillSse(static_cast<Byte*>(destination), pattern, count);
    } else {
        FillTail(static_cast<Byte*>(destination), pattern, count);
    }
}

static void Move(void* destination, const void* source, uint32_t count, bool sse) {
    auto* d = static_cast<Byte*>(destination);
    const auto* s = static_cast<const Byte*>(source);
    if (d == s || count == 0) return;
    if (s > d) {
        if (sse && count >= 128) MoveForwardSse(d, s, count);
        else CopyForward(d, s, count);
    } else {
        if (sse && count >= 128) MoveBackwardSse(d + count, s + count, count);
        else CopyBackward(d + count, s + count, count);
    }
}

void MemoryMovePlain(void* destination, const void* source, uint32_t count) {
    Move(destination, source, count, false);
}

void MemoryMove(void* destination, const void* source, uint32_t count) {
    Move(destination, source, count, SseEnabled());
}
