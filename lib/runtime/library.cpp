// Library and task initialisation, reference-counted per process and per
// thread. Processor-type detection is the core's (core/processor.h).
#include "runtime/library.h"

#include <cmath>
#include <cstring>

#include "core/memory.h"
#include "core/processor.h"
#include "platform/platform.h"
#include "runtime/crash_reporter.h"

double CosQuarterPi;
double TwoCosQuarterPi;
float* CosineTable[12];
float Idct4Matrix[4][4];
float Dct4Matrix[4][4];

namespace {

volatile int32_t g_library_count = 0;
uint32_t g_task_slot = plat::TlsOutOfIndexes;
float g_cosine_storage[4096];
bool g_tables_built = false;

struct TaskRecord {
    volatile int32_t count;
    GraphicsContext* graphics;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TaskRecord) == 8);
#endif

constexpr uint32_t kGraphicsContextSize = 3120;

TaskRecord* CurrentTask(bool create) {
    auto* task = static_cast<TaskRecord*>(plat::TlsGetValue(g_task_slot));
    if (task == nullptr && create) {
        task = static_cast<TaskRecord*>(hvbHeapAllocate(nullptr, sizeof(TaskRecord), 0));
        if (task == nullptr) return nullptr;
        task->count = 0;
        task->graphics = nullptr;
        plat::TlsSetValue(g_task_slot, task);
    }
    return task;
}

void BuildCosineTables() {
    if (g_tables_built) return;
    const long double pi = 3.14159265358979323846264338327950288L;
    CosQuarterPi = static_cast<double>(cosl(pi / 4));
    TwoCosQuarterPi = 2 * CosQuarterPi;
    CosineTable[0] = nullptr;
    float* next = g_cosine_storage;
    for (int i = 1; i <= 11; ++i) {
        const uint32_t n = 1u << i;
        CosineTable[i] = next;
        // The angle advances by repeated addition in double precision.
        volatile double angle = static_cast<double>(pi / (4 * n));
        const double step = static_cast<double>(2 * pi / (4 * n));
        for (uint32_t k = 0; k < n; ++k) {
            next[k] = static_cast<float>(cosl(static_cast<long double>(angle)));
            angle = angle + step;
        }
        next += n;
    }
    for (int u = 0; u < 4; ++u) {
        for (int v = 0; v < 4; ++v) {
            Idct4Matrix[u][v] = v == 0 ? 0.5f : static_cast<float>(cosl((2 * u + 1) * v * pi / 8));
            Dct4Matrix[u][v] = static_cast<float>(cosl(u * (2 * v + 1) * pi / 8));
        }
    }
    g_tables_built = true;
}

void ReleaseGraphicsContext(GraphicsContext* context) { hvbHeapDestroy(context->heap); }

}  // namespace

void InitializeFloatingPointState() {
    asm volatile("fninit");
    if (zmrGetEnabledProcessorType() & ZMR_PROCESSOR_SSE) {
        uint32_t mxcsr;
        asm volatile("stmxcsr %0" : "=m"(mxcsr));
        mxcsr &= ~0x6000u;
        asm volatile("ldmxcsr %0" : : "m"(mxcsr));
    }
}

GraphicsContext* GetTaskGraphicsContext() {
    if (g_task_slot == plat::TlsOutOfIndexes) zmrInitializeLibrary();
    TaskRecord* task = CurrentTask(true);
    if (task == nullptr) return nullptr;
    if (task->graphics == nullptr) {
        HVBHeap heap = hvbHeapCreate(0x4000, 0, HVB_HEAP_NO_LOCK);
        if (heap == nullptr) return nullptr;
        auto raw = reinterpret_cast<uintptr_t>(hvbHeapAllocate(heap, kGraphicsContextSize + 15, HVB_HEAP_ZERO_MEMORY));
        if (raw == 0) {
            hvbHeapDestroy(heap);
            return nullptr;
        }
        auto* context = reinterpret_cast<GraphicsContext*>((raw + 15) & ~uintptr_t{15});
        context->release = ReleaseGraphicsContext;
        context->heap = heap;
        context->one = 1.0f;
        context->two_to_32 = 4294967296.0f;
        task->graphics = context;
    }
    return task->graphics;
}

extern "C" {

int32_t zmrInitializeLibrary(void) {
    if (g_task_slot == plat::TlsOutOfIndexes) g_task_slot = plat::TlsAlloc();
    const int32_t count = plat::AtomicIncrement(&g_library_count);
    if (count != 1) return count;
    zmrEnableProcessorType(0);
    InitializeFloatingPointState();
    BuildCosineTables();
    hvbGetGlobalHeap();
    zmrInitializeTask();
    return static_cast<int32_t>(plat::BeginTimerPeriod(1));
}

int32_t zmrCloseLibrary(void) {
    const int32_t count = plat::AtomicDecrement(&g_library_count);
    if (count != 0) return count;
    zmrCloseTask();
    if (g_task_slot != plat::TlsOutOfIndexes) {
        plat::TlsFree(g_task_slot);
        g_task_slot = plat::TlsOutOfIndexes;
    }
    return hvbFreeGlobalHeap();
}

// The crash reporter is installed process-wide again by every thread's
// first task.
int32_t zmrInitializeTask(void) {
    if (g_task_slot == plat::TlsOutOfIndexes) return -1;
    TaskRecord* task = CurrentTask(true);
    if (task == nullptr) return -1;
    const int32_t count = plat::AtomicIncrement(&task->count);
    if (count != 1) return count;
    InitializeFloatingPointState();
    return InstallCrashReporter();
}

int32_t zmrCloseTask(void) {
    if (g_task_slot == plat::TlsOutOfIndexes) return -1;
    TaskRecord* task = CurrentTask(false);
    if (task == nullptr) return 0;
    const int32_t count = plat::AtomicDecrement(&task->count);
    if (count != 0) return count;
    if (task->graphics != nullptr) task->graphics->release(task->graphics);
    hvbHeapFree(nullptr, task, 0);
    return plat::TlsSetValue(g_task_slot, nullptr);
}

}  // extern "C"
