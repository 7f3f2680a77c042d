#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, ASan + UBSan) and runs each for a while on
# a copy of its seed corpus, as many at once as there are cores.
# Usage: scripts/fuzz.sh [seconds] [target...]   (default 60 s, every target the build has)
# Exits non-zero when a target crashes, leaks, trips a sanitizer or a check, or times out; the
# input that did it is kept in <build>/fuzz-findings/<target>/, each target's log in
# <build>/fuzz-logs/<target>.log. PW_FUZZ_BUILD sets the build
# folder (default build-fuzz), PW_FUZZ_JOBS the number of targets run at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
case $seconds in '' | *[!0-9]*) echo "fuzz: seconds must be a whole number: $seconds" >&2; exit 2 ;; esac

bash "$root/scripts/setup.sh"
build=${PW_FUZZ_BUILD:-$root/build-fuzz}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPW_FUZZ=ON -DPW_BUILD_TESTS=OFF -DPW_BUILD_BENCH=OFF >/dev/null
mapfile -t built < <(grep -v '^$' "$build/fuzz_targets.txt")
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${built[@]}")
for t in "${targets[@]}"; do
  if ! printf '%s\n' "${built[@]}" | grep -qx -- "$t"; then
    echo "fuzz: no target $t in this build (it has: ${built[*]})" >&2
    exit 2
  fi
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# Corpus copies and the targets' own files live in memory when /dev/shm is there: the
# settings target writes files on every run.
work=$(mktemp -d -p /dev/shm pw-fuzz.XXXXXX 2>/dev/null || mktemp -d -t pw-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
jobs=${PW_FUZZ_JOBS:-$(nproc)}

run_target() {
  local t=$1 dir="$work/$1" findings="$build/fuzz-findings/$1"
  mkdir -p "$dir/corpus" "$dir/tmp" "$findings"
  cp -R "$root/tests/fuzz/corpus/$t/." "$dir/corpus/"
  local rc=0
  # Absolute paths: the dispatch target's server changes the working directory.
  (cd "$dir" && TMPDIR="$dir/tmp" ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$dir/corpus" >"$dir/log" 2>&1) || rc=$?
  echo "$rc" >"$dir/rc"
  mkdir -p "$build/fuzz-logs"
  cp "$dir/log" "$build/fuzz-logs/$t.log"
}

running=0
for t in "${targets[@]}"; do
  echo "fuzz: $t for ${seconds} s"
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

failed=0
printf '%-26s %12s %8s  %s\n' target exec/s runs result
for t in "${targets[@]}"; do
  dir="$work/$t"
  rc=$(cat "$dir/rc" 2>/dev/null || echo 1)
  eps=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  result=ok
  if [ "$rc" != 0 ]; then
    result="FAILED (exit $rc), input kept in $build/fuzz-findings/$t/"
    failed=1
  fi
  printf '%-26s %12s %8s  %s\n' "$t" "${eps:-?}" "${runs:-?}" "$result"
done
for t in "${targets[@]}"; do
  dir="$work/$t"
  if [ "$(cat "$dir/rc" 2>/dev/null || echo 1)" != 0 ]; then
    echo "---- $t: end of its log"
    grep -v -e '^#' -e 'NEW_FUNC' "$dir/log" | tail -60
  fi
done
exit "$failed"
