// Asks the heap for more memory than the process can have, so that the retry
// question appears; prints what hvbHeapCreate returned and how often it asked.
#include <cstdio>

#include "core/hvb.h"

int main() {
    zmrInitializeLibrary();
    HVBHeap heap = hvbHeapCreate(0xFFFFF000u, 0, 0);
    std::printf("heap %s\n", heap == nullptr ? "null" : "created");
    std::fflush(stdout);
    return heap == nullptr ? 0 : 1;
}
