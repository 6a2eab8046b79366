#!/bin/bash
# Builds the reader fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) and runs it for a
# bounded time. Fails on any finding. Usage: fuzz/run.sh [seconds]   (default 60)
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TVX_FUZZ_BUILD:-$root/build-fuzz}
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags -fsanitize=fuzzer-no-link" \
  -DCMAKE_CXX_FLAGS="$flags -fsanitize=fuzzer-no-link" \
  -DTVX_BUILD_TESTS=OFF -DTVX_BUILD_BENCH=OFF -DTVX_BUILD_TOOLS=OFF >/dev/null
ninja -C "$build" -j2 torvexin_static >/dev/null

inc="-I$root/include -I$root/src -I$root/tests -I$root/tests/reader -DTVX_BUILDING_LIBRARY"
support="$root/tests/reader/memory_disc.cpp $root/tests/reader/test_udf_image.cpp $root/tests/support/direct_transport.cpp"
# libudfread (libudfread-dev) is the second reader every file read is compared with.
udfread=$(pkg-config --cflags --libs libudfread)
clang++ -std=c++20 $flags -fsanitize=fuzzer $inc "$root/fuzz/reader_fuzzer.cpp" \
  "$root/fuzz/second_reader.cpp" $support "$build/libtorvexin.a" $udfread -lpthread -ldl \
  -o "$build/reader_fuzzer"
clang++ -std=c++20 $flags $inc "$root/fuzz/make_seeds.cpp" "$root/tests/reader/test_udf_image.cpp" \
  "$build/libtorvexin.a" -lpthread -ldl -o "$build/make_seeds"

corpus="$build/corpus"
mkdir -p "$corpus" "$build/findings"
"$build/make_seeds" "$corpus"
cd "$build/findings"
# Standard error is closed for the target: libudfread reports every damaged descriptor there.
# The fuzzer's and the sanitizers' reports still appear.
"$build/reader_fuzzer" "$corpus" -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 -close_fd_mask=2
echo "reader fuzzer: no findings in ${seconds}s"
