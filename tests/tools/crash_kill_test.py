#!/usr/bin/env python3
"""kill -9 of tvx at many points of a burn onto media written in place, over old volumes made by
tvx and by other tools, and readers in other processes during a burn: every look at the disc
(tvx, 7z, bsdtar, isoinfo, udfinfo) finds the old volume whole, no volume, or the new volume
whole, and all readers agree.

Usage: crash_kill_test.py <tvx binary>
"""
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

TVX = os.path.abspath(sys.argv[1])
UDF_WITH_FILES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                              "udf_with_files.sh")
KINDS = ["dvd+rw", "dvd-ram", "dvd-rw-ro"]
BLOCKS = 60000
TOOLS = ["7z", "bsdtar", "isoinfo", "udfinfo", "genisoimage", "mkudffs", "udfclient", "xorriso",
         "mformat", "mcopy"]
# Old volumes the burns go over: made by tvx (None), or by a tool into IMG from OLD (PART: the
# hybrid's FAT partition, itself a volume of the old disc: 7z finds it when the ISO 9660 part is
# gone).
OLD_VOLUMES = [
    ("tvx", None),
    ("genisoimage -udf", ["genisoimage", "-quiet", "-udf", "-V", "OLDVOL", "-o", "IMG", "OLD"]),
    ("mkudffs with files", [UDF_WITH_FILES, "IMG", "8192", "OLD", "OLDVOL"]),
    ("xorriso hybrid", ["xorriso", "-as", "mkisofs", "-quiet", "-V", "OLDVOL",
                        "--protective-msdos-label", "-append_partition", "2", "0x0c", "PART",
                        "-o", "IMG", "OLD"]),
]
failures = []
partition = None  # the bytes of the old hybrid's FAT partition, when it is the old volume


def fail(what):
    print("FAILED: " + what, flush=True)
    failures.append(what)


def make_files(folder, files):
    os.makedirs(folder)
    for name, size in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(os.urandom(size))


OLD = {"old_a.bin": 3000000, "old_b.bin": 2000000}
NEW = {"new_1.bin": 3000, "new_2.bin": 90000, "new_3.bin": 24000000, "new_4.bin": 250000}


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, **kw)


def extract(image, tool, work):
    out = os.path.join(work, "x-" + tool)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if tool == "7z":
        run("7z", "x", "-y", "-o" + out, image)
    else:
        run("bsdtar", "-xf", image, "-C", out)
    return out


def extract_equal(image, files, folder, tool, work):
    """True when tool extracts every file of `files` equal to its source."""
    out = extract(image, tool, work)
    for name in files:
        found = [n for n in os.listdir(out) if n.lower() == name.lower()]
        if not found:
            return False
        with open(os.path.join(out, found[0]), "rb") as a, open(os.path.join(folder, name), "rb") as b:
            if a.read() != b.read():
                return False
    return True


def what_reader_sees(tool, image, work, old_folder, new_folder):
    """'old', 'new', 'none' or a text saying what is wrong."""
    if tool in ("7z", "bsdtar"):
        if tool == "7z":
            listing = run("7z", "l", "-slt", image).stdout.decode(errors="replace")
            # What follows the line of dashes; before it, 7z names the image itself.
            listing = listing.partition("\n----------\n")[2]
            names = {l[7:].strip().lower() for l in listing.splitlines() if l.startswith("Path = ")}
        else:
            listing = run("bsdtar", "-tf", image).stdout.decode(errors="replace")
            names = {l.strip().lower() for l in listing.splitlines()} - {".", ""}
        has_new = any(n.lower() in names for n in NEW)
        has_old = any(n.lower() in names for n in OLD)
        others = names - {n.lower() for n in list(NEW) + list(OLD)}
        if others:
            # Only the old hybrid's partition, whole, may be found beside or instead of the files.
            out = extract(image, tool, work)
            for name in os.listdir(out):
                path = os.path.join(out, name)
                if partition is not None and os.path.isfile(path):
                    with open(path, "rb") as f:
                        if f.read() == partition:
                            others.discard(name.lower())
            if others:
                return "%s finds %s, of neither volume" % (tool, ", ".join(sorted(others)))
            if not has_new and not has_old:
                return "old"
    elif tool == "isoinfo":
        listing = run("isoinfo", "-i", image, "-f").stdout.decode(errors="replace").lower()
        has_new = any("/" + n + ";1" in listing for n in NEW)
        has_old = any("/" + n + ";1" in listing for n in OLD)
        if has_new and has_old:
            return "old and new files listed together"
        if has_new:
            return "new" if all("/" + n + ";1" in listing for n in NEW) else "part of the new files"
        if has_old:
            return "old" if all("/" + n + ";1" in listing for n in OLD) else "part of the old files"
        return "none"
    else:  # udfinfo: the label of the volume it finds
        r = run("udfinfo", image)
        text = r.stdout.decode(errors="replace")
        if r.returncode != 0:
            return "none"
        return "new" if "label=NEWVOL" in text else "old" if "label=OLDVOL" in text else "label?"
    if has_new and has_old:
        return "old and new files listed together"
    if has_new:
        return "new" if extract_equal(image, NEW, new_folder, tool, work) else "new files differ"
    if has_old:
        return "old" if extract_equal(image, OLD, old_folder, tool, work) else "old files differ"
    return "none"


def tvx_sees(image, old_folder, new_folder, work):
    """What tvx itself reads from the disc (attached after the burner died)."""
    for name, folder, state in (("new_3.bin", new_folder, "new"), ("old_a.bin", old_folder, "old")):
        out = os.path.join(work, "got")
        r = run(TVX, "--virtual", image, "get", "/" + name, out)
        if r.returncode == 0:
            with open(out, "rb") as a, open(os.path.join(folder, name), "rb") as b:
                return state if a.read() == b.read() else name + " reads wrong"
    return "none"


def check_disc(image, where, work, old_folder, new_folder):
    """The state the readers find on a disc nobody writes to: each finds the old volume whole,
    none, or the new one whole, and no two of them find different volumes. (The UDF volume
    appears a moment before the ISO 9660 one, so one reader may find none where another finds
    the new volume.)"""
    seen = {}
    for tool in ("7z", "bsdtar", "isoinfo", "udfinfo"):
        seen[tool] = what_reader_sees(tool, image, work, old_folder, new_folder)
    seen["tvx"] = tvx_sees(image, old_folder, new_folder, work)
    states = set(seen.values())
    if not states <= {"old", "new", "none"} or {"old", "new"} <= states:
        fail("%s: a reader sees a broken volume, or readers see different ones: %s" % (where, seen))
        return "?"
    return "new" if "new" in states else "old" if "old" in states else "none"


def look_during_burn(image, where, work, old_folder, new_folder):
    """What each reader finds while the burn runs: each look by itself is no volume or the whole
    new one (the readers run one after another, so they may see different moments)."""
    states = set()
    for tool in ("7z", "bsdtar", "isoinfo", "udfinfo"):
        state = what_reader_sees(tool, image, work, old_folder, new_folder)
        if state not in ("none", "new"):
            fail("%s: %s finds %s" % (where, tool, state))
        states.add(state)
    return states


def burn(image, kind, folder, label, kill_at=None, slow=0.0, writing=None):
    """Burns with tvx --json; kills it with SIGKILL after `kill_at` progress lines. The pipe is
    kept small so tvx cannot run far ahead of the lines read. Returns (lines, killed)."""
    r, w = os.pipe()
    fcntl.fcntl(r, fcntl.F_SETPIPE_SZ, 4096)
    p = subprocess.Popen([TVX, "--virtual", "%s:%s:%d" % (image, kind, BLOCKS), "--json",
                          "burn-data", "-l", label, folder], stdout=w, stderr=subprocess.DEVNULL)
    os.close(w)
    lines, killed, writes = 0, False, 0
    with os.fdopen(r, "rb", buffering=0) as pipe:
        line = b""
        while True:
            chunk = pipe.read(1)
            if not chunk:
                break
            if chunk != b"\n":
                line += chunk
                continue
            lines += 1
            if b'"type":4' in line:
                writes += 1
                # The second write event comes once the old structures are gone.
                if writes == 2 and writing:
                    writing.set()
            line = b""
            if slow:
                time.sleep(slow)
            if kill_at is not None and lines >= kill_at:
                p.send_signal(signal.SIGKILL)
                killed = True
                break
    p.wait()
    return lines, killed


def make_old_volume(command, image, state, old_folder, work):
    """The old disc: a tool's image at the start of a disc of BLOCKS blocks, with the state of
    one that tvx burnt (the same kind and layout)."""
    made = os.path.join(work, "made.img")
    words = {"IMG": made, "OLD": old_folder, "PART": os.path.join(work, "part.fat")}
    r = run(*[words.get(w, w) for w in command])
    if r.returncode != 0:
        fail("%s failed: %s" % (" ".join(command), r.stderr.decode(errors="replace")))
        return False
    with open(made, "rb") as f, open(image, "wb") as out:
        out.truncate(BLOCKS * 2048)
        out.write(f.read())
    shutil.copy(state, image + ".state")
    return True


def copy_disc(base, image):
    # Sparse: the disc is mostly unwritten, and copying its zeros would cost most of the test.
    subprocess.run(["cp", "--sparse=always", base, image], check=True)
    shutil.copy(base + ".state", image + ".state")


def main():
    global partition
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print("needs %s (scripts/setup.sh --tests installs them)" % ", ".join(missing))
        # In CI every tool is there; elsewhere a missing one skips the test.
        sys.exit(1 if os.environ.get("CI") else 77)
    work = tempfile.mkdtemp(prefix="tvx-crash-")
    try:
        os.chdir(work)
        make_files("old", OLD)
        make_files("new", NEW)
        old_folder, new_folder = os.path.abspath("old"), os.path.abspath("new")
        # The hybrid's partition: a FAT file system with a file of its own.
        make_files("fat", {"fat_file.bin": 100000})
        fat = os.path.join(work, "part.fat")
        if (run("mformat", "-C", "-i", fat, "-f", "1440", "::").returncode != 0 or
                run("mcopy", "-i", fat, "fat/fat_file.bin", "::").returncode != 0):
            fail("mformat or mcopy failed")
            return
        with open(fat, "rb") as f:
            fat_bytes = f.read()
        kills = {name: 0 for name, _ in OLD_VOLUMES}
        for number, kind in enumerate(KINDS):
            ours = "base-%s.img" % kind.replace("+", "p")
            burn(ours, kind, old_folder, "OLDVOL")
            bases = {}
            for name, command in OLD_VOLUMES:
                partition = fat_bytes if "hybrid" in name else None
                base = ours if command is None else "%s-%d.img" % (ours, len(bases))
                if command and not make_old_volume(command, base, ours + ".state", old_folder,
                                                   work):
                    continue
                if check_disc(base, "%s over %s" % (kind, name), work, old_folder,
                              new_folder) != "old":
                    fail("%s: the old volume of %s is not found whole" % (kind, name))
                    continue
                bases[name] = (base, partition)
            if not bases:
                continue
            # A whole burn, to learn how many lines it prints.
            copy_disc(ours, "full.img")
            partition = None
            total, _ = burn("full.img", kind, new_folder, "NEWVOL")
            if check_disc("full.img", kind + " whole burn", work, old_folder, new_folder) != "new":
                fail(kind + ": the new volume did not burn")
            seen = set()
            # Early, through the data, and densely over the structures' writes and the close;
            # each point over one of the old volumes, a different one for each kind, so that the
            # table costs no more kills than one old volume did.
            points = {3, 6} | {total * i // 10 for i in range(1, 10)}
            points = sorted(p for p in points | set(range(total - 40, total, 4)) if 0 < p < total)
            names = list(bases)
            for i, point in enumerate(points):
                name = names[(i + number) % len(names)]
                base, partition = bases[name]
                copy_disc(base, "cut.img")
                _, killed = burn("cut.img", kind, new_folder, "NEWVOL", kill_at=point)
                state = check_disc("cut.img", "%s over %s killed at line %d of %d" %
                                   (kind, name, point, total), work, old_folder, new_folder)
                seen.add(state)
                kills[name] += 1
                print("%s over %s: killed at line %d/%d: %s" % (kind, name, point, total, state),
                      flush=True)
            if not {"none", "new"} <= seen:
                fail("%s: the kills did not reach every state (%s)" % (kind, seen))

            # Readers in other processes throughout a burn that tvx is slowed down for.
            base, partition = bases[names[number % len(names)]]
            copy_disc(base, "live.img")
            looks = []
            writing, done = threading.Event(), threading.Event()

            def look():
                writing.wait()
                while not done.is_set():
                    looks.extend(look_during_burn("live.img", kind + " during the burn", work,
                                                  old_folder, new_folder))

            reader = threading.Thread(target=look)
            reader.start()
            burn("live.img", kind, new_folder, "NEWVOL", slow=0.004, writing=writing)
            writing.set()
            done.set()
            reader.join()
            print("%s over %s: %d looks during the burn: %s" %
                  (kind, names[number % len(names)], len(looks), sorted(set(looks))))
            if len(looks) < 3:
                fail(kind + ": too few looks during the burn")
        print("kills per old volume: " + ", ".join("%s %d" % item for item in kills.items()))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d failures" % len(failures))
        sys.exit(1)
    print("all cuts and looks consistent")


main()
