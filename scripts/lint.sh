#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over src/; exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-lint
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARVIK_TESTS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# Only what clang-tidy reads that no source holds: the forms' headers, the moc files and
# the translation table. Compiling the whole program here as well would double the build.
generated=$(ninja -C "$build" -t targets all | sed -n 's/^\(src\/[^/:]*_autogen\): phony$/\1/p')
# shellcheck disable=SC2086  # one target a word
ninja -C "$build" $generated generated/translations.cpp >/dev/null
status=0
for tool in clang-tidy cppcheck; do
  command -v "$tool" >/dev/null || { echo "$tool: not installed, so nothing was checked"; exit 1; }
done
# Windows-only units (*_win.cpp, src/win/) are checked by the MinGW build, not here.
sources=$(find src -name '*.cpp' ! -name '*_win.cpp' ! -path 'src/win/*' | sort)
# Two at a time: the machines have two cores. A tool that does not run (no compile
# database, a crash, a source it cannot parse) fails the check: silence is not "clean".
set +e
echo "$sources" | xargs -P 2 -n 4 clang-tidy -p "$build" --quiet > "$build/tidy-all.txt" 2> "$build/tidy-err.txt"
tidy_status=$?
set -e
grep -E 'warning:|error:' -A3 "$build/tidy-all.txt" > "$build/tidy.txt" || true
if [ -s "$build/tidy.txt" ]; then
  echo "clang-tidy:"; cat "$build/tidy.txt"; status=1
elif [ "$tidy_status" -ne 0 ]; then
  echo "clang-tidy: did not run cleanly (exit $tidy_status):"; tail -20 "$build/tidy-err.txt"; status=1
else
  echo "clang-tidy: clean ($(echo $sources | wc -w) files)"
fi
if ! cppcheck --quiet --std=c++20 --language=c++ --enable=warning,performance,portability \
     --inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 -I src src 2> "$build/cppcheck.txt"; then
  echo "cppcheck:"; cat "$build/cppcheck.txt"; status=1
else
  echo "cppcheck: clean"
fi
exit $status
