# Cross-compiles the Windows executables with MinGW-w64 (64-bit).
# The runtime libraries are linked statically so that the programs start on a
# bare Windows installation (or under Wine) without extra DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRIX_MINGW_TRIPLET x86_64-w64-mingw32 CACHE STRING "MinGW-w64 target triplet")

# The posix thread model also provides std::thread and std::mutex; prefer it
# where the distribution ships both variants.
find_program(CMAKE_C_COMPILER NAMES ${BRIX_MINGW_TRIPLET}-gcc-posix ${BRIX_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${BRIX_MINGW_TRIPLET}-g++-posix ${BRIX_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${BRIX_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Wide-character Win32 API throughout.
set(CMAKE_C_FLAGS_INIT "-DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE")
