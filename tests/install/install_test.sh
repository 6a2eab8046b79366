#!/bin/bash
# Installs the build into a temporary prefix, moves the installed tree to another folder (nothing
# may depend on where it was installed), checks its files, and builds examples/burn_and_read.c
# against it through pkg-config and through find_package(Torvexin). Each program burns a folder
# onto a virtual DVD-R, reached through the installed ASPI layer module, and reads a file back.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION CC CMAKE_GENERATOR [FLAGS]
set -euo pipefail
build=$1 source=$2 version=$3 cc=$4 generator=$5 flags=${6:-}
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
# The layer module is the library's own: in its private folder, not among the public libraries.
layer=$libdir/torvexin/libwnaspi32.so
[ -f "$layer" ] || fail "no torvexin/libwnaspi32.so beside the library"
[ ! -e "$libdir/libwnaspi32.so" ] || fail "libwnaspi32.so in the public library folder"
# The archive holds the library only: nothing of the tests' simulation host or test framework.
defined=$(nm -C --defined-only "$libdir/libtorvexin.a" 2> /dev/null)
for stranger in 'tvx::SimHost' 'tvx::VirtualClock' 'testing::' 'tvx::test::'; do
  ! grep -qF "$stranger" <<< "$defined" || fail "libtorvexin.a defines $stranger"
done
readelf -d "$libdir/libtorvexin.so.1" > "$work/dynamic.txt"
grep -q 'SONAME.*\[libtorvexin\.so\.1\]' "$work/dynamic.txt" || fail "soname"

# Code loads only from where it should. A run path entry that is empty or relative is read from
# the current directory, which may be anyone's: every entry is absolute or starts at $ORIGIN,
# in the build tree as installed.
check_run_path() { # file
  local path
  path=$(readelf -d "$1" | sed -n 's/.*(R[UN]*PATH)[^[]*\[\(.*\)\]$/\1/p')
  [ -n "$path" ] || return 0
  awk -F: '{ for (i = 1; i <= NF; i++) if ($i !~ /^(\/|\$ORIGIN|\$\{ORIGIN\})/) bad = 1 } END { exit bad }' \
    <<< "$path" || fail "$1: run path [$path] has an empty or relative entry"
}
check_run_path "$libdir/libtorvexin.so.1"
check_run_path "$layer"
check_run_path "$build/libtorvexin.so.$version"
if [ -e "$build/tools/tvx/tvx" ]; then
  "$prefix/bin/tvx" --help > /dev/null || fail "the installed tvx does not run"
  # tvx takes the image builder from the static library and every TVX_* function from the
  # shared one: a second copy of the library's state would be a second library.
  defined=$(nm --defined-only "$build/tools/tvx/tvx")
  ! grep -q ' T TVX_' <<< "$defined" || fail "tvx defines TVX_* functions of its own"
  check_run_path "$build/tools/tvx/tvx"
  check_run_path "$prefix/bin/tvx"
  # Libraries planted in the current directory, or on the library path, never run: not the
  # system's (libgcc_s.so.1, which tvx needs) and not the ASPI layer module, not even in a tree
  # that lacks the real module, where a planted one sits beside the library instead.
  planted=$work/planted onpath=$work/onpath
  mkdir -p "$planted" "$onpath"
  printf '#include <stdio.h>\n__attribute__((constructor)) static void planted(void) {\n  FILE* f = fopen("%s/ran", "a");\n  if (f) { fputs("planted code ran\\n", f); fclose(f); }\n}\n' \
    "$work" > "$work/planted.c"
  "$cc" -shared -fPIC -o "$planted/libwnaspi32.so" "$work/planted.c"
  cp "$planted/libwnaspi32.so" "$planted/libgcc_s.so.1"
  cp "$planted/libwnaspi32.so" "$onpath/libwnaspi32.so"
  cp -a "$prefix" "$work/no-layer"
  rm "$work/no-layer/${so#./}/torvexin/libwnaspi32.so"
  cp "$planted/libwnaspi32.so" "$work/no-layer/${so#./}/libwnaspi32.so"
  for tvx in "$build/tools/tvx/tvx" "$prefix/bin/tvx" "$work/no-layer/bin/tvx"; do
    (cd "$planted" && "$tvx" --help > /dev/null) || fail "$tvx does not run beside planted libraries"
    (cd "$planted" && TMPDIR=$work "$tvx" drives > /dev/null 2>&1) || true
    (cd "$work" && LD_LIBRARY_PATH=$onpath TMPDIR=$work "$tvx" drives > /dev/null 2>&1) || true
    [ ! -e "$work/ran" ] || fail "$tvx ran a planted library"
  done
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
# A module that loads but is no layer (it exports nothing).
planted_layer=$work/not-a-layer.so
echo 'int not_a_layer;' > "$work/not-a-layer.c"
"$cc" -shared -fPIC -o "$planted_layer" "$work/not-a-layer.c"

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

# find_package: the shared library for a C program, and the static one from a project that knows
# no C++ (the package brings the C++ runtime); a request for another major version finds nothing.
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
add_executable(by_find_package_static "$example")
target_link_libraries(by_find_package_static PRIVATE Torvexin::torvexin_static)
get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
if(CXX IN_LIST languages)
  message(FATAL_ERROR "the package enabled C++ in a C project")
endif()
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  > "$work/consumer.log" ||
  { cat "$work/consumer.log" >&2; fail "find_package"; }
cmake --build "$work/consumer/build" >> "$work/consumer.log" ||
  { cat "$work/consumer.log" >&2; fail "building against the CMake package"; }
linked=$(ldd "$work/consumer/build/by_find_package")
grep -q "libtorvexin.so.1 => $libdir/" <<< "$linked" || fail "linked elsewhere: $linked"
burn_and_read find-package "$work/consumer/build/by_find_package"
static=$work/consumer/build/by_find_package_static
linked=$(ldd "$static")
! grep -q libtorvexin <<< "$linked" || fail "not static: $linked"
# A program with the library inside finds the installed layer module through the run path the
# package gave it, with nothing copied; a folder of its own beside it comes first.
burn_and_read find-package-static "$static"
mkdir "$work/consumer/build/torvexin"
cp "$planted_layer" "$work/consumer/build/torvexin/libwnaspi32.so"
if (burn_and_read find-package-static-beside "$static") 2> /dev/null; then
  fail "the static program did not take the module beside it"
fi
echo "install: files in place; built through pkg-config and find_package; burned and read back"
