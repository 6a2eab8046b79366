#!/bin/bash
# cpack -G DEB makes the four packages from the build; each holds what it should and nothing
# of the others, they depend on each other as a packager expects, and lintian finds neither
# error nor warning in them. Skipped (77) without cpack, dpkg-deb or lintian.
# Usage: deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" > /dev/null || { echo "skipped: no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "deb test: $*" >&2; exit 1; }

# Every installed file belongs to one of the components, or no package would carry it.
cmake --install "$build" --prefix "$work/all" > /dev/null
for component in runtime dev tool python; do
  cmake --install "$build" --component "$component" --prefix "$work/parts" > /dev/null
done
diff <(cd "$work/all" && find . | sort) <(cd "$work/parts" && find . | sort) > "$work/left.txt" ||
  fail "installed outside the components: $(cat "$work/left.txt")"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
runtime=$work/libtorvexin1_${version}_$(dpkg --print-architecture).deb
dev=${runtime/libtorvexin1_/libtorvexin-dev_}
tool=${runtime/libtorvexin1_/torvexin-tools_}
python=$work/python3-torvexin_${version}_all.deb
for deb in "$runtime" "$dev" "$tool" "$python"; do
  [ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work")"
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' > "$deb.files"
done

# The library folder is the multiarch one.
libdir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# Each package: the files it must hold (+) and those that belong elsewhere (-).
while read -r deb sign path; do
  if [ "$sign" = + ]; then
    grep -qFx "$path" "${!deb}.files" || fail "$deb lacks $path"
  else
    ! grep -qFx "$path" "${!deb}.files" || fail "$deb holds $path"
  fi
done <<TABLE
runtime + $libdir/libtorvexin.so.$version
runtime + $libdir/libtorvexin.so.1
runtime + $libdir/torvexin/libwnaspi32.so
runtime + /usr/share/doc/libtorvexin1/copyright
runtime + /usr/share/doc/libtorvexin1/changelog.gz
runtime - $libdir/libwnaspi32.so
runtime - $libdir/libtorvexin.so
runtime - $libdir/libtorvexin.a
runtime - /usr/bin/tvx
dev + /usr/include/torvexin.h
dev + $libdir/libtorvexin.so
dev + $libdir/libtorvexin.a
dev + $libdir/pkgconfig/torvexin.pc
dev + $libdir/cmake/Torvexin/TorvexinConfig.cmake
dev + /usr/share/doc/libtorvexin-dev/copyright
dev - $libdir/libtorvexin.so.$version
tool + /usr/bin/tvx
tool + /usr/bin/tvx-probe
tool + /usr/share/man/man1/tvx.1.gz
tool + /usr/share/doc/torvexin-tools/changelog.gz
tool + /usr/share/man/man1/tvx-probe.1.gz
python + /usr/lib/python3/dist-packages/torvexin/__init__.py
python + /usr/lib/python3/dist-packages/torvexin/_paths.py
python + /usr/share/doc/python3-torvexin/copyright
python - $libdir/libtorvexin.so.$version
tool - /usr/share/man/man1/tvx.1
tool - $libdir/libtorvexin.so.$version
TABLE

# The development files and the tool need the library of this very version; the library tells
# packages built against it which package provides it, and refreshes the loader's cache.
for deb in "$dev" "$tool" "$python"; do
  dpkg-deb -f "$deb" Depends | grep -qF "libtorvexin1 (= $version)" ||
    fail "$(basename "$deb") does not depend on libtorvexin1 (= $version)"
done
dpkg-deb -I "$runtime" shlibs | grep -qx "libtorvexin 1 libtorvexin1 (>= $version)" ||
  fail "libtorvexin1: shlibs: $(dpkg-deb -I "$runtime" shlibs 2>&1)"
dpkg-deb -I "$runtime" triggers | grep -q "ldconfig" || fail "libtorvexin1: no ldconfig trigger"

# The package's pkg-config file names the system's folders plainly, static programs get the
# module folder on their run path, and the static library carries no debugging information.
dpkg-deb -x "$dev" "$work/dev"
pc=$work/dev$libdir/pkgconfig/torvexin.pc
grep -qx 'prefix=/usr' "$pc" || fail "torvexin.pc: $(grep '^prefix=' "$pc")"
flags=$(pkg-config --cflags --libs --static "$pc")
[[ $flags != *..* && $flags == *"-Wl,-rpath,$libdir/torvexin"* ]] || fail "torvexin.pc: $flags"
sections=$(readelf -S "$work/dev$libdir/libtorvexin.a")
! grep -q '\.debug_' <<< "$sections" || fail "libtorvexin.a keeps its debugging information"

# lintian: any error or warning fails.
lintian --fail-on error,warning --allow-root "$runtime" "$dev" "$tool" "$python" \
  > "$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt" >&2; fail "lintian complains"; }
cat "$work/lintian.txt"
echo "deb: four packages made, lintian reports neither error nor warning"
