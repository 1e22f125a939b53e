#!/usr/bin/env bash
# The main job. Until the service runs, this builds every program, library and tool into
# build/dist/ and lists what was staged.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
echo "Staged in build/dist/:"
ls -1 build/dist
