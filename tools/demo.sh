#!/usr/bin/env bash
# The main job: checks the example package (examples/BrixCopy), installs it
# on a fresh simulated device and prints what the installer wrote to the debug
# output and what changed on the device; a second start shows that later
# starts only count. Then the device's files and registry.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
# shellcheck disable=SC2086
ensure_packages $BRIX_BUILD_PACKAGES

echo "=== Building the programs and brixdev (a first build takes a few minutes)"
cmake --preset default >/dev/null
# Through a pipe the build prints a line per step, also on a terminal, so a long first build is never silent.
cmake --build --preset default --target BrixCopy Brixparse brixdev | cat
echo

brixdev=build/default/brixdev/brixdev
device=build/demo-device
rm -rf "$device"

echo "=== brixdev check examples/BrixCopy"
status=0
findings=$("$brixdev" check examples/BrixCopy) || status=$?
[ -n "$findings" ] && printf '%s\n' "$findings"
# Findings (status 1) are part of the demonstration; a check that could not run (2) ends it.
[ "$status" -le 1 ] || exit "$status"
[ -n "$findings" ] || echo "(no findings)"
echo
echo "=== brixdev try examples/BrixCopy -d $device"
"$brixdev" try examples/BrixCopy -d "$device"
echo
echo "=== Second start of \\Storage Card\\BrixCopy.exe (debug output)"
BRIX_DEVICE="$PWD/$device" "$device/fs/Storage Card/BrixCopy.exe" 2>&1
echo
echo "=== Files on the device ($device/fs)"
(cd "$device/fs" && find . -type f | sed 's|^\.||; s|/|\\|g' | LC_ALL=C sort)
echo
echo "=== Device registry"
"$brixdev" -d "$device" reg export
