# The host target built with clang for coverage-guided fuzzing (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer); see scripts/fuzz.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(HVB_FUZZ ON CACHE BOOL "" FORCE)
