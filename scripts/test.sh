#!/bin/bash
# Sets up, builds the normal and the sanitizer configuration and runs the whole suite in both,
# then cross-builds Torvexin.dll and runs its tests under Wine (TVX_SKIP_WINDOWS=1 skips that).
# The Windows suite runs beside the sanitizer build and suite: most of its time is one emulated
# guest on one core, which would leave the other core idle.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
jobs=$(nproc)
windows=0
[ "${TVX_SKIP_WINDOWS:-0}" != 1 ] && [ "$(dpkg --print-architecture)" = amd64 ] && windows=1
windows_log=build-win32/test.log
windows_pid=
# A failure here ends the script: the Windows suite, in its own process group, ends with it.
trap '[ -n "$windows_pid" ] && kill -- -"$windows_pid" 2>/dev/null; true' EXIT
for config in release sanitize; do
  dir=build-$config
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$config" = sanitize ] && opts=(-DCMAKE_BUILD_TYPE=Debug -DTVX_SANITIZE=ON -DTVX_BUILD_BENCH=OFF)
  if [ "$config" = sanitize ] && [ $windows = 1 ]; then
    echo "== tests: 32-bit Windows under Wine, beside the sanitizer build (output at the end)"
    mkdir -p build-win32
    TVX_JOBS=1 setsid bash scripts/win32-test.sh > "$windows_log" 2>&1 &
    windows_pid=$!
  fi
  cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $config"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
done
if [ -n "$windows_pid" ]; then
  status=0
  wait "$windows_pid" || status=$?
  windows_pid=
  echo "== tests: 32-bit Windows under Wine"
  cat "$windows_log"
  [ $status -eq 0 ] || { echo "the Windows suite failed (exit $status)"; exit $status; }
fi
