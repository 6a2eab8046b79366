// The recording engine: turns "write this run of bytes as one track" into the command sequence
// each kind of DVD needs, and waits for the drive with progress while it works on its own.
//
// A job calls, in order: Rec_Prepare, Rec_BeginTrack, any number of Rec_WriteBytes /
// Rec_WriteFile, Rec_FlushAndSync, Rec_CloseTrack, Rec_CloseSession, Rec_Finish. An erase calls
// Rec_Prepare, Rec_Blank, Rec_Finish. The engine's whole state lives in the RecHandle's `rec`;
// a recording is running exactly while rec.bufferAllocation is non-null (the job attaches the
// transfer buffer). Every operation returns nonzero on success and 0 on failure; failures worth
// reporting were recorded in the handle's LastError with the step's own location number.
#pragma once

#include "platform/host.h"
#include "transport/rec_handle.h"

#include <cstdint>
#include <functional>

namespace tvx {

// Progress event types (the values of TVX_EVENT_*).
inline constexpr int kEventPrepare = 0;
inline constexpr int kEventFinished = 1;
inline constexpr int kEventTrackBegin = 2;
inline constexpr int kEventTrackSize = 3;
inline constexpr int kEventWrite = 4;
inline constexpr int kEventWait = 5;
inline constexpr int kEventEraseBegin = 6;
inline constexpr int kEventEraseProgress = 7;
inline constexpr int kEventVerify = 8;

// CLOSE TRACK/SESSION functions the engine uses.
inline constexpr int kCloseStopFormat = 0;      // DVD+RW: stop background format / quick close
inline constexpr int kCloseTrackFunction = 1;   // close the track
inline constexpr int kCloseCompact = 2;         // DVD+RW: compatible close (mapped windows)
inline constexpr int kCloseDeIcing = 3;         // DVD+RW: close session, finish background format
inline constexpr int kCloseFinalise = 5;        // DVD+R: finalise the disc with minimal radius
inline constexpr int kCloseSessionFunction = 2; // CD: close the session (and the disc)
inline constexpr int kCloseFinaliseBd = 6;      // BD-R: close the session and the disc

inline constexpr uint32_t kBlockSize = 2048;
inline constexpr uint32_t kTransferBufferBytes = 0x10000;
// Own progress scale of erase and format waits.
inline constexpr uint32_t kProgressScale = 0x10000;
// Minimum progress total on dash media.
inline constexpr uint32_t kDashProgressMinimum = 0x80000;

// Calls the host's callback: types 4, 5, 7, 8 with (progressValue = value, progressTotal),
// others with zeros. A result of 0 sets rec.cancelled. 1 without a callback.
int Rec_Progress(RecHandle* handle, int type, uint32_t value);
// A write or wait event (4 or 5); raised as 7 while no recording runs. Type 5 advances the
// estimated position by one second's worth of blocks, staying below the total.
int Rec_ReportWrite(RecHandle* handle, int type);

int Rec_Prepare(RecHandle* handle, const TVX_BurnOptions* options);
int Rec_BeginTrack(RecHandle* handle, uint32_t track, uint32_t blocks, uint32_t blockSize);
// DVD+RW background format: starts (or restarts) it and waits until the drive is ready.
int Rec_StartFormat(RecHandle* handle);
// BD-RE: formats an unformatted disc with the drive's default spare areas and waits, reporting
// the drive's progress (event 7); a formatted disc is left as it is. 0 when the format failed,
// did not end in time or the host stopped the wait (the drive formats on).
int Rec_FormatBdRe(RecHandle* handle);
// BD-RE: starts a full format (FORMAT UNIT type 00h); the caller waits as for a blank.
int Rec_FullFormatBdRe(RecHandle* handle);

// A CD in a drive that writes session at once but not track at once.
bool Rec_CdNeedsSessionAtOnce(RecHandle* handle);
// Sends the cue sheet of one mode 1 track of `blocks` blocks and writes its pregap.
int Rec_BeginCdSessionAtOnce(RecHandle* handle, uint32_t blocks);

// Appends bytes to the transfer buffer, padded to a whole block; full buffers are written.
int Rec_WriteBytes(RecHandle* handle, const void* data, uint32_t count);
// Appends a whole host file from its current position, its last block padded with zeros. Fails
// when the file holds more bytes than its size said (it grew meanwhile).
int Rec_WriteFile(RecHandle* handle, HostFile& file);
// Appends `bytes` bytes of a host file from its current position, the last block padded.
int Rec_WriteFileBytes(RecHandle* handle, HostFile& file, uint64_t bytes);
// Accounts n bytes just placed at buffer + bufferFill; writes the buffer when full.
int Rec_Commit(RecHandle* handle, uint32_t n);
// One WRITE at nextAddress (streaming where the job chose it), repeated while the drive reports it
// is busy writing.
int Rec_WriteChunk(RecHandle* handle, const uint8_t* data, uint32_t bytes);

// The volume's sectors first .. end - 1, handed to the engine in order (Rec_WriteBytes,
// Rec_WriteFile...). Nonzero on success.
using VolumeRange = std::function<int(uint32_t first, uint32_t end)>;
// Writes a volume of `size` sectors from the track's start. With rec.commitOrder (media written
// over in place) the old volume's structures (sectors 0 to 271) are first overwritten with zeros
// and flushed, then everything but the volume descriptor sequences (32-63) and the first
// descriptor (16-31) is written and flushed, then those sequences, flushed, and the first
// descriptor last. Whenever the process or the power stops, and whatever part of its cache a
// drive loses, a reader finds the old volume, no volume, or the whole new one once the job's
// final flush is done. Otherwise the sectors go in order. The caller then flushes
// (Rec_FlushAndSync).
int Rec_WriteVolume(RecHandle* handle, uint32_t size, const VolumeRange& range);
// Writes what the buffer holds (padded to the drive's packet on restricted overwrite).
int Rec_DrainBuffer(RecHandle* handle);
// Flushes the drive's cache and waits until it is done, without ejecting on a stop: nonzero
// once the drive confirmed it.
int Rec_SyncCache(RecHandle* handle);

// Writes the partial buffer, flushes the drive's cache and waits until it is done.
int Rec_FlushAndSync(RecHandle* handle);
int Rec_CloseTrack(RecHandle* handle, int ignored);
int Rec_CloseSession(RecHandle* handle, int ignored);
int Rec_CloseWithRetry(RecHandle* handle, uint16_t track, int function);
// BD-R: finalises the disc; CD: closes the session, which closes the disc too.
int Rec_CloseBdCdSession(RecHandle* handle);
// DVD+RW close with the given function, then waits until the drive is ready. A stop of the
// background format (kCloseStopFormat) is sent the way the drive's DVD+RW feature allows.
int Rec_CloseAndWait(RecHandle* handle, int function);
// Allows removal and ejects (not after a successful test write, nor for an erase).
int Rec_Finish(RecHandle* handle);
// Erases a DVD-RW (BLANK) or a formatted DVD+RW (zeroing and close); rec.quickErase chooses.
int Rec_Blank(RecHandle* handle);
// Overwrites the volume structures of a rewritable disc with zeros, flushes and, on a DVD+RW,
// closes: after a recording that did not complete, no reader finds a volume there.
int Rec_WipeVolume(RecHandle* handle);
// Overwrites the old volume's structures (sectors 0 to 271 of the track) with zeros, those a
// reader starts from flushed (barrier) before the rest; the caller flushes the rest.
int Rec_ZeroOldVolume(RecHandle* handle, int (*barrier)(RecHandle*));
// Writes `blocks` zero blocks from lba, repeating a write the drive answered busy.
int Rec_WriteZeros(RecHandle* handle, uint32_t lba, uint32_t blocks);

} // namespace tvx
