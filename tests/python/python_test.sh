#!/bin/bash
# Installs the build into a temporary prefix and runs the Python tests with the installed
# package, which finds the installed library on its own, on two virtual recorders.
# Usage: python_test.sh BUILD_DIR PYTHON TEST_FILE
set -euo pipefail
build=$1 python=$2 tests=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > /dev/null
export PYTHONPATH=$work/prefix/lib/python3/dist-packages PYTHONDONTWRITEBYTECODE=1
export TVX_VIRTUAL_DRIVES="$work/dvd-r.img:dvd-r:4000;$work/dvd+rw.img:dvd+rw:4000"
export TVX_VIRTUAL_TIMING=fast TMPDIR=$work
unset TORVEXIN_LIBRARY
cp "$tests" "$work/" && cd "$work"
"$python" -m unittest -v "$(basename "${tests%.py}")" 2>&1 || exit 1
