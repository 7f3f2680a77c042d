#!/usr/bin/env bash
# Builds portwarden and runs it from a ready folder (run/) that holds a sample serverconfig.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build=$root/build
cmake -S "$root" -B "$build" -G Ninja -DPW_BUILD_TESTS=OFF -DPW_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target portwarden
mkdir -p "$root/run"
cp "$build/server/core/portwarden" "$root/run/portwarden"
[ -f "$root/run/serverconfig.txt" ] || cp "$root/server/serverconfig.sample.txt" "$root/run/serverconfig.txt"
exec "$root/run/portwarden"
