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

// Deep enough to use up any thread's stack.
int Recurse(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth > 1000000) return 0;
    return Recurse(depth + 1) + frame[0];
}

// A view of a file that the test cuts to nothing behind the program's back
// (as a disc taken out under a mapped image): its pages are still there to
// VirtualQuery, but a read of them faults. Null when the file never shrinks.
const void* ViewOfVanishingFile() {
    const char path[] = "C:\\crash_view.bin";
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    static char bytes[65536];
    std::memset(bytes, 'S', sizeof bytes);
    DWORD written = 0;
    WriteFile(file, bytes, sizeof bytes, &written, nullptr);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) return nullptr;
    std::printf("view %s\n", path);
    std::fflush(stdout);
    for (int i = 0; i < 1200 && GetFileSize(file, nullptr) != 0; ++i) Sleep(50);
    return GetFileSize(file, nullptr) == 0 ? view : nullptr;
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
        // An idiv of its own: the compiler turns 1 / x into compares.
        int quotient = 1;
        const int zero = 0;
        asm volatile("cltd\n\tidivl %1" : "+a"(quotient) : "r"(zero) : "edx");
        std::printf("%d\n", quotient);
    } else if (std::strcmp(scenario, "int3") == 0) {
        asm volatile("int3");
    } else if (std::strcmp(scenario, "raise-breakpoint") == 0) {
        RaiseException(EXCEPTION_BREAKPOINT, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "unknown") == 0) {
        RaiseException(0xE06D7363, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "noncontinuable") == 0) {
        RaiseException(0xE0000001, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    } else if (std::strcmp(scenario, "raise-overflow") == 0) {
        RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "locked-overflow") == 0) {
        // The overflowing thread holds the library heap's lock.
        hvbHeapLock(nullptr);
        RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "stuck-overflow") == 0) {
        // And the process heap's, which the boxes need.
        hvbHeapLock(nullptr);
        HeapLock(GetProcessHeap());
        RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
    } else if (std::strcmp(scenario, "overflow") == 0) {
        std::printf("%d\n", Recurse(0));
    } else if (std::strcmp(scenario, "vanished") == 0) {
        const void* view = ViewOfVanishingFile();
        if (view == nullptr) return 3;
        g_registers.esi = reinterpret_cast<uintptr_t>(view);
        ReadNullWithKnownRegisters();
    }
    std::printf("went on\n");
    std::fflush(stdout);
    return 0;
}
