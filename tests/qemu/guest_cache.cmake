# The guest tests' downloads and builds (Debian's kernel, CDEmu) take minutes: kept once for every
# build folder of this source tree (each tree's tests run one at a time; a lock guards each entry).
set(TVX_GUEST_CACHE ${PROJECT_SOURCE_DIR}/build-guest-cache CACHE PATH
    "Folder of the guest kernel and the CDEmu build shared by the QEMU tests")
