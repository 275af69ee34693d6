# Cross-compiles for the device's CPU class: 32-bit little-endian ARM, soft
# float, the ARMv4T instruction set (Debian's arm-linux-gnueabi cross compiler),
# and runs the results under qemu-arm (Debian's qemu-user).
#
# Executables are linked statically, so the emulator needs no ARM sysroot to
# run them and CTest can run them, and list their tests, through
# CMAKE_CROSSCOMPILING_EMULATOR. The C and C++ runtimes linked in are the
# distribution's ARM builds (ARMv5TE): the emulated CPU is the oldest that runs
# them, while everything this project compiles stays within ARMv4T.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(BRIX_ARM_TRIPLET arm-linux-gnueabi CACHE STRING "ARM cross compiler triplet")
find_program(CMAKE_C_COMPILER NAMES ${BRIX_ARM_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${BRIX_ARM_TRIPLET}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIX_ARM_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ARM state (not Thumb), as the device's programs; -Wcast-align reports casts
# to a type with stricter alignment, which the device's CPU faults on.
# -Wno-psabi: GCC notes where its ARM calling convention changed in 7.1; no
# code built by an older compiler is linked here.
set(BRIX_ARM_FLAGS "-march=armv4t -marm -mfloat-abi=soft -mlittle-endian -Wcast-align -Wno-psabi")
set(CMAKE_C_FLAGS_INIT "${BRIX_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${BRIX_ARM_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(BRIX_QEMU_ARM NAMES qemu-arm qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIX_QEMU_ARM} -cpu arm926)
