#!/usr/bin/env bash
# The main job: installs the example package (examples/device) into a fresh
# simulated device, prints the installer's debug output, then the files and
# registry the device holds afterwards. A second run shows that later runs
# only count.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
# shellcheck disable=SC2086
ensure_packages $BRIX_BUILD_PACKAGES

cmake --preset default >/dev/null
cmake --build --preset default --target BrixCopy Brixparse brixdev >/dev/null

build=build/default
device=build/demo-device
rm -rf "$device"
mkdir -p "$device/fs"
cp -R examples/device/. "$device/fs/"
cp "$build/installer/BrixCopy" "$device/fs/Storage/BrixCopy.exe"
cp "$build/regimport/Brixparse" "$device/fs/Storage/BrixCopy/Brixparse.exe"
export BRIX_DEVICE="$PWD/$device"

echo "=== First run of \\Storage\\BrixCopy.exe (debug output)"
"$device/fs/Storage/BrixCopy.exe" 2>&1
echo
echo "=== Second run (debug output)"
"$device/fs/Storage/BrixCopy.exe" 2>&1
echo
echo "=== Files on the device ($device/fs)"
(cd "$device/fs" && find . -type f | sed 's|^\.||; s|/|\\|g' | LC_ALL=C sort)
echo
echo "=== Device registry"
"$build/brixdev/brixdev" -d "$device" reg export
