#!/usr/bin/env python3
"""Compares two volume images apart from their recording times.

Masks the ISO 9660 volume dates, volume set identifier and directory record dates, and in UDF descriptors the
recording times, the time-derived volume set identifier and the tag checksum and CRC that
cover them. Exit status 0 when equal; lists the first differences otherwise.
Usage: compare_volumes.py A B [SECTORS] (SECTORS: compare only that many from the start)
"""
import struct
import sys

SECTOR = 2048

# UDF tag identifier -> (offset, length) ranges that hold times.
UDF_TIMES = {
    1: [(72, 128), (376, 12)],  # primary volume descriptor: volume set identifier, recording time
    9: [(16, 12)],  # logical volume integrity descriptor
    256: [(16, 12)],  # file set descriptor
    261: [(72, 12), (84, 12), (96, 12)],  # file entry: access, modification, attribute times
    266: [(72, 12), (84, 12), (96, 12), (108, 12)],  # extended file entry
}


def mask_udf(data, masked):
    for sector in range(len(data) // SECTOR):
        at = sector * SECTOR
        tag = data[at:at + 16]
        ident, = struct.unpack_from("<H", tag, 0)
        # File set and file entries carry partition-relative locations: no location check.
        if ident not in UDF_TIMES or tag[5] != 0 or struct.unpack_from("<I", tag, 12)[0] > sector:
            continue
        if sum(tag[:4]) + sum(tag[5:16]) & 0xFF != tag[4]:
            continue
        for offset, length in [(4, 1), (8, 2)] + UDF_TIMES[ident]:
            masked[at + offset:at + offset + length] = bytes(length)


def mask_iso(data, masked):
    pvd = 16 * SECTOR
    if data[pvd:pvd + 6] != b"\x01CD001":
        return
    for offset in (813, 830, 847, 864):
        masked[pvd + offset:pvd + offset + 17] = bytes(17)
    masked[pvd + 156 + 18:pvd + 156 + 25] = bytes(7)
    masked[pvd + 190:pvd + 318] = bytes(128)  # volume set identifier, made from the time
    extent, size = struct.unpack_from("<I", data, pvd + 156 + 2)[0], struct.unpack_from(
        "<I", data, pvd + 156 + 10)[0]
    seen, todo = set(), [(extent, size)]
    while todo:
        extent, size = todo.pop()
        if extent in seen or (extent + 1) * SECTOR > len(data):
            continue
        seen.add(extent)
        at, end = extent * SECTOR, extent * SECTOR + size
        while at < end:
            length = data[at]
            if length == 0:  # records never cross a sector: go on at the next one
                at = (at // SECTOR + 1) * SECTOR
                continue
            masked[at + 18:at + 25] = bytes(7)
            name_length = data[at + 32]
            is_dir = data[at + 25] & 2
            name = data[at + 33:at + 33 + name_length]
            if is_dir and name not in (b"\x00", b"\x01"):
                todo.append((struct.unpack_from("<I", data, at + 2)[0],
                             struct.unpack_from("<I", data, at + 10)[0]))
            at += length


def masked_image(path, sectors):
    with open(path, "rb") as f:
        data = f.read(sectors * SECTOR if sectors else -1)
    masked = bytearray(data)
    mask_udf(data, masked)
    mask_iso(data, masked)
    return masked


def main():
    sectors = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    a, b = masked_image(sys.argv[1], sectors), masked_image(sys.argv[2], sectors)
    if len(a) != len(b):
        print(f"sizes differ: {len(a)} and {len(b)} bytes")
        return 1
    differences = [i for i in range(len(a)) if a[i] != b[i]]
    for i in differences[:10]:
        print(f"differ at sector {i // SECTOR} byte {i % SECTOR}")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
