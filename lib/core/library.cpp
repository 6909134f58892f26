// Library and task initialisation, reference-counted per process and per
// thread, and processor-type detection.
#include "core/library.h"

#include <cmath>
#include <cstring>

#include "core/crash_reporter.h"
#include "core/memory.h"
#include "platform/platform.h"

double CosQuarterPi;
double TwoCosQuarterPi;
float* CosineTable[12];
float Idct4Matrix[4][4];
float Dct4Matrix[4][4];

namespace {

volatile int32_t g_library_count = 0;
uint32_t g_task_slot = plat::TlsOutOfIndexes;
volatile uint32_t g_processor_types = 0;
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

// The probe runs as one piece of assembly so that the stack pointer does not
// move between the first probe instruction and the resume label: a fault in
// any probe instruction resumes at the label, keeping the flags found so far.
#if defined(_WIN32)
#define HVB_ASM_NAME(name) "_" #name
#define HVB_ASM_TYPE(name)
#else
#define HVB_ASM_NAME(name) #name
#define HVB_ASM_TYPE(name) ".type " #name ", @function\n"
#endif

extern "C" void HVB_CDECL hvb_probe_processor(uint32_t* types);
extern "C" const char hvb_probe_resume[];
extern "C" const char hvb_probe_end[];

// The probe's entry and exit, its flags test and its pointer register, for
// the word size at hand; the tests between are the same on both.
#if defined(__x86_64__)
#define HVB_PROBE_ENTER "  pushq %rbx\n  pushq %rsi\n  movq %rdi, %rsi\n"
#define HVB_PROBE_TOGGLE_AC \
    "  pushfq\n  popq %rax\n  movq %rax, %rcx\n  xorq $0x40000, %rax\n  pushq %rax\n  popfq\n" \
    "  pushfq\n  popq %rax\n  pushq %rcx\n  popfq\n  xorq %rcx, %rax\n"
#define HVB_PROBE_TYPES "(%rsi)"
#define HVB_PROBE_LEAVE "  popq %rsi\n  popq %rbx\n  ret\n"
#else
#define HVB_PROBE_ENTER "  pushl %ebx\n  pushl %esi\n  movl 12(%esp), %esi\n"
#define HVB_PROBE_TOGGLE_AC \
    "  pushfl\n  popl %eax\n  movl %eax, %ecx\n  xorl $0x40000, %eax\n  pushl %eax\n  popfl\n" \
    "  pushfl\n  popl %eax\n  pushl %ecx\n  popfl\n  xorl %ecx, %eax\n"
#define HVB_PROBE_TYPES "(%esi)"
#define HVB_PROBE_LEAVE "  popl %esi\n  popl %ebx\n  ret\n"
#endif

asm(".text\n"
    ".globl " HVB_ASM_NAME(hvb_probe_processor) "\n"
    HVB_ASM_TYPE(hvb_probe_processor)
    HVB_ASM_NAME(hvb_probe_processor) ":\n"
    HVB_PROBE_ENTER
    "  movl $0, " HVB_PROBE_TYPES "\n"
    // An 80386 cannot toggle the alignment-check flag.
    HVB_PROBE_TOGGLE_AC
    "  testl $0x40000, %eax\n"
    "  jz 1f\n"
    "  xorl %eax, %eax\n"
    "  cpuid\n"
    "  cmpl $1, %eax\n"
    "  jb 1f\n"
    "  movl $1, %eax\n"
    "  cpuid\n"
    "  testl $0x800000, %edx\n"
    "  jz 2f\n"
    "  pcmpeqd %mm0, %mm0\n"
    "  movd %mm0, %eax\n"
    "  emms\n"
    "  cmpl $0xFFFFFFFF, %eax\n"
    "  jne 2f\n"
    "  orl $0x02, " HVB_PROBE_TYPES "\n"
    "2:\n"
    "  testl $0x2000000, %edx\n"
    "  jz 1f\n"
    "  xorps %xmm0, %xmm0\n"
    "  xorps %xmm1, %xmm1\n"
    "  cmpeqps %xmm0, %xmm0\n"
    "  movhlps %xmm1, %xmm0\n"
    "  pcmpeqd %mm0, %mm0\n"
    "  xorl %eax, %eax\n"
    "  pinsrw $0, %eax, %mm0\n"
    "  movd %mm0, %eax\n"
    "  emms\n"
    "  cmpl $0xFFFF0000, %eax\n"
    "  jne 1f\n"
    "  orl $0x08, " HVB_PROBE_TYPES "\n"
    ".globl " HVB_ASM_NAME(hvb_probe_resume) "\n"
    HVB_ASM_NAME(hvb_probe_resume) ":\n"
    "1:\n"
    HVB_PROBE_LEAVE
    ".globl " HVB_ASM_NAME(hvb_probe_end) "\n"
    HVB_ASM_NAME(hvb_probe_end) ":\n");

uint32_t DetectProcessorTypes() {
    volatile uint32_t types = 0;
    plat::ArmFaultResume(reinterpret_cast<const void*>(&hvb_probe_processor), hvb_probe_end, hvb_probe_resume);
    hvb_probe_processor(const_cast<uint32_t*>(&types));
    plat::DisarmFaultResume();
    return types;
}

void InitializeFloatingPointState() {
    asm volatile("fninit");
    if (g_processor_types & ZMR_PROCESSOR_SSE) {
        uint32_t mxcsr;
        asm volatile("stmxcsr %0" : "=m"(mxcsr));
        mxcsr &= ~0x6000u;
        asm volatile("ldmxcsr %0" : : "m"(mxcsr));
    }
}

GraphicsContext* GetTaskGraphicsContext() {
    if (g_task_slot == plat::TlsOutOfIndexes) zmrInitializeLibrary();
    TaskRecord* task = CurrentTask(true);
    if (task->graphics == nullptr) {
        HVBHeap heap = hvbHeapCreate(0x4000, 0, HVB_HEAP_NO_LOCK);
        if (heap == nullptr) return nullptr;
        auto raw = reinterpret_cast<uintptr_t>(hvbHeapAllocate(heap, kGraphicsContextSize + 15, HVB_HEAP_ZERO_MEMORY));
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

void zmrEnableProcessorType(uint32_t types) {
    if (types == 0) g_processor_types = DetectProcessorTypes();
    else g_processor_types = g_processor_types | types;
}

void zmrDisableProcessorType(uint32_t types) { g_processor_types = g_processor_types & ~types; }

uint32_t zmrGetEnabledProcessorType(void) { return g_processor_types; }

}  // extern "C"
