#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time (default 60 seconds each).
#   fuzz/run.sh [seconds] [target...]
# Each target starts from its committed seed corpus in fuzz/corpus/<target>/; what it learns goes to
# build-fuzz/corpus/<target>/, so the committed seeds stay small. A crash leaves its input in
# build-fuzz/artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${ZELVANE_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELVANE_FUZZ=ON -DZELVANE_TESTS=OFF -DZELVANE_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
# libFuzzer reads a limit of 0 as none at all.
[ "$seconds" -gt 0 ] || exit 0

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  echo "== $target: ${seconds}s"
  log="$build/$target.log"
  status=0
  "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/${target}-" \
    "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|SUMMARY|artifact_prefix)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "$target: the fuzzer found a fault (log $log)" >&2
    exit 1
  fi
done
