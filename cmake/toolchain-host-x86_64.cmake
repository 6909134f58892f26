# The host target natively on x86-64 Linux: the same code with pointer-sized
# fields, for the sanitizers that need a 64-bit process (LeakSanitizer among
# them), valgrind and callgrind, libFuzzer at full speed and honest benchmarks.
# File formats are the same bytes as on the 32-bit builds.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
