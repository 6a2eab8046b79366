"""The shared library and the C records, as ctypes sees them."""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path

_WINDOWS = sys.platform == "win32"
# Functions and callbacks use the stdcall convention on Windows (32-bit only) and the C one
# elsewhere.
_FUNCTYPE = ctypes.WINFUNCTYPE if _WINDOWS else ctypes.CFUNCTYPE  # type: ignore[attr-defined]

RecHandle = ctypes.c_void_p
DiscFileHandle = ctypes.c_void_p
ProgressCallback = _FUNCTYPE(
    ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(ctypes.c_uint32), ctypes.c_int32
)


class DriveInfoRecord(ctypes.Structure):
    _fields_ = [
        ("busKind", ctypes.c_uint32),
        ("driveLetter", ctypes.c_char),
        ("hostAdapter", ctypes.c_uint8),
        ("target", ctypes.c_uint8),
        ("lun", ctypes.c_uint8),
        ("vendor", ctypes.c_char * 9),
        ("product", ctypes.c_char * 17),
        ("revision", ctypes.c_char * 5),
        ("reserved", ctypes.c_uint8),
        ("capabilities", ctypes.c_uint32),
    ]


class DiscInfoRecord(ctypes.Structure):
    _fields_ = [
        ("mediaType", ctypes.c_uint32),
        ("blank", ctypes.c_uint32),
        ("canErase", ctypes.c_uint32),
        ("appendable", ctypes.c_uint32),
        ("usedBlocks", ctypes.c_uint32),
        ("freeBlocks", ctypes.c_uint32),
        ("capacityBlocks", ctypes.c_uint32),
        ("blockSize", ctypes.c_uint32),
        ("protectionSystem", ctypes.c_uint8),
        ("reserved", ctypes.c_uint8 * 3),
    ]


class LastErrorRecord(ctypes.Structure):
    _fields_ = [
        ("status", ctypes.c_uint8),
        ("senseKey", ctypes.c_uint8),
        ("asc", ctypes.c_uint8),
        ("ascq", ctypes.c_uint8),
        ("cdbLength", ctypes.c_uint8),
        ("senseLength", ctypes.c_uint8),
        ("cdb", ctypes.c_uint8 * 16),
        ("sense", ctypes.c_uint8 * 32),
        ("reserved", ctypes.c_uint8 * 2),
        ("description", ctypes.c_char_p),
        ("category", ctypes.c_char_p),
        ("location", ctypes.c_int32),
    ]


class BurnOptionsRecord(ctypes.Structure):
    _fields_ = [("mode", ctypes.c_int32), ("writeSpeed", ctypes.c_int32)]


class FileSetEntryRecord(ctypes.Structure):
    _fields_ = [("volumePath", ctypes.c_char_p), ("sourcePath", ctypes.c_char_p)]


# The layouts the header fixes; a mismatch here would hand the library garbage.
assert ctypes.sizeof(DriveInfoRecord) == 44
assert DriveInfoRecord.capabilities.offset == 40
assert ctypes.sizeof(DiscInfoRecord) == 36
assert LastErrorRecord.description.offset == 56
assert ctypes.sizeof(BurnOptionsRecord) == 8

_c = ctypes
_PROTOTYPES = {
    "TVX_Initialize": (_c.c_int32, []),
    "TVX_Terminate": (_c.c_int32, []),
    "TVX_GetVersion": (_c.c_uint32, [_c.POINTER(_c.c_uint32)]),
    "TVX_GetLastError": (_c.c_int32, [RecHandle, _c.POINTER(LastErrorRecord)]),
    "TVX_GetDriveCount": (_c.c_int32, []),
    "TVX_GetDriveInfo": (_c.c_int32, [_c.c_int32, _c.POINTER(DriveInfoRecord)]),
    "TVX_OpenRecHandle": (RecHandle, [_c.c_int32]),
    "TVX_CloseRecHandle": (_c.c_int32, [RecHandle]),
    "TVX_GetDiscInfo": (_c.c_int32, [RecHandle, _c.POINTER(DiscInfoRecord)]),
    "TVX_TestReady": (_c.c_int32, [RecHandle]),
    "TVX_EjectMedia": (_c.c_int32, [RecHandle]),
    "TVX_LoadMedia": (_c.c_int32, [RecHandle]),
    "TVX_BurnVideoTsFolder": (
        _c.c_int32,
        [RecHandle, _c.POINTER(BurnOptionsRecord), _c.c_char_p, _c.c_char_p, ProgressCallback,
         _c.c_int32],
    ),
    "TVX_BurnDVDVIDEO": (
        _c.c_int32,
        [RecHandle, _c.POINTER(BurnOptionsRecord), _c.c_char_p, _c.c_char_p, ProgressCallback,
         _c.c_int32],
    ),
    "TVX_BurnVolumeData": (
        _c.c_int32,
        [RecHandle, _c.POINTER(BurnOptionsRecord), _c.c_char_p, _c.c_char_p, ProgressCallback,
         _c.c_int32],
    ),
    "TVX_BurnFileSet": (
        _c.c_int32,
        [RecHandle, _c.POINTER(BurnOptionsRecord), _c.POINTER(FileSetEntryRecord), _c.c_int32,
         _c.c_char_p, ProgressCallback, _c.c_int32],
    ),
    "TVX_BurnVolumeImage": (
        _c.c_int32,
        [RecHandle, _c.POINTER(BurnOptionsRecord), _c.c_char_p, ProgressCallback, _c.c_int32],
    ),
    "TVX_EraseDisc": (_c.c_int32, [RecHandle, _c.c_int32, ProgressCallback, _c.c_int32]),
    "TVX_OpenFile": (DiscFileHandle, [RecHandle, _c.c_char_p]),
    "TVX_ReadFile": (
        _c.c_int32, [DiscFileHandle, _c.c_void_p, _c.c_uint32, _c.POINTER(_c.c_uint32)]
    ),
    "TVX_SeekFile": (_c.c_uint64, [DiscFileHandle, _c.c_uint32, _c.c_uint32, _c.c_int32]),
    "TVX_GetFileSize": (_c.c_uint64, [DiscFileHandle]),
    "TVX_CloseFile": (None, [DiscFileHandle]),
}


def _candidates() -> list[str]:
    """Where the library is looked for, first match wins."""
    chosen = os.environ.get("TORVEXIN_LIBRARY")
    if chosen:
        return [chosen]
    if _WINDOWS:
        # Beside the package, then the process's DLL search (os.add_dll_directory).
        return [str(Path(__file__).with_name("Torvexin.dll")), "Torvexin.dll"]
    found = []
    try:
        from . import _paths  # written at installation: the library relative to the package

        found.append(str((Path(__file__).parent / _paths.LIBRARY_FROM_PACKAGE).resolve()))
    except ImportError:
        pass
    # A library the loader knows (its cache, the system's folders) by its soname.
    found.append("libtorvexin.so.1")
    return found


def load() -> ctypes.CDLL:
    """Loads the library and declares its functions; OSError when it cannot be found."""
    loader = ctypes.WinDLL if _WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]
    failures = []
    for candidate in _candidates():
        if os.sep in candidate and not os.path.exists(candidate):
            failures.append(f"{candidate}: no such file")
            continue
        try:
            library = loader(candidate)
            break
        except OSError as error:
            failures.append(str(error))
    else:
        raise OSError("the Torvexin library cannot be loaded: " + "; ".join(failures))
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library
