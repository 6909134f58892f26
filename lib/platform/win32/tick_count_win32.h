// A 64-bit millisecond count on every Windows the programs run on, XP included.
#pragma once

#include <cstdint>

namespace plat::win32 {

// The count after `last` when the 32-bit system count reads `now`: a count
// below the last one seen has wrapped (every 49.7 days).
constexpr uint64_t NextTickCount(uint64_t last, uint32_t now) {
    uint64_t wraps = (last >> 32) + (now < static_cast<uint32_t>(last) ? 1 : 0);
    return wraps << 32 | now;
}

// GetTickCount64 where kernel32 has it (Vista and later), else the 32-bit
// count extended by the wraps this process has seen.
uint64_t TickCount64();

}  // namespace plat::win32
