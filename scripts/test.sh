#!/usr/bin/env bash
# Sets everything up, builds every test with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings as errors) and runs them all; then
# builds the core without the desktop program under clang with the fuzz
# targets and replays their corpora; last the Windows build (MinGW-w64, tests
# under Wine).  Any failure or sanitizer report fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)
build="$root/build/ci"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DDALIMOR_WERROR=ON -DDALIMOR_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900)

if command -v clang++ >/dev/null; then
  fuzz="$root/build/fuzz"
  cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DDALIMOR_WERROR=ON -DDALIMOR_BUILD_APP=OFF \
    -DDALIMOR_BUILD_TESTS=OFF -DDALIMOR_FUZZ=ON >/dev/null
  cmake --build "$fuzz" -j "$jobs"
  for target in "$fuzz"/fuzz/fuzz_*; do
    name=$(basename "$target")
    corpus="$root/fuzz/corpus/${name#fuzz_}"
    echo "Replaying $name on $corpus"
    "$target" -runs=0 "$corpus" 2>&1 | tail -n 2
    # A short fresh run on top of the corpus finds regressions the corpus
    # misses; new inputs go to a scratch folder, not into the repository.
    scratch=$(mktemp -d)
    "$target" -runs=20000 -max_total_time=20 -max_len=4096 -seed=1 "$scratch" "$corpus" 2>&1 | tail -n 1
    rm -rf "$scratch"
  done
fi
# The Windows build, its tests under Wine and the transfer compared with
# this build's dalimor-cli.
DALIMOR_LINUX_CLI="$build/cli/dalimor-cli" "$root/scripts/build-windows.sh"
echo "All tests passed."
