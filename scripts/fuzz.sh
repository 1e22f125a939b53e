#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 10) on its seed
# corpus (fuzz/corpus/<target>/, when present). Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
  -DVELMORA_WERROR=ON >/dev/null
cmake --build build-fuzz --target velmora_fuzzers -j "$(nproc)"
shopt -s nullglob
for target in build-fuzz/fuzzers/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$work" "${seeds[@]}" 2>"build-fuzz/$name.log" \
    || { tail -n 40 "build-fuzz/$name.log"; exit 1; }
done
