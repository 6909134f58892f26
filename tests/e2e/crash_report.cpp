// Faults in the way a scenario names, under the real crash reporter; prints
// the register values it set before faulting so the log can be checked.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/hvb.h"

namespace {

// Pattern-filled blocks the registers point to: 'A' for EAX, 'C' for ECX, ...
unsigned char g_blocks[5][256];
struct Registers {
    uint32_t eax, ecx, edx, esi, edi, ebp;
} g_registers;

void ReadNullWithKnownRegisters() {
    asm volatile(
        "pushl %%ebx\n"
        "pushl %%esi\n"
        "pushl %%edi\n"
        "pushl %%ebp\n"
        "movl $0x1234, %%ebx\n"
        "movl 20(%%eax), %%ebp\n"
        "movl 4(%%eax), %%ecx\n"
        "movl 8(%%eax), %%edx\n"
        "movl 12(%%eax), %%esi\n"
        "movl 16(%%eax), %%edi\n"
        "movl 0(%%eax), %%eax\n"
        "movl 0, %%ebx\n"
        "popl %%ebp\n"
        "popl %%edi\n"
        "popl %%esi\n"
        "popl %%ebx\n"
        :
        : "a"(&g_registers)
        : "ecx", "edx", "memory");
}

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    const char* scenario = argc > 1 ? argv[1] : "";
    const char patterns[5] = {'A', 'C', 'D', 'S', 'B'};
    for (int i = 0; i < 5; ++i) std::memset(g_blocks[i], patterns[i], sizeof g_blocks[i]);
    g_registers = {reinterpret_cast<uintptr_t>(g_blocks[0]), reinterpret_cast<uintptr_t>(g_blocks[1]),
                   reinterpret_cast<uintptr_t>(g_blocks[2]), reinterpret_cast<uintptr_t>(g_blocks[3]),
                   0xFFFFF000u,  // EDI: above 0x10000 but unreadable
                   reinterpret_cast<uintptr_t>(g_blocks[4])};
    std::printf("EAX=%08X ECX=%08X EDX=%08X ESI=%08X EDI=%08X EBP=%08X\n", g_registers.eax, g_registers.ecx,
                g_registers.edx, g_registers.esi, g_registers.edi, g_registers.ebp);
    std::fflush(stdout);
    if (std::strcmp(scenario, "access") == 0) {
        ReadNullWithKnownRegisters();
    } else if (std::strcmp(scenario, "divide") == 0) {
        volatile int zero = 0;
        std::printf("%d\n", 1 / zero);
    } else if (std::strcmp(scenario, "int3") == 0) {
        asm volatile("int3");
    } else if (std::strcmp(scenario, "raise-breakpoint") == 0) {
        RaiseException(EXCEPTION_BREAKPOINT, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "unknown") == 0) {
        RaiseException(0xE06D7363, 0, 0, nullptr);
    }
    std::printf("went on\n");
    std::fflush(stdout);
    return 0;
}
