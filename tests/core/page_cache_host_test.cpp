// Pages the heap gives back are kept for reuse on POSIX: what comes back must
// read as a fresh mapping does, and what is kept must stay within its bound.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

// The process's mapped address space, in bytes.
uint64_t MappedBytes() {
    unsigned long pages = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST(PageCache, RegionsComeBackZeroed) {
    for (uint32_t size : {1u, 4096u, 3 * 65536u + 100, 5u << 20}) {
        SCOPED_TRACE(size);
        auto* first = static_cast<uint8_t*>(plat::PageAllocate(size));
        ASSERT_NE(first, nullptr);
        std::memset(first, 0xAB, size);
        ASSERT_EQ(plat::PageRelease(first, size), 1);
        auto* again = static_cast<uint8_t*>(plat::PageAllocate(size));
        ASSERT_NE(again, nullptr);
        const std::vector<uint8_t> zeros(size, 0);
        EXPECT_EQ(std::memcmp(again, zeros.data(), size), 0);
        ASSERT_EQ(plat::PageRelease(again, size), 1);
    }
}

TEST(PageCache, KeepsNoMoreThanItsBound) {
    constexpr uint32_t kRegion = 1u << 20;
    constexpr uint64_t kBound = 64u << 20;
    const uint64_t before = MappedBytes();
    ASSERT_NE(before, 0u);
    std::vector<void*> regions;
    for (int i = 0; i < 160; ++i) {
        regions.push_back(plat::PageAllocate(kRegion));
        ASSERT_NE(regions.back(), nullptr);
    }
    for (void* p : regions) ASSERT_EQ(plat::PageRelease(p, kRegion), 1);
    // A few MiB of slack for whatever else the process maps meanwhile.
    EXPECT_LE(MappedBytes(), before + kBound + (8u << 20));
}
