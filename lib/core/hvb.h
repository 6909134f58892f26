/* The library's exported C interface: the heap family (hvb) and the library
   and task family (zmr). Plain C; every function uses the C calling
   convention. Sizes, flags, counts and results are 32-bit on every build;
   handles and addresses are pointers (32-bit in the product). */
#ifndef HVB_H
#define HVB_H

#include <stdint.h>

#if defined(_WIN32)
#define HVB_EXPORT __declspec(dllexport)
#else
#define HVB_EXPORT __attribute__((visibility("default")))
#endif
#if defined(__i386__) || defined(_M_IX86)
#define HVB_CDECL __attribute__((cdecl))
#else
#define HVB_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Heap flags, also per-call flags (the low 8 bits of a call's flags). */
#define HVB_HEAP_ZERO_MEMORY 0x01u
#define HVB_HEAP_NO_LOCK 0x02u

/* Processor-type flags. */
#define ZMR_PROCESSOR_MMX 0x02u
#define ZMR_PROCESSOR_SSE 0x08u

typedef void* HVBHeap;
typedef void* HVBStackHeap;

HVB_EXPORT HVBHeap HVB_CDECL hvbHeapCreate(uint32_t initial_size, uint32_t growth_size, uint32_t flags);
HVB_EXPORT int32_t HVB_CDECL hvbHeapDestroy(HVBHeap heap);
HVB_EXPORT void* HVB_CDECL hvbHeapAllocate(HVBHeap heap, uint32_t size, uint32_t flags);
HVB_EXPORT int32_t HVB_CDECL hvbHeapFree(HVBHeap heap, void* address, uint32_t flags);
HVB_EXPORT void* HVB_CDECL hvbHeapReallocate(HVBHeap heap, void* address, uint32_t new_size, uint32_t flags);
HVB_EXPORT int32_t HVB_CDECL hvbHeapGetLength(HVBHeap heap, const void* address);
HVB_EXPORT void HVB_CDECL hvbHeapLock(HVBHeap heap);
HVB_EXPORT void HVB_CDECL hvbHeapUnlock(HVBHeap heap);
HVB_EXPORT void HVB_CDECL hvbHeapDump(HVBHeap heap, int32_t maximum);
HVB_EXPORT HVBHeap HVB_CDECL hvbGetGlobalHeap(void);
HVB_EXPORT int32_t HVB_CDECL hvbFreeGlobalHeap(void);
HVB_EXPORT HVBStackHeap HVB_CDECL hvbStackHeapCreate(uint32_t initial_size, uint32_t growth_size, uint32_t unused);
HVB_EXPORT void* HVB_CDECL hvbStackHeapAllocate(HVBStackHeap heap, uint32_t size);
HVB_EXPORT void HVB_CDECL hvbStackHeapFree(HVBStackHeap heap);
HVB_EXPORT int32_t HVB_CDECL hvbStackHeapDestroy(HVBStackHeap heap);

HVB_EXPORT int32_t HVB_CDECL zmrInitializeLibrary(void);
HVB_EXPORT int32_t HVB_CDECL zmrCloseLibrary(void);
HVB_EXPORT int32_t HVB_CDECL zmrInitializeTask(void);
HVB_EXPORT int32_t HVB_CDECL zmrCloseTask(void);
HVB_EXPORT void HVB_CDECL zmrEnableProcessorType(uint32_t types);
HVB_EXPORT void HVB_CDECL zmrDisableProcessorType(uint32_t types);
HVB_EXPORT uint32_t HVB_CDECL zmrGetEnabledProcessorType(void);

#ifdef __cplusplus
}
#endif

#endif /* HVB_H */
