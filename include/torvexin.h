/**
 * \file torvexin.h
 * Torvexin: a disc-recording engine with a flat C interface.
 *
 * Conventions
 * - Results: functions that report a status return a signed 32-bit code: TVX_OK (0) or one of
 *   the negative TVX_ERR_* values below. A few return a count, a pointer, a 64-bit value or 1/0;
 *   each says so. Nothing is thrown across this interface and the host process is never ended.
 * - Ownership: records the host receives (TVX_DriveInfo, TVX_DiscInfo, TVX_LastError, speed
 *   lists) are copied into memory the host provides. The only library memory the host points
 *   into is a TVX_RecHandle, a TVX_DiscFile, a mapped window's data and the two constant texts
 *   of a TVX_LastError; the host never frees them.
 * - Null: output pointers that a function needs are checked (TVX_ERR_INVALID_ARG); handles are
 *   not validated and must come from the matching open function.
 * - Threads: the library starts no thread. TVX_Initialize, TVX_InitializeEx, TVX_GetDriveCount,
 *   TVX_OpenRecHandle, TVX_CloseRecHandle and TVX_Terminate run while no other call runs. One
 *   recorder handle is used by one thread at a time; commands to one drive are serialised across
 *   threads and processes, one command at a time.
 * - Progress: burns and erases call the host's TVX_ProgressCallback on the calling thread; a
 *   callback result of 0 stops the job, which then returns TVX_ERR_CANCELLED.
 * - Text is narrow text in the host's ANSI code page (UTF-8 on Linux).
 * - Writing jobs: a burn, an erase or a TVX_SyncMMap holds the drive for its whole length. A
 *   second one on the same drive, from any process or recorder handle, fails at once (burns and
 *   erases with TVX_ERR_NOT_READY, TVX_SyncMMap with 0) without touching the disc; its
 *   TVX_LastError then has description "DRIVE IN USE BY ANOTHER WRITING JOB", location 1010 and
 *   no sense data. A holder that dies releases the drive. A job whose drive cannot be locked
 *   at all is refused the same way, with description "THE DRIVE COULD NOT BE LOCKED" and
 *   location 1011.
 * - A source that cannot be read (TVX_ERR_SOURCE: a folder, a file-set entry, the image, or a
 *   host file that vanished or changed size while it was burned or verified) is named in the
 *   TVX_LastError: category "Source", location 1020, description the host path (a file-set
 *   entry whose volume path is bad: that path). A source the volume cannot record is refused
 *   the same way with location 1021 and the description "PATH: RULE": the entry at fault (a
 *   host path, or a file-set entry's volume path) and the rule it breaks (a name beyond the
 *   255 bytes of a UDF File Identifier, that is 254 Latin-1 characters or 127 others; a
 *   symbolic link back to a folder that holds it; a folder that cannot be listed; a path
 *   beyond the system's limit). That text stays valid until the next such failure on the
 *   handle.
 * - What a burn that fails or is stopped leaves (TVX_ERR_CANCELLED, TVX_ERR_COMMAND,
 *   TVX_ERR_VERIFY, TVX_ERR_SOURCE):
 *   - Before any sector was sent (no TVX_EVENT_WRITE, or the callback stopped the first one),
 *     the disc's content is unchanged; a DVD-R, DVD-R DL or sequential DVD-RW may hold a
 *     reserved, empty track once TVX_EVENT_TRACK_BEGIN was raised. A test write changes nothing.
 *   - A DVD+RW, DVD-RAM or DVD-RW in restricted overwrite is written so that no reader ever
 *     finds a volume that is not whole, whatever ends the burn (a stop, a failure, a crash of
 *     the host, kill -9, a power cut) and whoever reads meanwhile: the first writes overwrite
 *     sectors 16 to 271 (every anchor and volume descriptor) with zeros and are flushed; then
 *     the volume from sector 272 on (but the 16 sectors that hold its last one) is written and
 *     flushed; then the rest, the volume descriptor sequences (sectors 32 to 63) and the first
 *     descriptor (sector 16) last, and flushed again. Until that flush
 *     the disc holds no readable volume (or the old one, before the first write took effect)
 *     and can be burned again at once; after it, the whole new volume. A burn that ends before
 *     then zeroes sectors 16 to 271 again; should that fail, the TVX_LastError location is 1030.
 *     Otherwise the record still describes the failure that ended the recording.
 *   - Once the whole volume is on such a disc and flushed, a failure or a stop while the disc
 *     is finished (a DVD+RW's close and background format) keeps it: the job returns the
 *     failure's code (TVX_ERR_COMMAND, TVX_ERR_CANCELLED) and its TVX_LastError is the failed
 *     step's own record. On a DVD+RW only the close follows that flush, so a burn of a DVD+RW
 *     that ends with TVX_LastError location 805 (the close failed) or 239 (a poll of the
 *     close's wait, when the host stopped it) has left the whole volume on the disc.
 *   - A DVD-R, DVD-R DL, sequential DVD-RW, DVD+R or DVD+R DL is then left as it was when writing
 *     ended: its track and session open, never closed or finalised, so that no drive presents
 *     it as a finished disc; the sectors not written cannot be read. Such a disc cannot be
 *     burned again (a DVD-RW can be erased). Nothing written can be taken back, so a crash of
 *     the host or a power cut leaves the same: a track written in part in an open session.
 *     A stop or failure once the drive was asked to close ends the job's wait, not the drive's
 *     close, which may complete: TVX_GetDiscInfo, once the drive is ready again, tells a
 *     closed disc (`appendable` 0) from one left open.
 *   - When the recording completed and only the verification failed (after TVX_EVENT_VERIFY
 *     events), the disc holds the whole volume, closed as its kind requires.
 */
#ifndef TORVEXIN_H
#define TORVEXIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TVX_CALL __stdcall
#if defined(TVX_BUILDING_LIBRARY)
#define TVX_API
#else
#define TVX_API __declspec(dllimport)
#endif
#else
#define TVX_CALL
#define TVX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. Values ending in 9 and C are not used. */
typedef int32_t TVX_Result;
#define TVX_OK ((TVX_Result)0)
#define TVX_ERR_NOT_READY ((TVX_Result)0xE0000001u)
#define TVX_ERR_DISC_NOT_WRITABLE ((TVX_Result)0xE0000002u)
#define TVX_ERR_NO_SPACE ((TVX_Result)0xE0000003u)
#define TVX_ERR_NO_DRIVE ((TVX_Result)0xE0000004u)
#define TVX_ERR_SOURCE ((TVX_Result)0xE0000005u)
#define TVX_ERR_DISC_KIND ((TVX_Result)0xE0000006u)
#define TVX_ERR_COMMAND ((TVX_Result)0xE0000007u)
#define TVX_ERR_INVALID_ARG ((TVX_Result)0xE0000008u)
#define TVX_ERR_CANCELLED ((TVX_Result)0xE000000Au)
#define TVX_ERR_MODE ((TVX_Result)0xE000000Bu)
#define TVX_ERR_VERIFY ((TVX_Result)0xE000000Du)

/**
 * The name of a result code as it is written in this header ("TVX_ERR_NO_SPACE"), for logs and
 * messages; "TVX_UNKNOWN_RESULT" for any other value. A constant text, never freed. Defined here
 * rather than exported, so that any host has it without linking anything more.
 */
static inline const char* TVX_ResultName(TVX_Result result) {
    switch (result) {
    case TVX_OK:
        return "TVX_OK";
    case TVX_ERR_NOT_READY:
        return "TVX_ERR_NOT_READY";
    case TVX_ERR_DISC_NOT_WRITABLE:
        return "TVX_ERR_DISC_NOT_WRITABLE";
    case TVX_ERR_NO_SPACE:
        return "TVX_ERR_NO_SPACE";
    case TVX_ERR_NO_DRIVE:
        return "TVX_ERR_NO_DRIVE";
    case TVX_ERR_SOURCE:
        return "TVX_ERR_SOURCE";
    case TVX_ERR_DISC_KIND:
        return "TVX_ERR_DISC_KIND";
    case TVX_ERR_COMMAND:
        return "TVX_ERR_COMMAND";
    case TVX_ERR_INVALID_ARG:
        return "TVX_ERR_INVALID_ARG";
    case TVX_ERR_CANCELLED:
        return "TVX_ERR_CANCELLED";
    case TVX_ERR_MODE:
        return "TVX_ERR_MODE";
    case TVX_ERR_VERIFY:
        return "TVX_ERR_VERIFY";
    default:
        return "TVX_UNKNOWN_RESULT";
    }
}

/* Media-type bits: one per kind of medium, mapped from MMC profile numbers. */
enum TVX_MediaType {
    MediaCdRom = 0x0001,
    MediaCdR = 0x0002,
    MediaCdRw = 0x0004,
    MediaDvdRom = 0x0010,
    MediaDvdR = 0x0020,
    MediaDvdRw = 0x0040,
    MediaDvdRam = 0x0080,
    MediaDvdPlusR = 0x0100,
    MediaDvdPlusRw = 0x0200,
    MediaDvdPlusRDualLayer = 0x0400,
    MediaDvdRDualLayer = 0x0800,
    MediaBdRom = 0x1000,
    MediaBdR = 0x2000,
    MediaBdRe = 0x4000,
    MediaRecordableMask = 0x6FE6
};

/* Drive status bits of TVX_GetDriveStatus (request mask and answer). */
#define TVX_STATUS_TRAY_OPEN 0x1u
#define TVX_STATUS_MEDIUM_PRESENT 0x2u
#define TVX_STATUS_BUSY 0x4u

/* Progress event types passed to the TVX_ProgressCallback. */
#define TVX_EVENT_PREPARE 0        /* preparation of a recording or erase begins */
#define TVX_EVENT_FINISHED 1       /* the recording or erase has ended */
#define TVX_EVENT_TRACK_BEGIN 2    /* the track is about to begin */
#define TVX_EVENT_TRACK_SIZE 3     /* the track's size is known; the pair is zeros, and the
                                      write events carry the progress total (the track's
                                      size, at least 0x80000 on DVD-R, DVD-RW and DVD-R DL) */
#define TVX_EVENT_WRITE 4          /* a chunk is about to be written: volume sectors written
                                      before it (not its address: media written in place take
                                      the volume's structures last) */
#define TVX_EVENT_WAIT 5           /* waiting for the drive (flush, close): estimated position */
#define TVX_EVENT_ERASE_BEGIN 6    /* an erase begins */
#define TVX_EVENT_ERASE_PROGRESS 7 /* erase and format progress, out of 0x10000 */
#define TVX_EVENT_VERIFY 8         /* verification: the next sector to be compared */

/* Burn modes of TVX_BurnOptions.mode. */
#define TVX_MODE_WRITE 0
#define TVX_MODE_TEST_WRITE 1
#define TVX_MODE_WRITE_VERIFY 3

/* Origins of TVX_SeekFile. */
#define TVX_SEEK_SET 0
#define TVX_SEEK_CUR 1
#define TVX_SEEK_END 2

/* Modes of TVX_OpenMMap. */
#define TVX_MMAP_ABSOLUTE 0
#define TVX_MMAP_PARTITION 1
#define TVX_MMAP_FILE 2

typedef struct TvxRecHandle* TVX_RecHandle;
typedef struct TvxDiscFile* TVX_DiscFile;

/* Identification of one drive (44 bytes on 32-bit targets). */
typedef struct TVX_DriveInfo {
    uint32_t busKind; /* 0 other, 1 ATAPI/ATA, 2 SCSI, 3 IEEE 1394, 4 USB */
    char driveLetter; /* for example 'D'; 0 when the drive has none */
    uint8_t hostAdapter;
    uint8_t target;
    uint8_t lun;
    char vendor[9];
    char product[17];
    char revision[5];
    uint8_t reserved;
    uint32_t capabilities; /* union of the media-type bits of the drive's profiles */
} TVX_DriveInfo;

/* State, kind and space of the disc in a drive (36 bytes). */
typedef struct TVX_DiscInfo {
    uint32_t mediaType;
    uint32_t blank;
    uint32_t canErase;
    uint32_t appendable;
    uint32_t usedBlocks;
    uint32_t freeBlocks;
    uint32_t capacityBlocks;
    uint32_t blockSize;
    uint8_t protectionSystem;
    uint8_t reserved[3];
} TVX_DiscInfo;

/* The last failed drive command of a recorder handle (68 bytes on 32-bit targets). */
typedef struct TVX_LastError {
    uint8_t status;
    uint8_t senseKey;
    uint8_t asc;
    uint8_t ascq;
    uint8_t cdbLength;
    uint8_t senseLength;
    uint8_t cdb[16];
    uint8_t sense[32];
    uint8_t reserved[2];
    const char* description; /* constant text, never freed by the host */
    const char* category;    /* constant text, never freed by the host */
    int32_t location;        /* the step that recorded the failure */
} TVX_LastError;

typedef struct TVX_BurnOptions {
    int32_t mode;       /* TVX_MODE_* */
    int32_t writeSpeed; /* kB/s; -1 asks for the fastest */
} TVX_BurnOptions;

typedef struct TVX_FileSetEntry {
    const char* volumePath; /* path in the volume, '/' or '\' separated */
    const char* sourcePath; /* host file */
} TVX_FileSetEntry;

/**
 * The host's progress function for burns and erases, called on the thread that runs the job.
 * `eventType` is a TVX_EVENT_* value; `data` points at two values (progress value, progress
 * total) for events 4, 5, 7 and 8, and at two zeros otherwise, valid during the call only.
 * `userData` is the value the host passed to the job, 32 bits wide on every target: pass an
 * index into the host's own table, not a pointer. Returning 0 stops the job.
 */
typedef int32_t(TVX_CALL* TVX_ProgressCallback)(int32_t eventType, uint32_t* data,
                                                int32_t userData);

/* Lifecycle */
/**
 * Starts the library: chooses the transport and fills the drive table.
 *
 * The operating system's SCSI pass-through is tried first; when it reaches no drive, the ASPI
 * layer module is loaded instead: on Linux "libwnaspi32.so" from the library's private folder
 * "torvexin" beside the library's own file (for a program linked with the static library,
 * beside the program), by its absolute path only. Each drive found is asked once for its media
 * kinds. Resets the mode set by TVX_InitializeEx.
 *
 * The library itself reads no environment variable. The ASPI layer module that comes with it
 * serves virtual recorders (disc images) when TVX_VIRTUAL_DRIVES is set before this call:
 * "image:kind[:blocks];..." with kind dvd-r, dvd-rw, dvd-rw-ro (restricted overwrite), dvd+r,
 * dvd+rw, dvd-ram, dvd+r-dl, dvd-r-dl or dvd-rom (an existing image, read only); a missing
 * image becomes a blank disc of that kind. TVX_VIRTUAL_TIMING=fast skips the recorders'
 * simulated minutes. On a machine whose pass-through reaches a drive, they are not seen.
 *
 * \return 1 when a transport was chosen (even if it found no drive), 0 when none can be used.
 *         A yes/no, not a result code: here 0 is failure, the opposite of TVX_OK.
 *
 * Blocks for two short commands per drive (identification, at most 8 s, and media kinds, at
 * most 20 s). Call it while no other call runs and no recorder handle is open: a second call fills
 * the table anew, which makes every earlier TVX_RecHandle point at whatever drive now has its
 * index.
 */
TVX_API int32_t TVX_CALL TVX_Initialize(void);

/**
 * Starts the library like TVX_Initialize, in extended mode.
 *
 * Extended mode changes one answer: TVX_GetDiscInfo reports a DVD+RW that holds data with
 * `appendable` 1 (it may be written over); after TVX_Initialize the same disc is reported with
 * `appendable` 0. Burns write over a DVD+RW in either mode; the flag only tells the host what it
 * may offer. The mode is set even when starting fails and lasts until the next initialisation.
 *
 * \return 1 or 0 exactly as TVX_Initialize (a yes/no, not a result code).
 *
 * Blocks and must be called as TVX_Initialize.
 */
TVX_API int32_t TVX_CALL TVX_InitializeEx(void);

/**
 * Chooses the media kinds that burns and erases accept from now on.
 *
 * `mediaMask` holds TVX_MediaType bits. Until a host calls this, the jobs accept the writable
 * DVDs (0x0FE0: DVD-R, DVD-RW, DVD-RAM, DVD+R, DVD+RW, DVD+R DL, DVD-R DL) and refuse every
 * other disc with TVX_ERR_DISC_KIND. A host that wants more asks for it here, for example
 * MediaRecordableMask for everything the library can write. The choice is process-wide and
 * lasts across TVX_Initialize, TVX_InitializeEx and TVX_Terminate. A burn or erase of a kind
 * outside the mask returns TVX_ERR_DISC_KIND, as before; an erase takes only the rewritable
 * kinds of the mask that hold something.
 *
 * \return the mask now in force: `mediaMask` without the bits of kinds the library cannot
 *         write. Never fails.
 *
 * Sends no command; call it while no job runs.
 */
TVX_API uint32_t TVX_CALL TVX_SetWritableMedia(uint32_t mediaMask);

/**
 * Stops the library: closes every open recorder handle, empties the drive table and unloads the
 * ASPI layer module, so that the library is back in its state before initialisation.
 *
 * Close disc files (TVX_CloseFile) first: after this call they can no longer read. Call it while
 * no other call runs. Sends no drive command; returns promptly.
 *
 * \return 0 always; there is nothing to report.
 */
TVX_API int32_t TVX_CALL TVX_Terminate(void);

/**
 * Reports the library's file version, 1.3.0.81 for this release.
 *
 * \param versionLow receives the low half: build in the upper 16 bits, revision in the lower
 *        (0x00000051); may be NULL. Set to 0 when the version cannot be read.
 * \return the high half: major in the upper 16 bits, minor in the lower (0x00010003); 0 when the
 *         version cannot be read. Not a result code.
 *
 * Needs no initialisation and no drive; returns at once.
 */
TVX_API uint32_t TVX_CALL TVX_GetVersion(uint32_t* versionLow);

/**
 * Copies the record of the last failed drive command of a recorder handle: status, sense key,
 * ASC/ASCQ, the command bytes, the sense bytes, the sense texts and the number of the step that
 * recorded it.
 *
 * Nothing clears the record while the drive table lasts: a later success leaves it as it is, so
 * it describes the most recent failure that a query, burn or erase recorded (typically one that
 * ended in TVX_ERR_COMMAND or TVX_ERR_VERIFY), or why TVX_OpenFile found nothing to open, or is
 * all zeros when there was none.
 * `description` and `category` point into the library's constant data, valid while the library
 * is loaded; never free them.
 *
 * \param handle a handle from TVX_OpenRecHandle (not validated beyond NULL).
 * \return TVX_OK, or TVX_ERR_INVALID_ARG when `handle` or `record` is NULL.
 *
 * Sends no drive command; returns at once.
 */
TVX_API TVX_Result TVX_CALL TVX_GetLastError(TVX_RecHandle handle, TVX_LastError* record);

/* Drives and handles */
/**
 * Finds the drives again and reports how many there are.
 *
 * Every call empties the drive table and enumerates anew: it closes every open recorder handle
 * (open them again afterwards) and may give an index to another drive than before.
 *
 * \return the number of drives (a count, not a result code); 0 before initialisation.
 *
 * Blocks for two short commands per drive (at most 8 s and 20 s). Call it while no other call
 * runs.
 */
TVX_API int32_t TVX_CALL TVX_GetDriveCount(void);

/**
 * Copies the identification of drive `index` (0 to TVX_GetDriveCount() - 1): bus, drive letter,
 * SCSI address, vendor, product and revision texts (zero-terminated, trailing blanks removed)
 * and the media kinds the drive handles.
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `info` is NULL; TVX_ERR_NO_DRIVE when no drive has
 *         that index (negative ones included).
 *
 * Reads the drive table only: no drive command, returns at once.
 */
TVX_API TVX_Result TVX_CALL TVX_GetDriveInfo(int32_t index, TVX_DriveInfo* info);

/**
 * Opens drive `index` for use and takes exclusive access to it for the life of the handle.
 *
 * \return the recorder handle, or NULL when no drive has that index, the library is not
 *         initialised or the drive cannot be opened. The handle points into the library's
 *         drive table: never free it; close it with TVX_CloseRecHandle. Opening an index that
 *         is already open returns the same handle (not counted: one close closes it).
 *         It stays valid until TVX_GetDriveCount, TVX_Initialize, TVX_InitializeEx or
 *         TVX_Terminate, which close it.
 *
 * Opens the device and identifies the drive (one command, at most 8 s). Call it while no other
 * call runs.
 */
TVX_API TVX_RecHandle TVX_CALL TVX_OpenRecHandle(int32_t index);

/**
 * Ends exclusive access and closes the drive of a recorder handle. The drive keeps its index and
 * can be opened again. NULL and an already closed handle are ignored. Close the disc files of
 * the handle first.
 *
 * \return 0 always; there is nothing to report.
 *
 * Returns at once. Call it while no other call runs.
 */
TVX_API int32_t TVX_CALL TVX_CloseRecHandle(TVX_RecHandle handle);

/* Queries and tray */
/**
 * Asks the drive which kinds of media it handles (its profile list) as a union of TVX_MediaType
 * bits.
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `caps` is NULL; TVX_ERR_COMMAND when the drive does
 *         not answer (see TVX_GetLastError). `*caps` is 0 on failure.
 *
 * Blocks for one command (at most 20 s).
 */
TVX_API TVX_Result TVX_CALL TVX_GetDriveCaps(TVX_RecHandle handle, uint32_t* caps);

/**
 * Describes the disc in the drive: its kind (one TVX_MediaType bit), whether it is blank,
 * erasable and appendable, and its used, free and total 2048-byte blocks.
 *
 * On a DVD+RW the answer comes from the disc's content, since the drive calls every formatted
 * DVD+RW complete: a disc whose blocks 16 to 31 are zero is blank with the whole disc free; one
 * with data has `freeBlocks` 0 and `appendable` 1 only when the library was started with
 * TVX_InitializeEx (0 after TVX_Initialize). A DVD-RAM or a DVD-RW in restricted overwrite is
 * described as the drive reports it (once formatted: not blank, erasable, whatever it holds);
 * the burns write over these media from their start all the same.
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `info` is NULL; TVX_ERR_NOT_READY when the drive is
 *         not ready (no disc, tray open, still spinning up: try again), `*info` left unchanged;
 *         TVX_ERR_COMMAND when the drive refuses the profile or disc query (see
 *         TVX_GetLastError). Queries that only refine the answer degrade it to zeros instead.
 *
 * Blocks for a few commands (on a DVD+RW up to 16 more one-block reads), each at most 20 s;
 * usually well under a second.
 */
TVX_API TVX_Result TVX_CALL TVX_GetDiscInfo(TVX_RecHandle handle, TVX_DiscInfo* info);

/**
 * Lists the write speeds the drive offers for the disc it holds, in kB/s (1385 kB/s is DVD 1x),
 * fastest first, ending at the first 0 or at the end of the array.
 *
 * The array is cleared first. A drive that keeps no list is probed by asking for ever slower
 * speeds; its own speeds are set back afterwards, except after a failed query.
 *
 * \param speeds the host's array.
 * \param sizeBytes its size in bytes (not entries).
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `speeds` is NULL; any failure of TVX_GetDiscInfo;
 *         TVX_ERR_DISC_NOT_WRITABLE when the disc is of no recordable kind; TVX_ERR_COMMAND
 *         when the drive refuses a query of the probe (see TVX_GetLastError).
 *
 * Blocks for the disc query and, when probing, two commands per speed step (each at most 20 s).
 * Do not call it while a burn runs on the same drive: the probe changes the drive's speed.
 */
TVX_API TVX_Result TVX_CALL TVX_GetWriteSpeedCaps(TVX_RecHandle handle, uint32_t* speeds,
                                                  uint32_t sizeBytes);

/**
 * Asks the drive about its tray, medium and readiness, for the TVX_STATUS_* bits in `request`
 * (other bits are ignored).
 *
 * The bits found are ORed into `*state`, so clear it before the call. TVX_STATUS_BUSY is found
 * from the drive's "becoming ready" answer or its operational event; the tray and medium bits
 * from its media event. A bit the drive did not report stays clear.
 *
 * \return TVX_OK; TVX_ERR_NOT_READY when the drive refuses the event query (the bits found so
 *         far are still set).
 *
 * Blocks for a few commands (at most 20 s each, at most 33 commands).
 */
TVX_API TVX_Result TVX_CALL TVX_GetDriveStatus(TVX_RecHandle handle, uint32_t request,
                                               uint32_t* state);

/**
 * Asks whether the drive is ready to be read or written (TEST UNIT READY).
 *
 * \return 1 when it is ready, 0 when it is not (no disc, tray open, spinning up) or does not
 *         answer: a yes/no, not a result code. Nothing is recorded for TVX_GetLastError.
 *
 * Blocks for one command (at most 20 s). Poll it after TVX_LoadMedia before reading.
 */
TVX_API int32_t TVX_CALL TVX_TestReady(TVX_RecHandle handle);

/**
 * Allows removal of the disc and opens the tray, waiting until it is out.
 *
 * \return TVX_OK, or TVX_ERR_NOT_READY when the drive refuses.
 *
 * Blocks while the tray moves (the command's limit is 300 s, for drives that spin the disc
 * down first).
 */
TVX_API TVX_Result TVX_CALL TVX_EjectMedia(TVX_RecHandle handle);

/**
 * Closes the tray and loads the disc, for example after a burn, which ejects it.
 *
 * \return TVX_OK, or TVX_ERR_NOT_READY when the drive refuses (a drive without a motorised tray
 *         cannot load).
 *
 * Blocks while the tray moves (the command's limit is 300 s). The drive may still be spinning up
 * afterwards: wait until TVX_TestReady answers 1 before reading or burning.
 */
TVX_API TVX_Result TVX_CALL TVX_LoadMedia(TVX_RecHandle handle);

/* Burning and erasing */
/**
 * Builds a DVD-Video volume from a VIDEO_TS folder and burns it, streamed to the drive.
 *
 * The folder becomes a directory of the disc's root, under its own name; when that name is
 * exactly "VIDEO_TS", an empty AUDIO_TS is added beside it. Files are placed in DVD-Video order
 * and alignment.
 * `label` names the volume (NULL gives "UDF102"); a longer one is cut to the fields that carry
 * it, the shortest of which holds 30 characters (15 outside Latin-1).
 *
 * `options->mode` TVX_MODE_WRITE, TVX_MODE_TEST_WRITE (DVD-R/-RW only; nothing is recorded) or
 * TVX_MODE_WRITE_VERIFY (every sector the burn wrote is read back and compared: the volume's
 * descriptors, directories and File Entries, the host files and the zeros between them); `writeSpeed`
 * in kB/s, -1 for the fastest. The disc must be a blank recordable DVD, or a DVD+RW, DVD-RAM or
 * DVD-RW in restricted overwrite, which is written over from its start. The callback gets the progress events on this thread;
 * `userData` is handed back to it unchanged and is 32 bits wide: pass an index into the host's
 * own table, not a pointer.
 *
 * A successful burn ends by ejecting the disc (a successful test write leaves it in the
 * drive): call TVX_LoadMedia before reading it back or burning again. A burn that fails after
 * its checks have passed (while preparing, writing or closing) ejects it too.
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `options` or `folder` is NULL; TVX_ERR_SOURCE when
 *         the folder cannot be found or read, or one of its files cannot be opened (every file
 *         is opened once before the disc is read; nothing is written);
 *         TVX_ERR_NOT_READY or TVX_ERR_COMMAND from reading the disc; TVX_ERR_DISC_KIND (not a
 *         kind TVX_SetWritableMedia allows: a writable DVD by default); TVX_ERR_MODE (a test
 *         write asked on a DVD+R, DVD+R DL or DVD+RW, or on a DVD-R, DVD-R DL or DVD-RW in a
 *         drive that reports it cannot test write; writing for real needs no test-write
 *         ability); TVX_ERR_DISC_NOT_WRITABLE (not blank, media written over in place
 *         excepted); TVX_ERR_NO_SPACE;
 *         TVX_ERR_CANCELLED (the callback returned 0); TVX_ERR_COMMAND when writing or closing
 *         failed (see TVX_GetLastError); in TVX_MODE_WRITE_VERIFY every failure of the
 *         recording, and a difference found on read-back, is TVX_ERR_VERIFY instead. A
 *         read-back that failed is told by its TVX_LastError: location 1060 with the drive's
 *         answer to the READ that failed, or location 1061, category "Verify", description
 *         "SECTOR n READ BACK OTHER THAN IT WAS WRITTEN" naming the first differing sector.
 *
 * Blocks for the whole recording: writing at the drive's speed, then waiting for the drive to
 * flush and close (each wait at most an hour), the read-back when verifying, and the eject
 * (at most 60 s). Nothing is written when a check fails before the recording.
 */
TVX_API TVX_Result TVX_CALL TVX_BurnVideoTsFolder(TVX_RecHandle handle,
                                                  const TVX_BurnOptions* options,
                                                  const char* folder, const char* label,
                                                  TVX_ProgressCallback callback, int32_t userData);

/**
 * Builds a DVD-Video volume from a folder that holds VIDEO_TS and burns it, streamed to the
 * drive.
 *
 * The folder's contents become the disc's root; it must hold "VIDEO_TS" (exact case), and an
 * empty AUDIO_TS is added when it has none. Files are placed in DVD-Video order and alignment.
 * `label` names the volume (NULL gives "UDF102"); a longer one is cut to the fields that carry
 * it, the shortest of which holds 30 characters (15 outside Latin-1).
 *
 * Modes, disc checks, progress, results and blocking are those of TVX_BurnVideoTsFolder: a
 * successful burn ejects the disc (TVX_LoadMedia before reading it back), and `userData` is 32
 * bits wide (pass an index into the host's own table, not a pointer).
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `options` or `folder` is NULL; TVX_ERR_SOURCE when
 *         the folder cannot be read or holds no VIDEO_TS;
 *         otherwise the codes of TVX_BurnVideoTsFolder.
 */
TVX_API TVX_Result TVX_CALL TVX_BurnDVDVIDEO(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                             const char* folder, const char* label,
                                             TVX_ProgressCallback callback, int32_t userData);

/**
 * Builds a data volume from a folder's contents and burns it, streamed to the drive.
 *
 * The folder's contents, hidden files included, become the disc's root.
 * `label` names the volume (NULL gives "UDF102"); a longer one is cut to the fields that carry
 * it, the shortest of which holds 30 characters (15 outside Latin-1).
 *
 * Modes, disc checks, progress, results and blocking are those of TVX_BurnVideoTsFolder: a
 * successful burn ejects the disc (TVX_LoadMedia before reading it back), and `userData` is 32
 * bits wide (pass an index into the host's own table, not a pointer).
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `options` or `folder` is NULL; TVX_ERR_SOURCE when
 *         the folder cannot be read or is empty (the disc is not touched);
 *         otherwise the codes of TVX_BurnVideoTsFolder.
 */
TVX_API TVX_Result TVX_CALL TVX_BurnVolumeData(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                               const char* folder, const char* label,
                                               TVX_ProgressCallback callback, int32_t userData);

/**
 * Builds a volume from a list of host files and burns it, streamed to the drive.
 *
 * Each of the `count` entries puts the host file `sourcePath` at `volumePath` ('/' or '\'
 * separated, from the root); missing directories are made, and a later entry for the same path
 * replaces an earlier one. The array and its texts are only read during the call.
 * `label` names the volume (NULL gives "UDF102"); a longer one is cut to the fields that carry
 * it, the shortest of which holds 30 characters (15 outside Latin-1).
 *
 * Modes, disc checks, progress, results and blocking are those of TVX_BurnVideoTsFolder: a
 * successful burn ejects the disc (TVX_LoadMedia before reading it back), and `userData` is 32
 * bits wide (pass an index into the host's own table, not a pointer).
 *
 * Names are looked up as given, ASCII letters in either case. The characters \ / : * ? " < > |
 * of a leaf name are recorded as '_'; an entry whose name only that makes equal to an entry
 * already in its directory fails (it never replaces it).
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `options` or `entries` is NULL; TVX_ERR_SOURCE when
 *         `count` is 0 or less or an entry fails: no `volumePath` or `sourcePath`, a path that
 *         names the root or holds a "." or ".." component, a missing or unreadable host file,
 *         a path through a file, or the name clash above. The TVX_LastError names the entry's
 *         `volumePath` when it names the root or holds "." or "..", else its `sourcePath`. Entries are checked before
 *         the disc is read; nothing is written. Otherwise the codes of TVX_BurnVideoTsFolder.
 */
TVX_API TVX_Result TVX_CALL TVX_BurnFileSet(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                            const TVX_FileSetEntry* entries, int32_t count,
                                            const char* label, TVX_ProgressCallback callback,
                                            int32_t userData);

/**
 * Burns a finished volume image file unchanged, from the disc's first block. The image is not
 * checked; its size is rounded up to whole 2048-byte blocks. TVX_MODE_WRITE_VERIFY compares
 * the whole image, and the zeros that pad its last block, with the disc. The image is written as the volume burns write a volume: on a
 * DVD+RW, DVD-RAM or DVD-RW in restricted overwrite its sectors 0 to 271 go last, and a burn that
 * fails or is stopped leaves what the notes at the top of this header say. An empty image (0
 * bytes) writes no sector: the disc keeps what it holds. An image shorter than 272 sectors on
 * such media still has sectors 16 to 271 zeroed first, past its end, so that no earlier
 * volume's structures remain beside it.
 *
 * Modes, disc checks, progress, results and blocking are those of TVX_BurnVideoTsFolder: a
 * successful burn ejects the disc (TVX_LoadMedia before reading it back), and `userData` is 32
 * bits wide (pass an index into the host's own table, not a pointer).
 *
 * \return TVX_OK; TVX_ERR_INVALID_ARG when `options` or `imagePath` is NULL; TVX_ERR_SOURCE
 *         when the image cannot be opened as a regular file (checked after the disc checks and
 *         before anything is written; a pipe or a device is refused without waiting);
 *         otherwise the codes of TVX_BurnVideoTsFolder.
 */
TVX_API TVX_Result TVX_CALL TVX_BurnVolumeImage(TVX_RecHandle handle,
                                                const TVX_BurnOptions* options,
                                                const char* imagePath,
                                                TVX_ProgressCallback callback, int32_t userData);

/**
 * Works out the size of the volume TVX_BurnVideoTsFolder would burn from `folder` and whether it
 * fits on the disc in the drive. Nothing is written, and the disc's kind is not checked.
 *
 * \param volumeSectors receives the volume's size in 2048-byte blocks; may be NULL.
 * \param freeSectors receives the disc's `freeBlocks` (on a DVD+RW with data that is 0, yet the
 *        volume fits when it is within the disc's capacity, since the disc is written over);
 *        may be NULL. Both are set to 0 first.
 * \return TVX_OK when the volume fits; TVX_ERR_NO_SPACE when it does not; TVX_ERR_INVALID_ARG
 *         when `folder` is NULL; TVX_ERR_SOURCE when the folder cannot be read or holds
 *         nothing; any failure of TVX_GetDiscInfo (the volume size is then already set).
 *
 * Blocks while it reads the folder tree and queries the disc (a few commands).
 */
TVX_API TVX_Result TVX_CALL TVX_CheckVideoTsFolderSize(TVX_RecHandle handle, const char* folder,
                                                       uint32_t* volumeSectors,
                                                       uint32_t* freeSectors);

/**
 * Erases a DVD-RW (blanked minimally when `quick` is nonzero, wholly otherwise) or a DVD+RW
 * that holds data (its file system area is overwritten with zeros, quick or not).
 *
 * The callback gets TVX_EVENT_PREPARE, TVX_EVENT_ERASE_BEGIN, TVX_EVENT_ERASE_PROGRESS out of
 * 0x10000 and TVX_EVENT_FINISHED on this thread; `userData` is handed back unchanged and is 32
 * bits wide (pass an index, not a pointer). The disc stays in the drive. Nothing on the disc
 * changes before TVX_EVENT_ERASE_BEGIN: an erase that fails earlier leaves the disc as it was.
 *
 * \return TVX_OK once the drive reports the erase finished. TVX_ERR_CANCELLED when the callback
 *         returned 0: that stops the wait, not the drive, which may still finish or leave the
 *         disc partly erased (call TVX_GetDiscInfo to see). TVX_ERR_COMMAND when the drive
 *         refused the erase or was not ready again in time (LastError says why), or cannot be
 *         prepared. TVX_ERR_NOT_READY or TVX_ERR_COMMAND from reading the disc;
 *         TVX_ERR_DISC_KIND when the disc is no DVD-RW or DVD+RW (or other rewritable kind
 *         TVX_SetWritableMedia allows) or holds nothing to erase.
 *
 * Blocks until the drive is ready again: at most 3 minutes for a quick erase, 35 for a full
 * one; a DVD+RW first has its file system area zeroed and flushed and waits up to an hour for
 * its close.
 */
TVX_API TVX_Result TVX_CALL TVX_EraseDisc(TVX_RecHandle handle, int32_t quick,
                                          TVX_ProgressCallback callback, int32_t userData);

/* Files on a disc */
/**
 * Opens a file or directory of the UDF file system on the disc in the drive.
 *
 * `path` starts with a separator ('/' or '\') and is compared with the disc's names exactly,
 * case included: "/VIDEO_TS/VIDEO_TS.IFO". A directory is named with a trailing separator
 * ("/VIDEO_TS/"); a file of 0 bytes opens by its path and, as it once only did, with a trailing
 * separator too. The disc is read once, whole, at opening; later changes to it are not seen.
 * After a burn, load the disc first (the burn ejects it).
 *
 * Every descriptor is checked (tag checksum, and CRC where it fits) before it is used. A damaged
 * File Entry makes only its own file unreadable and a damaged directory hides only what lies
 * below it; the rest of the disc opens as usual. No file is read from outside the partition.
 *
 * \return a disc file owned by the host until TVX_CloseFile, or NULL (no result code) when the
 *         disc has no readable UDF file system, nothing has that path, the file's File Entry or
 *         a directory on its path is damaged, its data lies outside the partition or has more
 *         extents than can be read, or memory runs out. Except for the last, the reason is
 *         recorded for TVX_GetLastError: a record without command or sense bytes whose
 *         `description` names it and whose `category` is "Disc file system". While another
 *         writing job holds the drive (see the conventions), a failed opening records that
 *         instead ("DRIVE IN USE BY ANOTHER WRITING JOB"): what was read may be half changed.
 *         The recorder handle must stay open while the file is used.
 *
 * Blocks while the whole directory tree is read: about one read per directory and file, each at
 * most 20 s.
 */
TVX_API TVX_DiscFile TVX_CALL TVX_OpenFile(TVX_RecHandle handle, const char* path);

/**
 * Reads up to `count` bytes from the current position into `buffer` and moves the position past
 * them. The buffer needs room for `count` bytes only.
 *
 * \param bytesRead receives the number of bytes delivered; may be NULL.
 * \return 1 when a read was carried out, 0 when the position is at or past the end of the file
 *         (a yes/no, not a result code). A drive failure shortens a read without changing its
 *         result 1: `*bytesRead` tells how much arrived, and 0 bytes with result 1 means nothing
 *         could be read. Read in a loop while the result is 1 and `*bytesRead` is nonzero.
 *
 * Blocks for one command per 64 KiB read (at most 20 s each).
 */
TVX_API int32_t TVX_CALL TVX_ReadFile(TVX_DiscFile file, void* buffer, uint32_t count,
                                      uint32_t* bytesRead);

/**
 * Moves the read position of a disc file: to `offset` (TVX_SEEK_SET), by `offset` from the
 * current position (TVX_SEEK_CUR) or from the end (TVX_SEEK_END), where `offset` is the 64-bit
 * value offsetHigh:offsetLow. For the last two, an offset in two's complement moves backwards.
 *
 * \return the position after the call. A target beyond the end of the file or an unknown origin
 *         leaves the position unchanged, which the returned value shows; the end itself is a
 *         valid position.
 *
 * No drive command; returns at once.
 */
TVX_API uint64_t TVX_CALL TVX_SeekFile(TVX_DiscFile file, uint32_t offsetLow, uint32_t offsetHigh,
                                       int32_t origin);

/**
 * \return the size in bytes of the opened disc file; 0 for a directory.
 *
 * No drive command; returns at once.
 */
TVX_API uint64_t TVX_CALL TVX_GetFileSize(TVX_DiscFile file);

/**
 * Closes a disc file and frees it with every mapped window still open on it; pointers to their
 * data are invalid afterwards, and nothing is written back. NULL is ignored.
 *
 * No drive command; returns at once.
 */
TVX_API void TVX_CALL TVX_CloseFile(TVX_DiscFile file);

/* Mapped windows */
/**
 * Reads `count` sectors (1 to 1024, at most 2 MiB) into memory that the host may read and
 * change, to be written back in place with TVX_SyncMMap.
 *
 * `mode` TVX_MMAP_ABSOLUTE: `first` is a sector of the disc; TVX_MMAP_PARTITION: a sector
 * counted from the start of the UDF partition; TVX_MMAP_FILE: a 2048-byte block of the opened
 * file (the file's read position moves to the window's start, and bytes past the end of the
 * file read as zeros). When a drive read fails part way, the sectors not read show zeros and
 * TVX_SyncMMap refuses to write the window back.
 *
 * \return the window's data (count x 2048 bytes), owned by the disc file: freed by
 *         TVX_CloseMMap or TVX_CloseFile, never by the host. NULL for a count or mode out of
 *         range, a file block at or past the end of the file, a window that reaches past the
 *         end of the disc where the disc tells its capacity (LastError location 1108), memory
 *         exhausted, or when nothing can be read.
 *
 * Blocks for one read command per 64 KiB (at most 20 s each).
 */
TVX_API void* TVX_CALL TVX_OpenMMap(TVX_DiscFile file, uint32_t first, uint32_t count,
                                    uint32_t mode);

/**
 * Writes a window opened by TVX_OpenMMap back to the sectors it was read from, then has the
 * drive flush its cache and close the disc, so the change is durable. For rewritable discs; the
 * window stays open and may be changed and written again.
 *
 * \return 1 when the whole window was written, 0 otherwise (an unknown address, a failed disc
 *         query, after which nothing is written, or a write that failed or could not cover the
 *         whole window): a yes/no, not a result code. The flush and close run after every write
 *         attempt, failed ones included. A window part of which could not be read when it was
 *         opened is never written back: the result is 0 without any drive command, and the
 *         LastError (location 1107, category "Disc file system") says so. A write that failed
 *         is recorded with location 1109 and the drive's answer: the window's sectors before
 *         that WRITE were written, the WRITE's own sectors may have changed, the rest were not
 *         sent.
 *
 * Blocks for the writes (at most 180 s each; a write the drive answers busy is sent again for
 * up to 30 minutes), then waits for the drive to flush (at most an hour) and to close (at most
 * an hour). There is no callback: these waits cannot be watched or stopped through the library,
 * and a medium change or reset seen once the disc was queried ends them at once.
 */
TVX_API int32_t TVX_CALL TVX_SyncMMap(void* data);

/**
 * Frees a window opened by TVX_OpenMMap without writing it back; its address is invalid
 * afterwards.
 *
 * \return 1 when the window was found and freed, 0 when its disc file has no window at that
 *         address: a yes/no, not a result code. Only addresses returned by TVX_OpenMMap and not
 *         yet freed may be passed.
 *
 * No drive command; returns at once.
 */
TVX_API int32_t TVX_CALL TVX_CloseMMap(void* data);

#ifdef __cplusplus
}
#endif

/* Record layouts are part of the interface: fixed on 32-bit targets. */
#if defined(__cplusplus)
#define TVX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TVX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#if !defined(__STDC_VERSION__) || __STDC_VERSION__ >= 201112L || defined(__cplusplus)
TVX_STATIC_ASSERT(sizeof(TVX_DriveInfo) == 44, "TVX_DriveInfo is 44 bytes");
TVX_STATIC_ASSERT(offsetof(TVX_DriveInfo, vendor) == 8, "vendor at 8");
TVX_STATIC_ASSERT(offsetof(TVX_DriveInfo, product) == 17, "product at 17");
TVX_STATIC_ASSERT(offsetof(TVX_DriveInfo, revision) == 34, "revision at 34");
TVX_STATIC_ASSERT(offsetof(TVX_DriveInfo, capabilities) == 40, "capabilities at 40");
TVX_STATIC_ASSERT(sizeof(TVX_DiscInfo) == 36, "TVX_DiscInfo is 36 bytes");
TVX_STATIC_ASSERT(offsetof(TVX_DiscInfo, protectionSystem) == 32, "protectionSystem at 32");
TVX_STATIC_ASSERT(offsetof(TVX_LastError, cdb) == 6, "cdb at 6");
TVX_STATIC_ASSERT(offsetof(TVX_LastError, sense) == 22, "sense at 22");
TVX_STATIC_ASSERT(offsetof(TVX_LastError, description) == 56, "description at 56");
#if UINTPTR_MAX == 0xFFFFFFFFu
TVX_STATIC_ASSERT(offsetof(TVX_LastError, category) == 60, "category at 60");
TVX_STATIC_ASSERT(offsetof(TVX_LastError, location) == 64, "location at 64");
TVX_STATIC_ASSERT(sizeof(TVX_LastError) == 68, "TVX_LastError is 68 bytes");
TVX_STATIC_ASSERT(sizeof(TVX_FileSetEntry) == 8, "TVX_FileSetEntry is 8 bytes");
#endif
TVX_STATIC_ASSERT(sizeof(TVX_BurnOptions) == 8, "TVX_BurnOptions is 8 bytes");
#endif

#endif /* TORVEXIN_H */
