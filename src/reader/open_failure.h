// Why TVX_OpenFile found nothing to open, or why a mapped window was not written back, recorded
// in the RecHandle's LastError: the reader sends no failing command of its own to report, so the
// record carries no command or sense data, only a text that names what failed and a location
// number of the reader's own.
#pragma once

#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

enum class OpenFailure {
    NoVolume,         // no readable UDF file system
    NotFound,         // no file or directory has the path
    BelowDamage,      // the path lies below a damaged File Entry or directory
    DamagedEntry,     // the File Entry of the path is damaged
    TooManyExtents,   // the file has more extents than the reader keeps
    OutsidePartition, // an extent of the file leaves the partition
    WindowNotRead,    // a mapped window is not written back: part of it could not be read
    WindowOutside     // a window reaches past the end of the file or of the disc
};

inline constexpr const char* kOpenFailureCategory = "Disc file system";

// Replaces the handle's LastError with the failure.
void OpenFailure_Record(RecHandle* handle, OpenFailure failure);

} // namespace tvx
