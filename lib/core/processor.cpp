// Processor-type detection and the enabled processor types, which the
// library's routines with faster variants read at the time of use.
#include "core/processor.h"

#include "platform/platform.h"

namespace {

volatile uint32_t g_processor_types = 0;

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

extern "C" {

void zmrEnableProcessorType(uint32_t types) {
    if (types == 0) g_processor_types = DetectProcessorTypes();
    else g_processor_types = g_processor_types | types;
}

void zmrDisableProcessorType(uint32_t types) { g_processor_types = g_processor_types & ~types; }

uint32_t zmrGetEnabledProcessorType(void) { return g_processor_types; }

}  // extern "C"
