#!/usr/bin/env bash
# Installs what is needed, builds everything with warnings as errors under AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the fuzz targets for a short while, then every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON -DVELMORA_SANITIZE=ON
cmake --build build -j "$jobs"
scripts/fuzz.sh "${VELMORA_FUZZ_SECONDS:-10}"
cd build
ctest --output-on-failure -j "$jobs"
