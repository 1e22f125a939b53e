#!/usr/bin/env bash
# Offline capture analysis beside tcpdump and tshark on one generated capture file of the
# benchmark's traffic mix: prints MB/s of each and the ratios to velmora-analyze.
# Needs tcpdump and tshark (benchmark only: apt-get install tcpdump tshark).
# Usage: bench/traffic/compare.sh [BUILD_DIR] [MEGABYTES]   (defaults: build-bench, 200)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
megabytes=${2:-200}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_WERROR=ON >/dev/null
fi
cmake --build "$build" --target velmora-analyze make-capture -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture=$work/mix.pcap
"$build/bench/make-capture" "$capture" "$megabytes"
bytes=$(stat -c %s "$capture")
# The kinds of traffic the classifier looks for: DNS queries, web requests to port 80, mail to
# port 25 and IRC in both directions.
filter='(udp.dstport == 53 && dns.flags.response == 0) || tcp.dstport == 80 || tcp.dstport == 25 || irc'

seconds_of() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# Warm the page cache so that every tool reads from memory.
cat "$capture" >/dev/null
ours=$(seconds_of "$build/dist/velmora-analyze" "$capture" --csv "$work/mix.csv")
tcpdump_s=$(seconds_of tcpdump -r "$capture" -w /dev/null)
tshark_s=$(seconds_of tshark -r "$capture" -Y "$filter" -w /dev/null)

awk -v bytes="$bytes" -v ours="$ours" -v td="$tcpdump_s" -v ts="$tshark_s" 'BEGIN {
  mb = bytes / 1048576
  printf "capture: %.1f MB\n", mb
  printf "%-40s %8.3f s %9.1f MB/s\n", "velmora-analyze (trace file written)", ours, mb / ours
  printf "%-40s %8.3f s %9.1f MB/s\n", "tcpdump -r FILE -w /dev/null", td, mb / td
  printf "%-40s %8.3f s %9.1f MB/s\n", "tshark -r FILE -Y FILTER -w /dev/null", ts, mb / ts
  printf "ratio velmora-analyze / tcpdump: %.2f\n", td / ours
  printf "ratio velmora-analyze / tshark:  %.2f\n", ts / ours
}'
