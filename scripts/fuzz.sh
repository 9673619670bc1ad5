#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each over its corpus.
#   scripts/fuzz.sh            a few seconds each (the test command runs this)
#   scripts/fuzz.sh 1000000    that many executions each
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
runs=${1:-}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_FUZZ=ON >/dev/null
cmake --build build-fuzz
failed=0
# Findings go to the build folder, never into the sources: keeping one as a regression
# input is a deliberate commit of a reviewed file.
findings=build-fuzz/findings
for target in hex_loader settings protocol elf_loader; do
  work=$(mktemp -d)
  regressions=fuzz/regressions/$target
  inputs=("fuzz/corpus/$target")
  [ -d "$regressions" ] && inputs+=("$regressions")
  if [ -n "$runs" ]; then
    limit=(-runs="$runs")
  else
    limit=(-max_total_time=4)
  fi
  # New inputs go to a scratch folder; the kept corpus and every past finding are read.
  # An input that hangs fails within seconds, not after libFuzzer's twenty minutes.
  if ! build-fuzz/fuzz/${target}_fuzz "${limit[@]}" -timeout=20 -print_final_stats=1 -artifact_prefix="$work/" \
       "$work" "${inputs[@]}" >"$work/log" 2>&1; then
    echo "fuzz $target: FAILED"; tail -40 "$work/log"; failed=1
    mkdir -p "$findings/$target"
    cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$findings/$target"/ 2>/dev/null || true
    echo "fuzz $target: inputs kept in $findings/$target (copy one to $regressions to keep it)"
  else
    echo "fuzz $target: $(grep -o 'number_of_executed_units: [0-9]*' "$work/log" | cut -d' ' -f2) executions, no finding"
  fi
  rm -rf "$work"
done
exit $failed
