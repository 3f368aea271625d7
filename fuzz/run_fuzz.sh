#!/bin/sh
# Runs one fuzz target for a bounded time.
#   fuzz/run_fuzz.sh BUILD_DIR SECONDS [TARGET]
# TARGET is decode_fuzz (the default) or relay_fuzz. BUILD_DIR is a clang build configured
# with -DTERVANE_FUZZ=ON (see fuzz/CMakeLists.txt); the target is built there if needed. The
# seeds are the captured datagrams of tests/testdata/*.hex and fuzz/seeds/*.hex (and for
# relay_fuzz the SNMPv3 descriptions of fuzz/seeds/relay_v3/*.hex); the corpus
# grows in BUILD_DIR/fuzz-corpus/TARGET and any crashing input is written to
# BUILD_DIR/fuzz-artifacts/TARGET. The exit status is the fuzzer's: non-zero after a crash.
set -eu
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [decode_fuzz|relay_fuzz]" >&2
  exit 2
fi
build=$1
seconds=$2
target=${3:-decode_fuzz}
case $target in
  decode_fuzz | relay_fuzz) ;;
  *)
    echo "$0: unknown target $target (decode_fuzz or relay_fuzz)" >&2
    exit 2
    ;;
esac
here=$(cd "$(dirname "$0")" && pwd)

cmake --build "$build" --target "$target" -j2
seeds=$build/fuzz-seeds/$target
corpus=$build/fuzz-corpus/$target
artifacts=$build/fuzz-artifacts/$target
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$artifacts"

# Hex text -> bytes: drop comment lines, keep the hex digits.
unhex() {
  perl -ne 'next if /^\s*#/; s/[^0-9A-Fa-f]//g; $h .= $_; END { print pack("H*", $h) }' "$@"
}

# relay_fuzz reads a table of definitions before the datagram (see relay_fuzz.cc): its length
# in 2 bytes, then the table. Each capture seeds it three times: with no table, so that it is
# forwarded; with one definition that wraps it by binding 1 into two short pieces; and with
# one that cuts binding 20 into all 14 pieces, which with more than 20 bindings received makes
# the largest trap the relay sends.
wrapping_table='
  00 15                 # 21 bytes of table
  01                    # one row
  06                    # TrapOID: the received trap OID
  00 01  00 02  00 64   # TrapSourceVarNo 1, TrapNewVarNo 2, TrapNewNumber 100
  02                    # two variables:
  00 01  00 01  07 01   #   VarPos1 1, VarChar1 1, VarType1 DisplayString
  00 02  00 02  07 01   #   VarPos2 2, VarChar2 2, VarType2 DisplayString
'
every_piece_table() {
  # 93 bytes: one row, the received trap OID, TrapSourceVarNo 20, TrapNewVarNo 14,
  # TrapNewNumber 100, 14 variables; variable n is VarPos n, VarChar 2, DisplayString.
  echo '00 5d  01  06  00 14  00 0e  00 64  0e'
  for n in 1 2 3 4 5 6 7 8 9 10 11 12 13 14; do
    printf '00 %02x  00 02  07 01\n' "$n"
  done
}
# fuzz/seeds/relay_v3/*.hex are relay_fuzz's SNMPv3 descriptions (see v3_peer.h) in place of a
# datagram, seeded alike.
for hex in "$here"/../tests/testdata/*.hex "$here"/seeds/*.hex "$here"/seeds/relay_v3/*.hex; do
  case $hex in */relay_v3/*) [ "$target" = relay_fuzz ] || continue ;; esac
  name=$(basename "$hex" .hex)
  if [ "$target" = decode_fuzz ]; then
    unhex "$hex" > "$seeds/$name"
  else
    { printf '0000' | unhex; unhex "$hex"; } > "$seeds/$name-forwarded"
    { echo "$wrapping_table" | sed 's/#.*//' | unhex; unhex "$hex"; } > "$seeds/$name-wrapped"
    { every_piece_table | unhex; unhex "$hex"; } > "$seeds/$name-pieces"
  fi
done

exec "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$artifacts/" "$corpus" "$seeds"
