// A monotonic clock for the benchmark programs. <chrono> cannot be used: its
// C++20 unit suffixes hold a character that has no CP932 form, and every
// project source is compiled with CP932 as the execution character set.
#pragma once

#if defined(_WIN32)
#include <windows.h>
inline double BenchSeconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
#else
#include <time.h>
inline double BenchSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}
#endif
