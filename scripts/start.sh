#!/usr/bin/env bash
# Sets everything up, builds the program and starts it on the built-in demo
# installation (created under build/demo the first time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALIMOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"

demo="$root/build/demo-installation"
if [ -x "$build/app/dalimor" ]; then
  [ -d "$demo" ] || "$build/cli/dalimor-cli" demo "$demo"
  exec "$build/app/dalimor" --installation "$demo" "$@"
fi
exec "$build/cli/dalimor-cli" "$@"
