/*
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
 *   no sense data. A holder that dies releases the drive.
 * - A source that cannot be read (TVX_ERR_SOURCE: a folder, a file-set entry, the image, or a
 *   host file that vanished or changed size while it was burned or verified) is named in the
 *   TVX_LastError: category "Source", location 1020, description the host path. That text stays
 *   valid until the next such failure on the handle.
 * - What a burn that fails or is stopped leaves (TVX_ERR_CANCELLED, TVX_ERR_COMMAND,
 *   TVX_ERR_VERIFY, TVX_ERR_SOURCE):
 *   - Before any sector was sent (no TVX_EVENT_WRITE, or the callback stopped the first one),
 *     the disc's content is unchanged; a DVD-R, DVD-R DL or sequential DVD-RW may hold a
 *     reserved, empty track once TVX_EVENT_TRACK_BEGIN was raised. A test write changes nothing.
 *   - Once sectors were sent and the recording did not complete, a DVD+RW, DVD-RAM or DVD-RW in
 *     restricted overwrite holds no readable volume: sectors 16 to 271 (every anchor and volume
 *     descriptor) are overwritten with zeros and the disc can be burned again at once. Should
 *     that fail, the TVX_LastError location is 1030 and part of the volume may remain.
 *     Otherwise the record still describes the failure that ended the recording.
 *   - A DVD-R, DVD-R DL, sequential DVD-RW, DVD+R or DVD+R DL is then left as it was when writing
 *     ended: its track and session open, never closed or finalised, so that no drive presents
 *     it as a finished disc; the sectors not written cannot be read. Such a disc cannot be
 *     burned again (a DVD-RW can be erased).
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
#define TVX_EVENT_TRACK_SIZE 3     /* the track's size is known (total set) */
#define TVX_EVENT_WRITE 4          /* a chunk is about to be written: sectors written before it */
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

/* Progress: data points at two values (progress value, progress total) for events 4, 5, 7 and
   8, and at two zeros otherwise. Returning 0 stops the job. */
typedef int32_t(TVX_CALL* TVX_ProgressCallback)(int32_t eventType, uint32_t* data,
                                                 int32_t userData);

/* Lifecycle */
TVX_API int32_t TVX_CALL TVX_Initialize(void);
TVX_API int32_t TVX_CALL TVX_InitializeEx(void);
TVX_API int32_t TVX_CALL TVX_Terminate(void);
TVX_API uint32_t TVX_CALL TVX_GetVersion(uint32_t* versionLow);
TVX_API TVX_Result TVX_CALL TVX_GetLastError(TVX_RecHandle handle, TVX_LastError* record);

/* Drives and handles */
TVX_API int32_t TVX_CALL TVX_GetDriveCount(void);
TVX_API TVX_Result TVX_CALL TVX_GetDriveInfo(int32_t index, TVX_DriveInfo* info);
TVX_API TVX_RecHandle TVX_CALL TVX_OpenRecHandle(int32_t index);
TVX_API int32_t TVX_CALL TVX_CloseRecHandle(TVX_RecHandle handle);

/* Queries and tray */
TVX_API TVX_Result TVX_CALL TVX_GetDriveCaps(TVX_RecHandle handle, uint32_t* caps);
TVX_API TVX_Result TVX_CALL TVX_GetDiscInfo(TVX_RecHandle handle, TVX_DiscInfo* info);
TVX_API TVX_Result TVX_CALL TVX_GetWriteSpeedCaps(TVX_RecHandle handle, uint32_t* speeds,
                                                  uint32_t sizeBytes);
TVX_API TVX_Result TVX_CALL TVX_GetDriveStatus(TVX_RecHandle handle, uint32_t request,
                                               uint32_t* state);
TVX_API int32_t TVX_CALL TVX_TestReady(TVX_RecHandle handle);
TVX_API TVX_Result TVX_CALL TVX_EjectMedia(TVX_RecHandle handle);
TVX_API TVX_Result TVX_CALL TVX_LoadMedia(TVX_RecHandle handle);

/* Burning and erasing */
TVX_API TVX_Result TVX_CALL TVX_BurnVideoTsFolder(TVX_RecHandle handle,
                                                  const TVX_BurnOptions* options,
                                                  const char* folder, const char* label,
                                                  TVX_ProgressCallback callback, int32_t userData);
TVX_API TVX_Result TVX_CALL TVX_BurnDVDVIDEO(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                             const char* folder, const char* label,
                                             TVX_ProgressCallback callback, int32_t userData);
TVX_API TVX_Result TVX_CALL TVX_BurnVolumeData(TVX_RecHandle handle,
                                               const TVX_BurnOptions* options, const char* folder,
                                               const char* label, TVX_ProgressCallback callback,
                                               int32_t userData);
TVX_API TVX_Result TVX_CALL TVX_BurnFileSet(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                            const TVX_FileSetEntry* entries, int32_t count,
                                            const char* label, TVX_ProgressCallback callback,
                                            int32_t userData);
TVX_API TVX_Result TVX_CALL TVX_BurnVolumeImage(TVX_RecHandle handle,
                                                const TVX_BurnOptions* options,
                                                const char* imagePath,
                                                TVX_ProgressCallback callback, int32_t userData);
TVX_API TVX_Result TVX_CALL TVX_CheckVideoTsFolderSize(TVX_RecHandle handle, const char* folder,
                                                       uint32_t* volumeSectors,
                                                       uint32_t* freeSectors);
TVX_API TVX_Result TVX_CALL TVX_EraseDisc(TVX_RecHandle handle, int32_t quick,
                                          TVX_ProgressCallback callback, int32_t userData);

/* Files on a disc */
TVX_API TVX_DiscFile TVX_CALL TVX_OpenFile(TVX_RecHandle handle, const char* path);
TVX_API int32_t TVX_CALL TVX_ReadFile(TVX_DiscFile file, void* buffer, uint32_t count,
                                      uint32_t* bytesRead);
TVX_API uint64_t TVX_CALL TVX_SeekFile(TVX_DiscFile file, uint32_t offsetLow, uint32_t offsetHigh,
                                       int32_t origin);
TVX_API uint64_t TVX_CALL TVX_GetFileSize(TVX_DiscFile file);
TVX_API void TVX_CALL TVX_CloseFile(TVX_DiscFile file);

/* Mapped windows */
TVX_API void* TVX_CALL TVX_OpenMMap(TVX_DiscFile file, uint32_t first, uint32_t count,
                                    uint32_t mode);
TVX_API int32_t TVX_CALL TVX_SyncMMap(void* data);
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
