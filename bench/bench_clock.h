// A monotonic clock for the benchmark programs. <chrono> cannot be used: its
// C++20 unit suffixes hold a character that has no CP932 form, and every
// project source is compiled with CP932 as the execution character set.
#pragma once

// Seconds since an arbitrary start.
double BenchSeconds();
