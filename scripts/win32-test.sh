#!/bin/bash
# Cross-builds Torvexin.dll and the Windows tests with MinGW-w64 and runs them under Wine
# (32-bit), headless. Usage: scripts/win32-test.sh [build-dir]   (default: build-win32)
# Installs the cross compiler and Wine when missing (Debian; root or sudo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-win32}
case "$build" in /*) ;; *) build=$root/$build ;; esac

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
command -v wine >/dev/null || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/share/i18n/locales/ja_JP ] || need+=(locales)
# The virtual recorders' layer reads drive reports with nlohmann/json, header-only: the build
# machine's headers serve the cross build.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  dpkg --print-foreign-architectures | grep -qx i386 || { $SUDO dpkg --add-architecture i386; }
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" -j"${TVX_JOBS:-2}"

# Wine: a prefix of our own, no display, no prompts for Mono or Gecko, no debug chatter, and
# the virtual recorders' WNASPI32.dll before Wine's own ASPI layer.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n,b"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# One server for the whole run, stopped on the way out. The prefix's services start here with
# their output going nowhere: started by a test, they would hold its output pipe open and ctest
# would wait for them.
wineserver -p </dev/null >/dev/null 2>&1 || true # already running: it stays
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i </dev/null >/dev/null 2>&1
ctest --test-dir "$build" -j"${TVX_JOBS:-2}" --output-on-failure
