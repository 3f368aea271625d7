#!/usr/bin/env bash
# Renders the window Tervix into docs/screenshots/: each page at four sizes (with further
# stations on "General Settings", counters on "Service Control" and three users on "SNMPv3"),
# the "Add New", station and SNMPv3 user dialogs, the read-only window and the message that
# refuses a port, on a sample program folder. Runs the built tervix_screenshots under a private Xvfb server (xvfb-run), so it needs
# no display. BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target tervix_screenshots
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
  env QT_QPA_PLATFORM=xcb "$build/config/tervix_screenshots" docs/screenshots
