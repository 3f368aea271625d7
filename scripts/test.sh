#!/usr/bin/env bash
# Builds Tervane and runs every test: the format check, the normal build, clang-tidy over its
# sources, the same tests under the address and undefined-behaviour sanitizers, and bounded
# fuzzing runs of the decoder and of the relay's per-trap path, as root where network
# namespaces work the active/standby pair on keepalived (scripts/ha-test.sh), then the
# Debian packages (scripts/package.sh, lintian included) and, as root where systemd-nspawn
# can be installed, the system test that installs them in a container booted with systemd
# (scripts/system-test.sh). Set TERVANE_FUZZ_SECONDS to change the time of each fuzzing run
# (default 120).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

echo "== format check"
files=$(git ls-files '*.cc' '*.h' 2>/dev/null || find . -name '*.cc' -o -name '*.h' | grep -v '^./build')
clang-format --dry-run --Werror $files

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

echo "== clang-tidy"
# The checks, and why those left out are out, are in .clang-tidy; any finding fails the run.
# Every translation unit of the normal build (build/compile_commands.json: service/, store/,
# platform/, tests/, bench/); the fuzz targets exist only in the clang fuzz build below.
# The *_test.cc files get every check but the static analyzer: in each test body it spends its
# whole budget inside GoogleTest's assertion macros, which made two thirds of this step's
# time, and the sanitizer build below runs the tests' paths anyway. (So tests/ fixtures are
# analyzed only where bench/ includes them: subprocess.h, hex_file.h.) The window's moc code,
# which CMake's AUTOMOC generates into *_autogen/mocs_compilation.cpp, is Qt's, not ours.
run-clang-tidy-14 -p build -j "$jobs" -quiet '^(?!.*(_test\.cc|_autogen/mocs_compilation\.cpp)$)'
run-clang-tidy-14 -p build -j "$jobs" -quiet -checks='-clang-analyzer-*' '_test\.cc$'

echo "== sanitizer build and test"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTERVANE_SANITIZE=ON -DTERVANE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan_suppressions.txt" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

echo "== fuzzing the decoder and the relay"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTERVANE_FUZZ=ON -DTERVANE_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target decode_fuzz relay_fuzz
for target in decode_fuzz relay_fuzz; do
  echo "-- $target"
  fuzz/run_fuzz.sh build-fuzz "${TERVANE_FUZZ_SECONDS:-120}" "$target"
done

echo "== active/standby pair on keepalived"
if [ "$(id -u)" -ne 0 ]; then
  echo "-- SKIPPED: the pair's test makes network namespaces and needs root"
elif ! ip netns add "tervane-probe-$$" 2>/dev/null; then
  echo "-- SKIPPED: ip netns does not work here (no network namespaces for the pair's test)"
else
  ip netns del "tervane-probe-$$"
  scripts/ha-test.sh build
fi

echo "== Debian packages"
scripts/package.sh build-deb

echo "== system test under systemd"
if [ "$(id -u)" -ne 0 ]; then
  echo "-- SKIPPED: the system test boots a container and needs root"
elif ! scripts/install-deps.sh --system-test || ! command -v systemd-nspawn >/dev/null; then
  echo "-- SKIPPED: systemd-nspawn could not be installed"
else
  scripts/system-test.sh build-deb
fi

echo "== all tests passed"
