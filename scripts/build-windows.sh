#!/usr/bin/env bash
# Cross-builds the core, dalimor-cli.exe and the core's tests for 64-bit
# Windows with MinGW-w64 into build/windows, runs the tests under Wine
# (headless, in a Wine prefix of its own under build/windows), then runs the
# same transfer with the Windows and the Linux dalimor-cli through folders
# with Czech names and spaces and compares the tables they leave.
# Installs the Debian packages it needs, skipping those present; uses sudo
# when not run as root.
#
#   scripts/build-windows.sh [--no-tests]
#
# DALIMOR_LINUX_CLI names the Linux dalimor-cli to compare with; without it
# an existing build's is taken, or one is built in build/windows-host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

packages=(
  cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
  wine wine64
)
missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
build="$root/build/windows"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DDALIMOR_BUILD_APP=OFF -DDALIMOR_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
echo "Built $build/cli/dalimor-cli.exe"
[ "$run_tests" = 1 ] || exit 0

# Wine without a display, without its debug chatter, in a prefix of its own;
# the prefix is made once (wineboot takes a while) and kept.
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix..."
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait || true
fi
# One server for the whole run, so that each program starts fast.  Its
# helper processes start here, away from the test runner's output pipes,
# which they would otherwise hold open until the server ends.
wineserver --persistent=60 || true
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900)

linux_cli=${DALIMOR_LINUX_CLI:-}
if [ -z "$linux_cli" ]; then
  for candidate in "$root"/build/{ci,dev,release}/cli/dalimor-cli; do
    if [ -x "$candidate" ]; then
      linux_cli=$candidate
      break
    fi
  done
fi
if [ -z "$linux_cli" ]; then
  host="$root/build/windows-host"
  cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDALIMOR_BUILD_APP=OFF \
    -DDALIMOR_BUILD_TESTS=OFF >/dev/null
  cmake --build "$host" -j "$jobs" --target dalimor-cli
  linux_cli="$host/cli/dalimor-cli"
fi
"$root/scripts/windows-transfer-check.sh" "$build/cli/dalimor-cli.exe" "$linux_cli"
wineserver --kill || true
echo "Windows build and tests passed."
