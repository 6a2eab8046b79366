# Sourced by the QEMU runners: Debian's kernel, taken from its package without installing it into
# the system, unpacked once into kernel/ of $TVX_GUEST_CACHE (shared by every guest test of every
# build folder), else of <work>. Sets vmlinuz, kver and moddir.
guest_kernel() {
    local cache=${TVX_GUEST_CACHE:-$1} pkg
    local kernel_root=$cache/kernel
    mkdir -p "$cache"
    # Two build folders' tests may start at once: one unpacks, the other waits.
    exec {kernel_lock}> "$cache/kernel.lock"
    flock "$kernel_lock"
    if [ ! -f "$kernel_root/.complete" ]; then
        rm -rf "$kernel_root"
        pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
        [ -n "$pkg" ] || fail "cannot find the kernel package behind linux-image-amd64"
        (cd "$cache" && apt-get download "$pkg" >/dev/null 2>&1) || fail "cannot download $pkg"
        dpkg-deb -x "$cache/$pkg"_*.deb "$kernel_root"
        rm -f "$cache/$pkg"_*.deb
        touch "$kernel_root/.complete"
    fi
    exec {kernel_lock}>&-
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
