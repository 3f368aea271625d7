#!/bin/sh
# Renders each manual page given as an argument the way man shows it, with every warning of
# man and groff on, and fails when anything appears on standard error, when man fails or
# renders nothing, or when lexgrog (what mandb uses to index a page) cannot read its NAME line.
# man exits 0 even when groff warns, so its standard error is what counts.
#
#   tests/man_pages_test.sh PAGE...
set -u

if [ "$#" -eq 0 ]; then
  echo "usage: $0 PAGE..." >&2
  exit 2
fi
for tool in man lexgrog; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is missing: install man-db and groff-base" >&2
    exit 1
  fi
done

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
for page in "$@"; do
  if [ ! -f "$page" ]; then
    echo "$page: no such file" >&2
    failed=1
    continue
  fi
  MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/out" 2>"$work/err"
  status=$?
  if [ "$status" -ne 0 ] || [ -s "$work/err" ]; then
    echo "$page: man exited with $status and printed:" >&2
    cat "$work/err" >&2
    failed=1
  elif ! grep -q '^NAME' "$work/out"; then
    echo "$page: the rendered page has no NAME section" >&2
    failed=1
  fi
  if ! lexgrog "$page" >"$work/name" 2>&1; then
    echo "$page: lexgrog cannot read its NAME line:" >&2
    cat "$work/name" >&2
    failed=1
  fi
done
exit "$failed"
