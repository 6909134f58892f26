// Entry point of every test program: brings up the library as a program of
// ours would, then runs the tests.
#include <gtest/gtest.h>

#include "core/hvb.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zmrInitializeLibrary();
    return RUN_ALL_TESTS();
}
