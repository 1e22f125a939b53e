#!/usr/bin/env bash
# Installs Velmora once: copies the staged programs (build/dist/) into a folder and writes the
# registry values that the product's installer owns. The hive is $VELMORA_REGISTRY (default
# /etc/velmora/registry.reg).
#
#   scripts/install.sh [options] TARGET_FOLDER
#     --dist DIR          staged programs to copy (default: build/dist beside this script)
#     --lang N            the updater's language id, a single bit (default 1)
#     --blocking 0|1      whether the URL filter blocks dangerous pages (default 1)
#     --no-proxy          the local web proxy is not installed ("InstQuor" 0)
#     --ovu-source URL    the update server (default https://update.velmora.example/ovu)
#     --allow-disable N   1 lets the tray stop the product (default 1)
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
dist="$here/build/dist"
lang=1
blocking=1
instquor=1
ovu_source="https://update.velmora.example/ovu"
allow_disable=1
target=""

usage() {
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --dist) dist="$2"; shift 2 ;;
    --lang) lang="$2"; shift 2 ;;
    --blocking) blocking="$2"; shift 2 ;;
    --no-proxy) instquor=0; shift ;;
    --ovu-source) ovu_source="$2"; shift 2 ;;
    --allow-disable) allow_disable="$2"; shift 2 ;;
    -h|--help) usage ;;
    -*) echo "install.sh: unknown option $1" >&2; usage ;;
    *) [ -z "$target" ] || usage; target="$1"; shift ;;
  esac
done
[ -n "$target" ] || usage
for number in "$lang" "$blocking" "$allow_disable"; do
  [[ "$number" =~ ^[0-9]+$ ]] || { echo "install.sh: $number is not a number" >&2; exit 2; }
done
[ -x "$dist/Corvane" ] || { echo "install.sh: no staged Corvane in $dist (build first)" >&2; exit 1; }

mkdir -p "$target"
cp -a "$dist/." "$target/"
reg="$target/velmora-reg"
product='HKLM\SOFTWARE\Halvard\Halvard Velmora\CurrentVersion'

# The product's version is at most nine characters: the service reads it into 20 bytes.
version="$(sed -n 's/^project(Velmora VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"
version="${version:-1.0.0.1}"

"$reg" add "$product" /v Version /t REG_SZ /d "${version:0:9}" /f >/dev/null
"$reg" add "$product" /v ProductName /t REG_SZ /d "Halvard Velmora" /f >/dev/null
"$reg" add "$product" /v Lang /t REG_DWORD /d "$lang" /f >/dev/null
"$reg" add "$product" /v Blocking /t REG_DWORD /d "$blocking" /f >/dev/null
"$reg" add "$product" /v InstQuor /t REG_DWORD /d "$instquor" /f >/dev/null
"$reg" add "$product" /v OVUID /t REG_DWORD /d 194 /f >/dev/null
"$reg" add "$product" /v OVUSource /t REG_SZ /d "$ovu_source" /f >/dev/null
"$reg" add "$product" /v AllowDisable /t REG_DWORD /d "$allow_disable" /f >/dev/null

if [ "$instquor" = 1 ]; then
  # The keys the local web proxy's own installer creates and the service writes into.
  "$reg" add 'HKLM\SOFTWARE\Halvard\Quor\Hvproxy\ProtocolHandler\http\redirect\Proxy' /f >/dev/null
  "$reg" add 'HKLM\SOFTWARE\Halvard\Quor\Hvproxy\Scan\Common\URLFilter\config' /v EnableHvufeDns /t REG_DWORD /d 0 /f >/dev/null
fi

echo "Installed into $target (registry hive: ${VELMORA_REGISTRY:-/etc/velmora/registry.reg})"
