#!/usr/bin/env bash
# The Windows command line under Wine beside the Linux one, in the same run: a full
# ATmega328 flash write (31744 bytes) and read against zarvik-sim --wire, which times
# every byte at the speed the host set. Prints the times each CLI reports for its own
# operation (without process start) and the wall time of the whole call, and the
# ratio Windows-under-Wine / Linux.
#
#   bench/wine_cli_bench.sh [ROUNDS]
#
# Speeds are 115200 and 230400: Wine 8 sets 76800, 100000, 125000 and 250000 as 38400,
# so the emulated wire would run at the wrong speed for those.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
native=build-bench-cli
win=build-bench-win
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARVIK_GUI=OFF -DZARVIK_TESTS=OFF >/dev/null
cmake --build "$native" -j2 --target zarvik-sim zarvik-cli >/dev/null
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DZARVIK_GUI=OFF -DZARVIK_TESTS=OFF >/dev/null
cmake --build "$win" -j2 --target zarvik-cli >/dev/null

export WINEPREFIX=$PWD/$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export ZARVIK_SERIAL_PORTS=COM5
link=$WINEPREFIX/zarvik-com5
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0  # not from a command substitution
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ ! -f "$WINEPREFIX/.zarvik-ready" ]; then
  mkdir -p "$WINEPREFIX"
  setsid wineboot -i >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$link" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null || true
  touch "$WINEPREFIX/.zarvik-ready"
fi
setsid wineserver -p >/dev/null 2>&1 </dev/null

srec_cat -generate 0 0x7C00 -random -o "$work/full.hex" -Intel -output_block_size 16
rm -f "$link"
"$native/src/zarvik-sim" --model ATmega328 --wire --link "$link" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# run NAME PORT CLI... : appends "name op speed reported_ms wall_ms" lines
run() {
  local name=$1 port=$2; shift 2
  for baud in 115200 230400; do
    for op in write read; do
      local args=(write flash "$work/full.hex")
      [ "$op" = read ] && args=(read flash "$work/$name.hex")
      local t0 t1 out code=0
      t0=$(now_ms)
      "$@" -p "$port" -b "$baud" -m ATmega328 --no-verify "${args[@]}" >"$work/out.txt" 2>&1 </dev/null || code=$?
      t1=$(now_ms)
      out=$(cat "$work/out.txt")
      if [ "$code" -ne 0 ]; then echo "$name $op $baud: exit $code: $out" >&2; continue; fi
      local reported
      reported=$(echo "$out" | sed -n 's/.*Время [^:]*: \([0-9]*\) ms.*/\1/p' | tail -1)
      echo "$name $op $baud ${reported:-0} $((t1 - t0))" >>"$work/results"
    done
  done
}
for _ in $(seq "$rounds"); do
  run linux "$link" "$native/src/zarvik-cli"
  run wine COM5 wine "$win/src/zarvik-cli.exe"
done
cmp -s "$work/linux.hex" "$work/wine.hex" && echo "read-back files: identical" || echo "read-back files: DIFFER"

echo "median of $rounds rounds, ms (reported by the CLI / wall time of the call)"
printf '%-6s %-7s %14s %14s %8s\n' op baud linux wine ratio
for op in write read; do
  for baud in 115200 230400; do
    med() { awk -v n="$1" -v o="$op" -v b="$baud" -v f="$2" '$1==n && $2==o && $3==b {print $f}' "$work/results" | sort -n |
      awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
    lr=$(med linux 4); lw=$(med linux 5); wr=$(med wine 4); ww=$(med wine 5)
    printf '%-6s %-7s %6s / %-6s %6s / %-6s %8s\n' "$op" "$baud" "$lr" "$lw" "$wr" "$ww" \
      "$(awk -v a="$wr" -v b="$lr" 'BEGIN {printf "%.3f", a / b}')"
  done
done
