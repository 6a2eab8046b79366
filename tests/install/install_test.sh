#!/bin/bash
# Installs the build into a temporary prefix, moves the installed tree to another folder (nothing
# may depend on where it was installed), checks its files, and builds examples/burn_and_read.c
# against it through pkg-config and through find_package(Torvexin). Each program burns a folder
# onto a virtual DVD-R, reached through the installed ASPI layer module, and reads a file back.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION CC CXX CMAKE_GENERATOR [FLAGS]
set -euo pipefail
build=$1 source=$2 version=$3 cc=$4 cxx=$5 generator=$6 flags=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/staged" > "$work/install.log"
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

# The files and links.
so=$(cd "$prefix" && find . -name "libtorvexin.so.$version" -printf '%h\n')
[ -n "$so" ] || fail "libtorvexin.so.$version is not installed"
libdir=$prefix/${so#./}
[ -f "$prefix/include/torvexin.h" ] || fail "no include/torvexin.h"
[ "$(readlink "$libdir/libtorvexin.so.1")" = "libtorvexin.so.$version" ] || fail "libtorvexin.so.1 link"
[ "$(readlink "$libdir/libtorvexin.so")" = libtorvexin.so.1 ] || fail "libtorvexin.so link"
[ -f "$libdir/libtorvexin.a" ] || fail "no libtorvexin.a"
[ -f "$libdir/libwnaspi32.so" ] || fail "no libwnaspi32.so beside the library"
readelf -d "$libdir/libtorvexin.so.1" > "$work/dynamic.txt"
grep -q 'SONAME.*\[libtorvexin\.so\.1\]' "$work/dynamic.txt" || fail "soname"
grep -q 'R.*PATH.*\[\$ORIGIN\]' "$work/dynamic.txt" || fail "the library's run path is not \$ORIGIN"
if [ -e "$build/tools/tvx/tvx" ]; then
  "$prefix/bin/tvx" --help > /dev/null || fail "the installed tvx does not run"
  if [ -f "$source/tools/tvx/tvx.1" ]; then
    cmp "$source/tools/tvx/tvx.1" "$prefix/share/man/man1/tvx.1" || fail "man page"
  fi
fi

# Each program burns and reads on a virtual drive of its own.
burn_and_read() { # name program
  mkdir -p "$work/$1"
  TVX_VIRTUAL_DRIVES="$work/$1/disc.img:dvd-r:4000" TVX_VIRTUAL_TIMING=fast TMPDIR=$work/$1 \
    "$2" "$work/folder" /README.TXT > "$work/$1/out.txt" 2> "$work/$1/err.txt" ||
    { cat "$work/$1/err.txt" >&2; fail "$1: the example failed"; }
  tail -c "$(stat -c %s "$work/folder/README.TXT")" "$work/$1/out.txt" |
    cmp - "$work/folder/README.TXT" || fail "$1: the file read back differs"
}
mkdir -p "$work/folder/docs"
echo "Torvexin, installed" > "$work/folder/README.TXT"
head -c 100000 /dev/urandom > "$work/folder/docs/data.bin"
example=$source/examples/burn_and_read.c

# pkg-config: the prefix comes from the .pc file's place.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion torvexin)" = "$version" ] || fail "pkg-config version"
[ "$(pkg-config --variable=libdir torvexin | xargs realpath)" = "$(realpath "$libdir")" ] ||
  fail "pkg-config libdir is not the moved prefix's"
# shellcheck disable=SC2046,SC2086 # pkg-config's answer and the flags are lists of words
"$cc" $flags -std=c99 -Wall -Werror "$example" $(pkg-config --cflags --libs torvexin) \
  -Wl,-rpath,"$libdir" -o "$work/by-pkg-config"
# (ldd's answer is kept before it is searched: grep -q leaving early would fail the pipe.)
linked=$(ldd "$work/by-pkg-config")
grep -q "libtorvexin.so.1 => $libdir/" <<< "$linked" || fail "linked elsewhere: $linked"
burn_and_read pkg-config "$work/by-pkg-config"

# find_package: the shared library for a C program, and the static one; a request for another
# major version finds nothing.
mkdir -p "$work/consumer"
cat > "$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(consumer LANGUAGES C)
foreach(other 0.9 2.0)
  find_package(Torvexin \${other} QUIET)
  if(Torvexin_FOUND)
    message(FATAL_ERROR "Torvexin \${Torvexin_VERSION} claims to serve version \${other}")
  endif()
endforeach()
find_package(Torvexin $version REQUIRED)
add_executable(by_find_package "$example")
target_link_libraries(by_find_package PRIVATE Torvexin::torvexin)
enable_language(CXX) # the static library is C++ inside
add_executable(by_find_package_static "$example")
target_link_libraries(by_find_package_static PRIVATE Torvexin::torvexin_static)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" > "$work/consumer.log" ||
  { cat "$work/consumer.log" >&2; fail "find_package"; }
cmake --build "$work/consumer/build" >> "$work/consumer.log" ||
  { cat "$work/consumer.log" >&2; fail "building against the CMake package"; }
linked=$(ldd "$work/consumer/build/by_find_package")
grep -q "libtorvexin.so.1 => $libdir/" <<< "$linked" || fail "linked elsewhere: $linked"
burn_and_read find-package "$work/consumer/build/by_find_package"
linked=$(ldd "$work/consumer/build/by_find_package_static")
! grep -q libtorvexin <<< "$linked" || fail "not static: $linked"
# A program with the library inside finds the layer module on the library path.
LD_LIBRARY_PATH=$libdir burn_and_read find-package-static \
  "$work/consumer/build/by_find_package_static"
echo "install: files in place; built through pkg-config and find_package; burned and read back"
