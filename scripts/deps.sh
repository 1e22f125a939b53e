#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (run as root).
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libsqlite3-dev libcurl4-openssl-dev libexpat1-dev libpcap-dev uuid-dev libssl-dev libsystemd-dev
  libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev
)
installed=$(dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null | grep -c 'install ok installed' || true)
if [ "$installed" -eq "${#packages[@]}" ]; then
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
