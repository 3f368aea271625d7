#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Tervane need.
# Skips apt entirely when every package is already there.
set -euo pipefail

packages=(
  build-essential cmake g++ clang-14 libclang-rt-14-dev clang-format clang-tidy
  libsqlite3-dev nlohmann-json3-dev nettle-dev libgtest-dev libgmock-dev libbenchmark-dev
  python3-prometheus-client
  snmp snmptrapd libsnmp-dev smitools sqlite3 systemd duktape unicode-data
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core xvfb xauth libx11-dev
  man-db groff-base
)
runtime=(build-essential cmake g++ libsqlite3-dev nlohmann-json3-dev nettle-dev libgtest-dev)
case "${1:-}" in
  --runtime) packages=("${runtime[@]}") ;;
  --demo) packages=("${runtime[@]}" snmp snmptrapd sqlite3) ;;
  # The Debian packages' build and check (scripts/package.sh), and the container that the
  # system test boots (scripts/system-test.sh).
  --package) packages=("${packages[@]}" debhelper dpkg-dev lintian) ;;
  --system-test) packages=(systemd-container mmdebstrap) ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
