// Entry point of every test program: brings up the library as a program of
// ours would, then runs the tests.
#include <gtest/gtest.h>

#include "core/hvb.h"
#include "runtime/crash_reporter.h"

namespace {

// A crashing test ends at once (Cancel: exit code 0xFFFFFFFF) instead of
// waiting on a message box nobody answers.
plat::Answer EndOnCrash(const char*, const char*, uint32_t buttons, void*) {
    return buttons == CrashYesNoCancel ? plat::Answer::Cancel : plat::Answer::No;
}
bool NoLogFile(char*, uint32_t, void*) { return false; }

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const CrashReporterHandler unattended = {EndOnCrash, NoLogFile, nullptr};
    SetCrashReporterHandler(&unattended);
    zmrInitializeLibrary();
    return RUN_ALL_TESTS();
}
