#!/bin/sh
# Runs the decoder's fuzz target for a bounded time.
#   fuzz/run_fuzz.sh BUILD_DIR SECONDS
# BUILD_DIR is a clang build configured with -DTERVANE_FUZZ=ON (see fuzz/CMakeLists.txt);
# decode_fuzz is built there if needed. The seeds are the captured datagrams of
# tests/testdata/*.hex; the corpus grows in BUILD_DIR/fuzz-corpus and any crashing input is
# written to BUILD_DIR/fuzz-artifacts. The exit status is the fuzzer's: non-zero after a crash.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
testdata=$here/../tests/testdata

cmake --build "$build" --target decode_fuzz -j2
seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$seeds" "$corpus" "$artifacts"

# Hex capture -> raw datagram: drop comment lines, keep the hex digits.
for hex in "$testdata"/*.hex; do
  name=$(basename "$hex" .hex)
  perl -ne 'next if /^\s*#/; s/[^0-9A-Fa-f]//g; $h .= $_; END { print pack("H*", $h) }' \
    "$hex" > "$seeds/$name"
done

exec "$build/fuzz/decode_fuzz" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$artifacts/" "$corpus" "$seeds"
