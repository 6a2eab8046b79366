# Sourced by the QEMU runners: Debian's kernel, taken from its package without installing it into
# the system, unpacked into <work>/kernel once. Sets vmlinuz, kver and moddir.
guest_kernel() {
    local work=$1 kernel_root=$1/kernel pkg
    if [ ! -d "$kernel_root/lib/modules" ]; then
        pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
        [ -n "$pkg" ] || fail "cannot find the kernel package behind linux-image-amd64"
        (cd "$work" && apt-get download "$pkg" >/dev/null 2>&1) || fail "cannot download $pkg"
        dpkg-deb -x "$work/$pkg"_*.deb "$kernel_root"
        rm -f "$work/$pkg"_*.deb
    fi
    vmlinuz=$(ls "$kernel_root"/boot/vmlinuz-* | head -1)
    kver=$(basename "$(ls -d "$kernel_root"/lib/modules/*)")
    moddir=$kernel_root/lib/modules/$kver/kernel
}

# Copies a module and, first, the modules it depends on into <root>/modules and appends their
# names in load order to the array `order`. Needs `moddir` and an associative array `loaded`.
add_module() {
    local name=$1 root=$2 file dep
    [ -n "${loaded[$name]:-}" ] && return
    file=$(find "$moddir" -name "$name.ko" -print -quit)
    [ -n "$file" ] || fail "module $name not found in $kver"
    for dep in $(modinfo -F depends "$file" | tr ',' ' '); do add_module "$dep" "$root"; done
    loaded[$name]=1
    cp "$file" "$root/modules/"
    order+=("$name")
}
