#!/bin/bash
# Builds an optimised configuration and runs every benchmark; each prints its figures and the
# target it is measured against. Needs a few GiB of free space in $TMPDIR. Timings are ratios
# measured in the same run; on a busy machine they vary from run to run.
# Usage: bash scripts/bench.sh [BENCHMARK...]   (default: all; e.g. scale_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
dir=build-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  benches=(vdrive_write_bench image_bench reader_bench burn_throughput scale_bench make_image_bench tvx_burn_bench)
fi
cmake --build "$dir" -j "$(nproc)" --target "${benches[@]}"
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$dir/bench/$bench"
done
