# Sourced by the project's scripts: makes sure Debian packages are installed.
# As root the missing ones are installed; otherwise the exact apt-get line to
# run is printed and the script stops.

# Prints the packages among "$@" that are not installed.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s\n' "$p"
  done
}

# Installs (as root) or asks for (otherwise) the packages among "$@" that are missing.
ensure_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing >/dev/null
  else
    echo "Missing Debian packages. Run, as root:"
    echo "  apt-get install -y $missing"
    exit 1
  fi
}

# What every native build needs.
BRIX_BUILD_PACKAGES="cmake ninja-build g++ libgtest-dev libgmock-dev libsqlite3-dev python3"
# What the Windows builds and their tests under Wine need.
BRIX_WIN32_PACKAGES="g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick"
# What the ARM build and its tests under the emulator need (GoogleTest is built from source there).
BRIX_ARM_PACKAGES="g++-arm-linux-gnueabi qemu-user googletest"
# What the fault sweep needs (tools/fault_sweep.py, run by tools/test.sh where present).
BRIX_SWEEP_PACKAGES="strace"
# What the fuzz preset needs (tools/fuzz.sh only; the test run does not build it).
BRIX_FUZZ_PACKAGES="clang libclang-rt-dev"

# The SARIF validator the tests run on brixdev's SARIF logs (the SARIF SDK's multitool, from npm).
BRIX_SARIF_VALIDATOR_PACKAGE="@microsoft/sarif-multitool-linux@5.7.0"
BRIX_SARIF_VALIDATOR_PREFIX=/opt/brix-tools/sarif
BRIX_SARIF_VALIDATOR=$BRIX_SARIF_VALIDATOR_PREFIX/node_modules/@microsoft/sarif-multitool-linux/Sarif.Multitool

# Installs the SARIF validator as root where npm is present; elsewhere its test says that it is skipped.
ensure_sarif_validator() {
  [ -x "$BRIX_SARIF_VALIDATOR" ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v npm >/dev/null; then
    echo "SARIF validator missing (as root with npm: npm install --prefix $BRIX_SARIF_VALIDATOR_PREFIX $BRIX_SARIF_VALIDATOR_PACKAGE)"
    return 0
  fi
  echo "Installing: $BRIX_SARIF_VALIDATOR_PACKAGE"
  if npm install --prefix "$BRIX_SARIF_VALIDATOR_PREFIX" --no-audit --no-fund --loglevel=error \
      "$BRIX_SARIF_VALIDATOR_PACKAGE" >/dev/null && [ -f "$BRIX_SARIF_VALIDATOR" ]; then
    chmod a+rx "$BRIX_SARIF_VALIDATOR"
  else
    echo "SARIF validator could not be installed: its test will be skipped"
  fi
}
