// Process-wide and per-thread state of the library beyond the exported C
// functions of hvb.h: the shared cosine tables and the task's graphics context.
#pragma once

#include <cstdint>

#include "core/hvb.h"

// Built once by the first zmrInitializeLibrary. CosineTable[i] (i = 1..11)
// holds N = 2^i entries cos((2k + 1)·π / (4N)); CosineTable[0] is null.
extern double CosQuarterPi;
extern double TwoCosQuarterPi;
extern float* CosineTable[12];
extern float Idct4Matrix[4][4];
extern float Dct4Matrix[4][4];

// The per-thread rendering context; only its head is defined here, the rest
// of its 3120 bytes belongs to the rendering routines.
struct GraphicsContext {
    void (*release)(GraphicsContext* context);
    HVBHeap heap;
    float one;
    float two_to_32;
};

// The calling thread's graphics context, created on first use.
GraphicsContext* GetTaskGraphicsContext();

// Resets the calling thread's x87 unit (round to nearest, 64-bit precision,
// exceptions masked) and, with SSE enabled, SSE rounding to nearest.
void InitializeFloatingPointState();

