#!/bin/bash
# Sets up, builds the normal and the sanitizer configuration and runs the whole suite in both,
# then cross-builds Torvexin.dll and runs its tests under Wine (TVX_SKIP_WINDOWS=1 skips that).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
jobs=$(nproc)
for config in release sanitize; do
  dir=build-$config
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$config" = sanitize ] && opts=(-DCMAKE_BUILD_TYPE=Debug -DTVX_SANITIZE=ON -DTVX_BUILD_BENCH=OFF)
  cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $config"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
done
if [ "${TVX_SKIP_WINDOWS:-0}" != 1 ] && [ "$(dpkg --print-architecture)" = amd64 ]; then
  echo "== tests: 32-bit Windows under Wine"
  bash scripts/win32-test.sh
fi
