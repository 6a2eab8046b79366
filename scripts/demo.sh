#!/bin/bash
# The main job: install, build, burn the sample DVD-Video folder onto a virtual blank DVD-R with
# verification, show the disc, read a file back and compare it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_BUILD_TESTS=OFF \
  -DTVX_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo -j "$(nproc)"

tvx=build-demo/tools/tvx/tvx
out=${TVX_DEMO_DIR:-$PWD/demo-output}
mkdir -p "$out"
disc=$out/sample-dvd-r.img
rm -f "$disc" "$disc.state"
drive=(--virtual "$disc:dvd-r")

"$tvx" version
echo "== drives"
"$tvx" "${drive[@]}" drives
echo "== burning examples/sample-dvd onto a blank DVD-R, with verification"
"$tvx" "${drive[@]}" burn-dvd-video --verify --label SAMPLE_DVD examples/sample-dvd
echo "== the disc now"
"$tvx" "${drive[@]}" info
echo "== reading /VIDEO_TS/VIDEO_TS.IFO back"
"$tvx" "${drive[@]}" get /VIDEO_TS/VIDEO_TS.IFO "$out/VIDEO_TS.IFO"
cmp "$out/VIDEO_TS.IFO" examples/sample-dvd/VIDEO_TS/VIDEO_TS.IFO
echo "identical to examples/sample-dvd/VIDEO_TS/VIDEO_TS.IFO"
echo
echo "The disc image is $disc (sparse: a whole DVD-R of 4.7 GB, a few hundred KiB on disk)."
echo "Check it with a DVD player or: lsdvd $disc ; udfinfo $disc ; isoinfo -l -i $disc"
