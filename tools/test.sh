#!/usr/bin/env bash
# Builds everything and runs every test: under AddressSanitizer and
# UndefinedBehaviorSanitizer the unit tests (on the fake) and the end-to-end
# tests (on the device simulator), the optimised native build with its
# end-to-end tests, the Windows builds with their end-to-end tests under Wine
# where the cross compiler is present, and the unit tests built for 32-bit ARM
# under qemu-arm where its cross compiler and emulator are present (as root the
# missing ones are installed).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
if [ "$(id -u)" -eq 0 ]; then
  # One apt-get run for everything: each run begins with a package index update.
  # shellcheck disable=SC2086
  ensure_packages $BRIX_BUILD_PACKAGES $BRIX_WIN32_PACKAGES $BRIX_ARM_PACKAGES $BRIX_SWEEP_PACKAGES
else
  # shellcheck disable=SC2086
  ensure_packages $BRIX_BUILD_PACKAGES
fi
ensure_sarif_validator

require_wine=OFF
if command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "=== Windows build (MinGW-w64)"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
  # Where this script installed Wine itself, its tests must not be skipped quietly.
  [ "$(id -u)" -eq 0 ] && require_wine=ON
else
  echo "=== Windows build skipped: the cross compiler is missing (apt-get install -y $BRIX_WIN32_PACKAGES)"
fi

if command -v arm-linux-gnueabi-g++ >/dev/null && command -v qemu-arm >/dev/null \
    && [ -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "=== ARM build (ARMv4T, 32-bit, soft float): unit tests under qemu-arm"
  arm_start=$SECONDS
  cmake --preset arm >/dev/null
  cmake --build --preset arm
  ctest --preset arm
  echo "=== ARM build and tests took $((SECONDS - arm_start)) s"
else
  echo "=== ARM build skipped: cross compiler, emulator or GoogleTest sources missing (apt-get install -y $BRIX_ARM_PACKAGES)"
fi

echo "=== Sanitizer build: AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
# The Windows builds' own checks (label win32, wine) do not depend on this build: run once, below.
ctest --preset asan -LE "wine|win32"

echo "=== Native build: the optimised programs, their end-to-end tests and the Windows builds' tests"
# The unit tests ran above under the sanitizers (and on ARM): not built twice.
cmake --preset default -DBRIX_REQUIRE_WINE=$require_wine -DBRIX_UNIT_TESTS=OFF >/dev/null
cmake --build --preset default
ctest --preset default

if command -v strace >/dev/null; then
  echo "=== Fault sweep (quick): the file, folder, lock and thread calls of an install, a counting start and an import failed in turn"
  sweep_status=0
  python3 tools/fault_sweep.py build/default --quick || sweep_status=$?
  # 77: strace cannot trace here (no ptrace in this sandbox), said by the sweep itself.
  [ "$sweep_status" -eq 0 ] || [ "$sweep_status" -eq 77 ] || exit "$sweep_status"
else
  echo "=== Fault sweep skipped: strace is missing (apt-get install -y $BRIX_SWEEP_PACKAGES)"
fi
