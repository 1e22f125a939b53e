#!/usr/bin/env bash
# The main job: builds everything, installs it into ./demo with its own runtime folder and
# registry hive, and runs the service in console mode with debug tracing on until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

demo="$root/demo"
app="$demo/Velmora"
export VELMORA_RUNTIME_DIR="$demo/runtime"
export VELMORA_REGISTRY="$demo/registry.reg"
export VELMORA_SESSION="${VELMORA_SESSION:-demo}"
mkdir -p "$VELMORA_RUNTIME_DIR"
scripts/install.sh --dist build/dist "$app"
cp packaging/qzdebug.ini "$app/qzdebug.ini"
trace="$app/$(sed -n 's/^debuglog=//p' packaging/qzdebug.ini)"

# The log host is started here, before the service, so that no early trace is lost while it
# comes up; the service then finds it running and leaves it be.
"$app/LogHost" &
loghost=$!
trap 'kill "$loghost" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -S "$VELMORA_RUNTIME_DIR/pipe/Log_ServerNamePipe" ] && break
  sleep 0.1
done

cat <<EOF

Velmora runs in $app (Ctrl+C stops it).
  traces         $trace
  configuration  $app/Config/Config.ini
  status block   $VELMORA_RUNTIME_DIR/global/KavoRmCallbackMMF (1064 bytes)
  registry hive  $VELMORA_REGISTRY
Try from another shell:
  VELMORA_RUNTIME_DIR=$VELMORA_RUNTIME_DIR VELMORA_REGISTRY=$VELMORA_REGISTRY VELMORA_SESSION=$VELMORA_SESSION \\
    $app/hvproxy-notify http://dangerous.example/ 40

EOF
# Ctrl+C reaches the service, which ends its run cleanly; the script then stops the log host.
"$app/Corvane" -console || true
echo "Velmora stopped; the traces are in $trace"
