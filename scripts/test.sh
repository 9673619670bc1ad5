#!/usr/bin/env bash
# Builds Zarvik with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test,
# then each fuzz target briefly over its corpus, then clang-tidy and cppcheck, then the
# Windows build under Wine (scripts/wine-test.sh, scripts/wine-window-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${ZARVIK_TEST_BUILD:-build-test}
# With the benchmarks: each one runs briefly among the tests (label "bench").
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARVIK_SANITIZE=ON -DZARVIK_BENCH=ON >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ZARVIK_SERIAL_PORTS=  # never the machine's own ports
# The tests read the programs' own (Russian) texts unless they ask for English.
export LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 | tee "$log"
ctest_status=${PIPESTATUS[0]}
set -e
passed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | awk '{print $1-$2}')
failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of.*/\1/p' "$log")
passed=${passed:-0}
failed=${failed:-1}
# ctest counts a skipped test among the passed ones; it is told apart here.
skipped=$(grep -c ' (Skipped)$' "$log" || true)
passed=$((passed - skipped))
for check in "bash scripts/fuzz.sh" "bash scripts/lint.sh" "bash scripts/package_test.sh"; do
  if $check; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
# The Windows build: cross-built with MinGW-w64, its tests and zarvik-cli.exe run under
# Wine against this build's zarvik-sim.
if bash scripts/wine-test.sh "$build"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
# The native window, zarvik.exe, worked through its control ids under Wine, and its
# installer.
if bash scripts/wine-window-test.sh "$build"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$ctest_status" -eq 0 ] && [ "$failed" -eq 0 ]
