#!/usr/bin/env python3
"""Burns a folder onto the first drive with verification and reads one file back, with the
torvexin Python package.

    python3 burn_folder.py FOLDER /PATH/ON/DISC [LABEL]

Without a drive, try it on a virtual recorder:
    TVX_VIRTUAL_DRIVES=/tmp/disc.img:dvd-r:4000 python3 burn_folder.py FOLDER /README.TXT
"""

import sys

import torvexin


def show_progress(event: int, value: int, total: int) -> bool:
    if event == torvexin.Event.WRITE and total:
        print(f"\rwriting {value * 100 // total:3d}%", end="", file=sys.stderr)
    elif event == torvexin.Event.FINISHED:
        print(file=sys.stderr)
    return True  # False would stop the burn


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    folder, disc_path = sys.argv[1], sys.argv[2]
    label = sys.argv[3] if len(sys.argv) > 3 else None
    found = torvexin.drives()
    for drive in found:
        print(f"drive {drive.index}: {drive.vendor} {drive.product} {drive.revision}")
    if not found:
        print("no drive to burn on", file=sys.stderr)
        return 1
    try:
        with torvexin.open_drive(0) as recorder:
            recorder.burn_data(folder, label=label, verify=True, progress=show_progress)
            recorder.load()  # a finished burn ejects the disc
            with recorder.open_file(disc_path) as f:
                sys.stdout.buffer.write(f.read())
    except torvexin.TvxError as error:
        print(f"failed: {error} (code {error.code & 0xFFFFFFFF:#010x}, location {error.location})",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
