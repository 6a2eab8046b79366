#!/bin/bash
# The main job: sets up, builds, and shows the library at work.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-release -j "$(nproc)"
./build-release/tests/c_api/c_header_test
