# The host target built natively with clang for coverage-guided fuzzing
# (libFuzzer, AddressSanitizer with LeakSanitizer, UndefinedBehaviorSanitizer);
# see scripts/fuzz.sh. The 32-bit layouts have toolchain-fuzz-i386.cmake.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(HVB_FUZZ ON CACHE BOOL "" FORCE)
