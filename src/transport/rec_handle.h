// The drive entry and the recorder handle (RecHandle) that points into it. Every query, burn,
// erase and file function works on a RecHandle.
#pragma once

#include "torvexin.h"
#include "transport/transport.h"

#include <cstddef>
#include <cstdint>

struct TvxRecHandle;

// The state of a running burn or erase, kept in the RecHandle by the recording engine.
struct RecordingState {
    int32_t testWrite = 0;
    int32_t verify = 0;
    uint32_t requestedSpeed = 0;
    uint32_t actualSpeed = 0;
    uint32_t trackNumber = 0;
    uint32_t trackBlocks = 0;
    uint32_t blockSize = 0;
    uint32_t trackStart = 0;
    uint32_t nextAddress = 0;
    int32_t quickErase = 0;
    TVX_ProgressCallback callback = nullptr;
    int32_t userData = 0;
    int32_t cancelled = 0;
    uint32_t progressValue = 0;
    uint32_t progressTotal = 0;
    void* bufferAllocation = nullptr; // non-null exactly while a recording job runs
    uint8_t* buffer = nullptr;        // 16-byte aligned start inside bufferAllocation
    uint32_t bufferCapacity = 0;
    uint32_t bufferFill = 0;
    int32_t writeBegan = 0;  // a WRITE of this recording was sent to the drive
    int32_t writeFailed = 0; // the engine could not take or write a chunk (a stop included)
    // Blocks of the volume written so far (or estimated while the drive works): the position
    // progress events report, whatever order the blocks go in.
    uint32_t progressBlocks = 0;
    // The disc is written over in place: the volume's structures go last (Rec_WriteVolume).
    int32_t commitOrder = 0;
    // Writes on this medium are whole packets of this many blocks (0: any count).
    uint32_t packetBlocks = 0;
    // The whole volume, its structures included, is on the disc and flushed: from here on a
    // failure leaves it whole and readable.
    int32_t volumeCommitted = 0;
    // Writes go as WRITE(12) with the Streaming bit (a BD-RE in a drive that takes it).
    int32_t streamWrites = 0;
    // A CD recorded session at once: the drive writes the lead-out at the cache flush, and no
    // track or session is closed by command.
    int32_t cdSessionAtOnce = 0;
    // The drive did not take the test write asked for: the burn is refused, nothing written.
    int32_t testWriteRefused = 0;
    // Called about once a second while the command layer waits out a busy drive; 0 ends the
    // wait (the host stopped). Set by the engine around the commands it waits for.
    int (*busyWait)(TvxRecHandle* handle) = nullptr;
    // A wait polls the drive itself: the command layer answers its questions at once instead
    // of repeating them while the drive is busy.
    int32_t polling = 0;
    // The job has looked at the disc: from here on a medium change or a reset ends it.
    int32_t discSeen = 0;
    // A medium change or a reset ended the job: the disc in the drive may be another, so no
    // command that changes a disc is sent any more, and the record of that answer is kept.
    int32_t discLost = 0;
};

// Room for the path named by a source failure and the rule it breaks (the longest host path
// fits; longer texts are cut).
inline constexpr size_t kSourceTextCapacity = 4096 + 512;

// The RecHandle: opaque to the host (TVX_RecHandle points at it).
struct TvxRecHandle {
    tvx::Device* device = nullptr; // null while the handle is closed
    TVX_DriveInfo driveInfo = {};
    TVX_LastError lastError = {};
    TVX_DiscInfo discInfo = {}; // the copy a burn or erase job works from
    // The drive's current profile when the disc was last queried: it tells a DVD-RW in
    // restricted overwrite from a sequential one without asking again.
    uint16_t discProfile = 0;
    RecordingState rec;
    // The text of the last failure the library found itself (the path of a source that failed,
    // a sector read back otherwise than written); the LastError description points here.
    char sourceText[kSourceTextCapacity] = {};
};

namespace tvx {

using RecHandle = TvxRecHandle;

struct DriveEntry {
    DriveEntry* next = nullptr;
    RecHandle handle;
};

} // namespace tvx
