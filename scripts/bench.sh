#!/bin/bash
# Builds an optimised configuration and runs every benchmark; each prints its figures and the
# target it is measured against. Needs a few GiB of free space in $TMPDIR. Timings are ratios
# measured in the same run; on a busy machine they vary from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
dir=build-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j "$(nproc)" --target vdrive_write_bench image_bench burn_throughput reader_bench \
  scale_bench
for bench in vdrive_write_bench image_bench reader_bench burn_throughput scale_bench; do
  echo "== $bench"
  "$dir/bench/$bench"
done
