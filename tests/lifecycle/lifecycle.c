/* Library and task lifecycle from first initialisation to last close, and on
   win32 the exported C interface looked up by name in the running program. */
#include <stdio.h>
#include <string.h>

#include "core/hvb.h"

#if defined(_WIN32)
#include <windows.h>
#endif

static int g_failed = 0;
static int g_passed = 0;

#define CHECK(condition)                                                      \
    do {                                                                      \
        if (condition) {                                                      \
            ++g_passed;                                                       \
        } else {                                                              \
            ++g_failed;                                                       \
            printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
        }                                                                     \
    } while (0)

#if defined(_WIN32)
static void check_exports(void) {
    static const char* const names[] = {
        "hvbHeapCreate", "hvbHeapDestroy", "hvbHeapAllocate", "hvbHeapFree", "hvbHeapReallocate",
        "hvbHeapGetLength", "hvbHeapLock", "hvbHeapUnlock", "hvbHeapDump", "hvbGetGlobalHeap",
        "hvbFreeGlobalHeap", "hvbStackHeapCreate", "hvbStackHeapAllocate", "hvbStackHeapFree",
        "hvbStackHeapDestroy", "zmrInitializeLibrary", "zmrCloseLibrary", "zmrInitializeTask",
        "zmrCloseTask", "zmrEnableProcessorType", "zmrDisableProcessorType", "zmrGetEnabledProcessorType",
    };
    HMODULE self = GetModuleHandleA(NULL);
    size_t i;
    for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
        FARPROC proc = GetProcAddress(self, names[i]);
        if (proc == NULL) printf("not exported: %s\n", names[i]);
        CHECK(proc != NULL);
    }
    /* Call through the table, as a foreign caller would. */
    {
        typedef HVBHeap(__cdecl * Create)(uint32_t, uint32_t, uint32_t);
        typedef void*(__cdecl * Allocate)(HVBHeap, uint32_t, uint32_t);
        typedef int32_t(__cdecl * Length)(HVBHeap, const void*);
        typedef int32_t(__cdecl * Destroy)(HVBHeap);
        typedef uint32_t(__cdecl * Types)(void);
        Create create = (Create)(void*)GetProcAddress(self, "hvbHeapCreate");
        Allocate allocate = (Allocate)(void*)GetProcAddress(self, "hvbHeapAllocate");
        Length length = (Length)(void*)GetProcAddress(self, "hvbHeapGetLength");
        Destroy destroy = (Destroy)(void*)GetProcAddress(self, "hvbHeapDestroy");
        Types types = (Types)(void*)GetProcAddress(self, "zmrGetEnabledProcessorType");
        if (create && allocate && length && destroy && types) {
            HVBHeap heap = create(0, 0, 0);
            void* p = allocate(heap, 3, 0);
            CHECK(length(heap, p) == 8);
            CHECK(destroy(heap) != 0);
            CHECK(types() == zmrGetEnabledProcessorType());
        }
    }
}
#endif

int main(void) {
    void* leaked;

    /* Before the library exists there is no task slot. */
    CHECK(zmrInitializeTask() == -1);
    CHECK(zmrCloseTask() == -1);

    CHECK(zmrInitializeLibrary() == 0); /* the timer-resolution status */
    CHECK((zmrGetEnabledProcessorType() & ~(ZMR_PROCESSOR_MMX | ZMR_PROCESSOR_SSE)) == 0);
    CHECK(hvbGetGlobalHeap() != NULL);
    CHECK(zmrInitializeTask() == 2);
    CHECK(zmrCloseTask() == 1);

    /* A second initialisation only counts; its close keeps the heap. */
    {
        HVBHeap global = hvbGetGlobalHeap();
        zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
        CHECK(zmrInitializeLibrary() == 2);
        CHECK((zmrGetEnabledProcessorType() & ZMR_PROCESSOR_SSE) == 0); /* no second detection */
        CHECK(zmrCloseLibrary() == 1);
        CHECK(hvbGetGlobalHeap() == global);
        zmrEnableProcessorType(0);
    }

#if defined(_WIN32)
    check_exports();
#endif

    /* The last close lists what was never freed, then destroys the heap and
       reports that every segment went back to the system. */
    leaked = hvbHeapAllocate(NULL, 20, 0);
    memset(leaked, 0xAB, 20);
    CHECK(zmrCloseLibrary() == 1);
    CHECK(zmrInitializeTask() == -1); /* the slot is gone with the library */
    CHECK(hvbFreeGlobalHeap() == 0); /* nothing left to free */

    /* An allocation afterwards makes a new global heap; a new library starts over. */
    CHECK(hvbHeapAllocate(NULL, 8, 0) != NULL);
    CHECK(zmrInitializeLibrary() == 0);
    CHECK(zmrInitializeTask() == 2);
    CHECK(zmrCloseTask() == 1);
    CHECK(zmrCloseLibrary() == 1);

    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
