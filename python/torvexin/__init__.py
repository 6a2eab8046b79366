"""Torvexin from Python: find drives, burn folders, file sets and images onto DVDs, verify them,
erase rewritable discs and read files back, through the installed Torvexin library (ctypes; no
compiler needed).

    import torvexin

    for drive in torvexin.drives():
        print(drive.index, drive.vendor, drive.product)
    with torvexin.open_drive(0) as recorder:
        recorder.burn_data("photos", label="PHOTOS", verify=True)
        recorder.load()
        with recorder.open_file("/2024/beach.jpg") as f:
            data = f.read()

Failures raise TvxError. Calls block until the drive is done; a burn or an erase reports its
progress to a callable given as `progress`, which stops the job by returning False.
"""

from __future__ import annotations

import atexit
import ctypes
import enum
import errno
import io
import os
import sys
import threading
import time
import weakref
from dataclasses import dataclass
from typing import Callable, Mapping, Optional, Union

from . import _library

__all__ = [
    "TvxError", "Result", "Media", "Event", "Drive", "DiscInfo", "Recorder", "DiscFile",
    "drives", "open_drive", "version",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Progress = Callable[[int, int, int], object]


class Result(enum.IntEnum):
    """The library's result codes, named as in torvexin.h."""

    TVX_OK = 0
    TVX_ERR_NOT_READY = -0x1FFFFFFF
    TVX_ERR_DISC_NOT_WRITABLE = -0x1FFFFFFE
    TVX_ERR_NO_SPACE = -0x1FFFFFFD
    TVX_ERR_NO_DRIVE = -0x1FFFFFFC
    TVX_ERR_SOURCE = -0x1FFFFFFB
    TVX_ERR_DISC_KIND = -0x1FFFFFFA
    TVX_ERR_COMMAND = -0x1FFFFFF9
    TVX_ERR_INVALID_ARG = -0x1FFFFFF8
    TVX_ERR_CANCELLED = -0x1FFFFFF6
    TVX_ERR_MODE = -0x1FFFFFF5
    TVX_ERR_VERIFY = -0x1FFFFFF3


class Media(enum.IntFlag):
    """Kinds of media (TVX_MediaType bits)."""

    CD_ROM = 0x0001
    CD_R = 0x0002
    CD_RW = 0x0004
    DVD_ROM = 0x0010
    DVD_R = 0x0020
    DVD_RW = 0x0040
    DVD_RAM = 0x0080
    DVD_PLUS_R = 0x0100
    DVD_PLUS_RW = 0x0200
    DVD_PLUS_R_DL = 0x0400
    DVD_R_DL = 0x0800
    BD_ROM = 0x1000
    BD_R = 0x2000
    BD_RE = 0x4000


class Event(enum.IntEnum):
    """Progress events of burns and erases (TVX_EVENT_*)."""

    PREPARE = 0
    FINISHED = 1
    TRACK_BEGIN = 2
    TRACK_SIZE = 3
    WRITE = 4
    WAIT = 5
    ERASE_BEGIN = 6
    ERASE_PROGRESS = 7
    VERIFY = 8


def result_name(code: int) -> str:
    """The name of a result code as TVX_ResultName gives it."""
    try:
        return Result(code).name
    except ValueError:
        return "TVX_UNKNOWN_RESULT"


class TvxError(Exception):
    """A call the library refused or that failed.

    `code` is the result code and `name` its name ("TVX_ERR_NO_SPACE"). The other attributes
    are the recorder's last failed drive command (TVX_GetLastError): empty or zero when the
    failure recorded none.
    """

    def __init__(self, code: int, message: str, record: Optional[_library.LastErrorRecord] = None):
        self.code = int(code)
        self.name = result_name(code)
        self.status = record.status if record else 0
        self.sense_key = record.senseKey if record else 0
        self.asc = record.asc if record else 0
        self.ascq = record.ascq if record else 0
        self.cdb = bytes(record.cdb[: record.cdbLength]) if record else b""
        self.sense = bytes(record.sense[: record.senseLength]) if record else b""
        self.description = _text(record.description) if record else ""
        self.category = _text(record.category) if record else ""
        self.location = record.location if record else 0
        detail = f": {self.description}" if self.description else ""
        super().__init__(f"{message}: {self.name}{detail}")


@dataclass(frozen=True)
class Drive:
    """One drive as the library found it."""

    index: int
    vendor: str
    product: str
    revision: str
    letter: Optional[str]
    bus: int
    capabilities: Media


@dataclass(frozen=True)
class DiscInfo:
    """The disc in a drive; sizes in blocks of `block_size` bytes."""

    media: Media
    blank: bool
    can_erase: bool
    appendable: bool
    used_blocks: int
    free_blocks: int
    capacity_blocks: int
    block_size: int


_WINDOWS = sys.platform == "win32"
_ENCODING = "mbcs" if _WINDOWS else "utf-8"
_MODE_WRITE, _MODE_WRITE_VERIFY = 0, 3
# Starting, enumerating, opening and closing must not overlap any other call.
_lock = threading.RLock()
_lib: Optional[ctypes.CDLL] = None
# The open recorders by drive index: each stays open until closed, or until the interpreter ends.
_open: "dict[int, Recorder]" = {}


def _text(value: Optional[bytes]) -> str:
    return value.decode(_ENCODING, "replace") if value else ""


def _path(value: PathLike) -> bytes:
    if _WINDOWS:
        return os.fsdecode(value).encode(_ENCODING)
    return os.fsencode(value)


def _label(value: Optional[str]) -> Optional[bytes]:
    return None if value is None else value.encode(_ENCODING)


def _started() -> ctypes.CDLL:
    global _lib
    with _lock:
        if _lib is None:
            library = _library.load()
            if not library.TVX_Initialize():
                raise TvxError(Result.TVX_ERR_NO_DRIVE, "no transport to drives can be used")
            _lib = library
            atexit.register(_stop)
        return _lib


def _stop() -> None:
    global _lib
    with _lock:
        for recorder in list(_open.values()):
            recorder.close()
        if _lib is not None:
            _lib.TVX_Terminate()
            _lib = None


def version() -> str:
    """The library's file version, "major.minor.build.revision"."""
    library = _library.load() if _lib is None else _lib
    low = ctypes.c_uint32()
    high = library.TVX_GetVersion(ctypes.byref(low))
    return f"{high >> 16}.{high & 0xFFFF}.{low.value >> 16}.{low.value & 0xFFFF}"


def _drive(library: ctypes.CDLL, index: int) -> Drive:
    info = _library.DriveInfoRecord()
    code = library.TVX_GetDriveInfo(index, ctypes.byref(info))
    if code != Result.TVX_OK:
        raise TvxError(code, f"drive {index}")
    letter = info.driveLetter.decode("ascii", "replace") if info.driveLetter != b"\0" else None
    return Drive(index, _text(info.vendor), _text(info.product), _text(info.revision), letter,
                 info.busKind, Media(info.capabilities))


def drives() -> list[Drive]:
    """Finds the drives anew. This closes every open Recorder (their drives may have moved)."""
    library = _started()
    with _lock:
        for recorder in list(_open.values()):
            recorder.close()
        return [_drive(library, i) for i in range(library.TVX_GetDriveCount())]


def open_drive(index: int) -> "Recorder":
    """Opens drive `index` (of drives()) for exclusive use; close it, or use it in `with`."""
    library = _started()
    with _lock:
        if index in _open:
            raise ValueError(f"drive {index} is already open")
        drive = _drive(library, index)
        handle = library.TVX_OpenRecHandle(index)
        if not handle:
            raise TvxError(Result.TVX_ERR_NO_DRIVE, f"drive {index} cannot be opened")
        recorder = Recorder(library, handle, drive)
        _open[index] = recorder
        return recorder


class Recorder:
    """An open drive. Burns eject the disc when they succeed: call load() before reading it."""

    def __init__(self, library: ctypes.CDLL, handle: int, drive: Drive):
        self._lib = library
        self._handle: Optional[int] = handle
        self._files: "weakref.WeakSet[DiscFile]" = weakref.WeakSet()
        self.drive = drive

    def __enter__(self) -> "Recorder":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Closes the files opened from the drive, then the drive; a second close does nothing."""
        with _lock:
            if self._handle is None:
                return
            for f in list(self._files):
                f.close()
            self._lib.TVX_CloseRecHandle(self._handle)
            self._handle = None
            if _open.get(self.drive.index) is self:
                del _open[self.drive.index]

    @property
    def closed(self) -> bool:
        return self._handle is None

    def _live(self) -> int:
        if self._handle is None:
            raise ValueError(f"drive {self.drive.index} is closed")
        return self._handle

    def last_error(self) -> _library.LastErrorRecord:
        """The record of the drive's last failed command (all zeros when there was none)."""
        record = _library.LastErrorRecord()
        self._lib.TVX_GetLastError(self._live(), ctypes.byref(record))
        return record

    def _check(self, code: int, what: str) -> None:
        if code != Result.TVX_OK:
            raise TvxError(code, what, self.last_error())

    def disc_info(self) -> DiscInfo:
        """Kind, state and space of the disc in the drive."""
        info = _library.DiscInfoRecord()
        self._check(self._lib.TVX_GetDiscInfo(self._live(), ctypes.byref(info)), "disc info")
        return DiscInfo(Media(info.mediaType), bool(info.blank), bool(info.canErase),
                        bool(info.appendable), info.usedBlocks, info.freeBlocks,
                        info.capacityBlocks, info.blockSize)

    def eject(self) -> None:
        """Opens the tray."""
        self._check(self._lib.TVX_EjectMedia(self._live()), "eject")

    def load(self, timeout: float = 60.0) -> None:
        """Closes the tray and waits until the drive is ready, at most `timeout` seconds."""
        handle = self._live()
        self._check(self._lib.TVX_LoadMedia(handle), "load")
        deadline = time.monotonic() + timeout
        while self._lib.TVX_TestReady(handle) != 1:
            if time.monotonic() > deadline:
                raise TvxError(Result.TVX_ERR_NOT_READY, "load", self.last_error())
            time.sleep(0.1)

    def _job(self, what: str, progress: Optional[Progress], call: Callable[..., int]) -> None:
        """Runs a burn or an erase with the host's progress callable; an exception the callable
        raises stops the job and is raised again once the library returns."""
        raised: list[BaseException] = []

        def relay(event: int, data: "ctypes._Pointer[ctypes.c_uint32]", _user: int) -> int:
            if progress is None:
                return 1
            try:
                answer = progress(event, data[0], data[1])
            except BaseException as error:  # noqa: B036 - kept and raised after the job
                raised.append(error)
                return 0
            return 0 if answer is False else 1

        callback = _library.ProgressCallback(relay)
        code = call(callback, 0)
        if raised:
            raise raised[0]
        self._check(code, what)

    def _options(self, verify: bool, speed: Optional[int]) -> _library.BurnOptionsRecord:
        mode = _MODE_WRITE_VERIFY if verify else _MODE_WRITE
        return _library.BurnOptionsRecord(mode, -1 if speed is None else speed)

    def _burn_folder(self, function: str, folder: PathLike, label: Optional[str], verify: bool,
                     progress: Optional[Progress], speed: Optional[int]) -> None:
        options = self._options(verify, speed)
        handle, source, name = self._live(), _path(folder), _label(label)
        self._job(f"burning {os.fsdecode(folder)}", progress,
                  lambda cb, user: getattr(self._lib, function)(
                      handle, ctypes.byref(options), source, name, cb, user))

    def burn_data(self, folder: PathLike, label: Optional[str] = None, verify: bool = False,
                  progress: Optional[Progress] = None, speed: Optional[int] = None) -> None:
        """Burns a folder's contents as the disc's root (UDF with an ISO 9660 bridge).

        `label` names the volume; `verify` reads every file back and compares it;
        `progress(event, value, total)` is called as the job goes and stops it by returning
        False; `speed` in kB/s (None: the fastest).
        """
        self._burn_folder("TVX_BurnVolumeData", folder, label, verify, progress, speed)

    def burn_video_ts(self, folder: PathLike, label: Optional[str] = None, verify: bool = False,
                      progress: Optional[Progress] = None, speed: Optional[int] = None) -> None:
        """Burns a VIDEO_TS folder as a DVD-Video disc (arguments as burn_data)."""
        self._burn_folder("TVX_BurnVideoTsFolder", folder, label, verify, progress, speed)

    def burn_dvd_video(self, folder: PathLike, label: Optional[str] = None, verify: bool = False,
                       progress: Optional[Progress] = None, speed: Optional[int] = None) -> None:
        """Burns a folder that holds VIDEO_TS as a DVD-Video disc (arguments as burn_data)."""
        self._burn_folder("TVX_BurnDVDVIDEO", folder, label, verify, progress, speed)

    def burn_files(self, mapping: Mapping[str, PathLike], label: Optional[str] = None,
                   verify: bool = False, progress: Optional[Progress] = None,
                   speed: Optional[int] = None) -> None:
        """Burns host files at the volume paths that map to them ({"/docs/a.txt": "a.txt"})."""
        if not mapping:
            raise ValueError("burn_files needs at least one file")
        texts = [(v.encode(_ENCODING), _path(s)) for v, s in mapping.items()]
        entries = (_library.FileSetEntryRecord * len(texts))(*texts)
        options = self._options(verify, speed)
        handle, name = self._live(), _label(label)
        self._job("burning the files", progress,
                  lambda cb, user: self._lib.TVX_BurnFileSet(
                      handle, ctypes.byref(options), entries, len(texts), name, cb, user))

    def burn_image(self, path: PathLike, verify: bool = False,
                   progress: Optional[Progress] = None, speed: Optional[int] = None) -> None:
        """Burns a finished volume image file unchanged."""
        options = self._options(verify, speed)
        handle, source = self._live(), _path(path)
        self._job(f"burning {os.fsdecode(path)}", progress,
                  lambda cb, user: self._lib.TVX_BurnVolumeImage(
                      handle, ctypes.byref(options), source, cb, user))

    def erase(self, quick: bool = True, progress: Optional[Progress] = None) -> None:
        """Erases a DVD-RW (quickly or wholly) or a DVD+RW that holds data."""
        handle = self._live()
        self._job("erasing", progress,
                  lambda cb, user: self._lib.TVX_EraseDisc(handle, int(quick), cb, user))

    def open_file(self, path: str) -> "DiscFile":
        """Opens a file of the disc's UDF file system ("/DIR/NAME", exact case) for reading."""
        handle = self._live()
        opened = self._lib.TVX_OpenFile(handle, path.encode(_ENCODING))
        if not opened:
            raise TvxError(Result.TVX_ERR_SOURCE, f"opening {path} on the disc", self.last_error())
        f = DiscFile(self._lib, opened, path)
        self._files.add(f)
        return f


class DiscFile(io.RawIOBase):
    """A file on a disc, read-only, with read, seek and tell; close it before its Recorder."""

    def __init__(self, library: ctypes.CDLL, handle: int, path: str):
        super().__init__()
        self._lib = library
        self._handle: Optional[int] = handle
        self.name = path

    def readable(self) -> bool:
        return True

    def seekable(self) -> bool:
        return True

    @property
    def size(self) -> int:
        """The file's size in bytes."""
        return int(self._lib.TVX_GetFileSize(self._live()))

    def _live(self) -> int:
        if self._handle is None:
            raise ValueError("I/O operation on closed disc file")
        return self._handle

    def readinto(self, buffer: "Union[bytearray, memoryview]") -> int:  # type: ignore[override]
        view = memoryview(buffer).cast("B")
        count = min(len(view), 0xFFFFFFFF)
        if count == 0:
            return 0
        target = (ctypes.c_char * count).from_buffer(view)
        got = ctypes.c_uint32()
        if not self._lib.TVX_ReadFile(self._live(), target, count, ctypes.byref(got)):
            return 0  # at the end of the file
        if got.value == 0:
            # The library's answer to a drive that delivered nothing: never mistaken for the end.
            raise OSError(errno.EIO, f"the drive could not read {self.name}")
        return got.value

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        handle = self._live()
        if whence == io.SEEK_SET:
            target = offset
        elif whence == io.SEEK_CUR:
            target = self.tell() + offset
        elif whence == io.SEEK_END:
            target = self.size + offset
        else:
            raise ValueError(f"invalid whence ({whence})")
        if target < 0 or target > self.size:
            raise OSError(errno.EINVAL, f"{self.name}: position {target} is outside the file")
        return int(self._lib.TVX_SeekFile(handle, target & 0xFFFFFFFF, target >> 32, 0))

    def tell(self) -> int:
        return int(self._lib.TVX_SeekFile(self._live(), 0, 0, io.SEEK_CUR))

    def close(self) -> None:
        if self._handle is not None:
            self._lib.TVX_CloseFile(self._handle)
            self._handle = None
        super().close()
