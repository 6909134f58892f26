// Asks the heap for more memory than the process can have, so that the retry
// question appears; prints what hvbHeapCreate returned.
#include <windows.h>

#include <cstdio>

#include "core/hvb.h"

int main() {
    zmrInitializeLibrary();
    // The address space is taken in pieces of 32 MiB until none is left: a
    // 128 MiB segment (one the heap accepts) cannot be had, while the holes
    // between the pieces leave the message box what it needs.
    constexpr SIZE_T kPiece = 32u << 20;
    int pieces = 0;
    while (VirtualAlloc(nullptr, kPiece, MEM_RESERVE, PAGE_NOACCESS) != nullptr) ++pieces;
    std::printf("reserved %d MiB\n", pieces * 32);
    HVBHeap heap = hvbHeapCreate(128u << 20, 0, 0);
    std::printf("heap %s\n", heap == nullptr ? "null" : "created");
    std::fflush(stdout);
    return heap == nullptr ? 0 : 1;
}
