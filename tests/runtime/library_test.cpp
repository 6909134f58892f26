#include <cpuid.h>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "core/hvb.h"
#include "core/processor.h"
#include "runtime/crash_reporter.h"
#include "runtime/library.h"

// The test program's main initialised the library once.
TEST(Library, FurtherInitialisationsOnlyCount) {
    EXPECT_EQ(zmrInitializeLibrary(), 2);
    EXPECT_EQ(zmrInitializeLibrary(), 3);
    HVBHeap global = hvbGetGlobalHeap();
    EXPECT_EQ(zmrCloseLibrary(), 2);
    EXPECT_EQ(zmrCloseLibrary(), 1);
    EXPECT_EQ(hvbGetGlobalHeap(), global) << "the global heap outlives the inner closes";
}

TEST(Library, TasksCountPerThread) {
    EXPECT_EQ(zmrInitializeTask(), 2) << "main's first task came with the library";
    EXPECT_EQ(zmrCloseTask(), 1);

    int32_t first = -1, second = -1, close = -1, close_again = -1;
    GraphicsContext* context = nullptr;
    std::thread worker([&] {
        first = zmrInitializeTask();
        second = zmrInitializeTask();
        context = GetTaskGraphicsContext();
        zmrCloseTask();
        close = zmrCloseTask();
        close_again = zmrCloseTask();
    });
    worker.join();
    EXPECT_EQ(first, InstallCrashReporter()) << "the previous filter is the reporter main's task installed";
    EXPECT_EQ(second, 2);
    EXPECT_NE(close, 0) << "the last close releases the record";
    EXPECT_EQ(close_again, 0) << "a thread without a task record";
    ASSERT_NE(context, nullptr);
}

TEST(Library, GraphicsContextIsAlignedAndReleasedWithTheTask) {
    std::thread worker([] {
        zmrInitializeTask();
        GraphicsContext* context = GetTaskGraphicsContext();
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(context) % 16, 0u);
        EXPECT_EQ(GetTaskGraphicsContext(), context) << "created once per thread";
        EXPECT_EQ(context->one, 1.0f);
        EXPECT_EQ(context->two_to_32, 4294967296.0f);
        EXPECT_NE(context->release, nullptr);
        EXPECT_NE(context->heap, nullptr);
        EXPECT_NE(zmrCloseTask(), 0);
    });
    worker.join();
}

// What the processor says of itself (the tests run on processors without SSE
// or MMX too).
uint32_t ProcessorFeatures() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    return ((d & bit_MMX) ? ZMR_PROCESSOR_MMX : 0u) | ((d & bit_SSE) ? ZMR_PROCESSOR_SSE : 0u);
}

TEST(Library, ProcessorTypes) {
    const uint32_t detected = zmrGetEnabledProcessorType();
    EXPECT_EQ(detected & ~(ZMR_PROCESSOR_MMX | ZMR_PROCESSOR_SSE), 0u) << "detection sets only MMX and SSE";
    EXPECT_EQ(DetectProcessorTypes(), detected);
    EXPECT_EQ(detected, ProcessorFeatures());

    zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
    EXPECT_EQ(zmrGetEnabledProcessorType(), detected & ~ZMR_PROCESSOR_SSE);
    zmrEnableProcessorType(0x05);
    EXPECT_EQ(zmrGetEnabledProcessorType(), (detected & ~ZMR_PROCESSOR_SSE) | 0x05u) << "explicit bits are stored unchecked";
    zmrEnableProcessorType(0);
    EXPECT_EQ(zmrGetEnabledProcessorType(), detected) << "0 detects afresh";
}

TEST(Library, CosineTables) {
    EXPECT_EQ(CosineTable[0], nullptr);
    EXPECT_DOUBLE_EQ(CosQuarterPi, std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(TwoCosQuarterPi, 2 * std::sqrt(0.5));
    const double pi = 3.14159265358979323846;
    EXPECT_FLOAT_EQ(CosineTable[1][0], static_cast<float>(std::cos(pi / 8)));
    EXPECT_FLOAT_EQ(CosineTable[1][1], static_cast<float>(std::cos(3 * pi / 8)));
    for (int i = 1; i <= 11; ++i) {
        const int n = 1 << i;
        ASSERT_NE(CosineTable[i], nullptr);
        for (int k = 0; k < n; ++k) {
            ASSERT_NEAR(CosineTable[i][k], std::cos((2 * k + 1) * pi / (4 * n)), 1e-6) << i << " " << k;
        }
    }
    EXPECT_EQ(Idct4Matrix[2][0], 0.5f);
    EXPECT_FLOAT_EQ(Idct4Matrix[1][1], static_cast<float>(std::cos(3 * pi / 8)));
    EXPECT_FLOAT_EQ(Dct4Matrix[0][3], 1.0f);
    EXPECT_FLOAT_EQ(Dct4Matrix[2][1], static_cast<float>(std::cos(6 * pi / 8)));
}

// On a processor without SSE only the x87 unit is set up, and nothing touches
// the SSE control register (which would fault there).
TEST(Library, FloatingPointStateIsRoundToNearest) {
    if (ProcessorFeatures() & ZMR_PROCESSOR_SSE) {
        uint32_t mxcsr = 0x6000;
        asm volatile("ldmxcsr %0" : : "m"(mxcsr));
        InitializeFloatingPointState();
        asm volatile("stmxcsr %0" : "=m"(mxcsr));
        EXPECT_EQ(mxcsr & 0x6000u, 0u);
    } else {
        InitializeFloatingPointState();
    }
    uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    EXPECT_EQ(control, 0x037F) << "x87 after FNINIT: round to nearest, 64-bit precision, all masked";
}
