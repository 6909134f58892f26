// Byte fill and overlapping copy. Both take 16-byte non-temporal paths for
// 128 bytes and more when ZMR_PROCESSOR_SSE is enabled, so that large buffers
// do not evict the cache; results equal those of the plain paths.
#pragma once

#include <cstdint>

void MemoryFill(void* destination, int value, uint32_t count);
void MemoryMove(void* destination, const void* source, uint32_t count);

// The plain paths alone, whatever the processor flags say.
void MemoryFillPlain(void* destination, int value, uint32_t count);
void MemoryMovePlain(void* destination, const void* source, uint32_t count);
