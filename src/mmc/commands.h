// The MMC command set: one operation per command the library sends, each building its CDB,
// calling Mmc_Execute and turning the answer into a plain record in host byte order.
// Every operation returns nonzero on success and 0 on failure; records are filled only on
// success (except where noted). None records an error or retries.
#pragma once

#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

// GET CONFIGURATION, one feature.
struct FeatureInfo {
    uint16_t currentProfile = 0;
    uint16_t featureCode = 0;
    int32_t persistent = 0;
    int32_t current = 0;
    // Feature 0000h: the profile numbers in the drive's order (a zero ends a shorter list).
    uint16_t profiles[16] = {};
    // Feature 002Fh (DVD-R/-RW Write).
    int32_t bufferUnderrunFree = 0;
    int32_t testWrite = 0;
    int32_t rewritable = 0;
    // Feature 002Ah (DVD+RW): the drive stops a background format only the compatible way
    // (CloseOnly), and it starts writing before the format is done (Quick Start).
    int32_t closeOnly = 0;
    int32_t quickStart = 0;
    // Feature 0107h (Real Time Streaming): WRITE(12) with the Streaming bit is taken (SW).
    int32_t streamWriting = 0;
};

struct DiscInformation {
    int32_t erasable = 0;
    uint8_t lastSessionState = 0; // 0 empty, 1 incomplete, 2 reserved/damaged, 3 complete
    uint8_t discStatus = 0;       // 0 empty, 1 incomplete, 2 finalised, 3 other
    uint8_t firstTrack = 0;
    uint8_t sessionCount = 0;
    uint8_t firstTrackInLastSession = 0;
    uint8_t lastTrackInLastSession = 0;
    uint8_t backgroundFormatStatus = 0; // 0 none, 1 started not running, 2 running, 3 complete
    uint8_t discType = 0;
};

struct TrackInformation {
    uint8_t trackNumber = 0;
    uint8_t sessionNumber = 0;
    uint8_t trackMode = 0;
    uint8_t dataMode = 0;
    int32_t damage = 0;
    int32_t copy = 0;
    int32_t reservedTrack = 0;
    int32_t blank = 0;
    int32_t packet = 0;
    int32_t fixedPacket = 0;
    int32_t lastRecordedValid = 0;
    int32_t nextWritableValid = 0;
    uint32_t trackStart = 0;
    uint32_t nextWritable = 0;
    uint32_t freeBlocks = 0;
    uint32_t fixedPacketSize = 0;
    uint32_t trackSize = 0;
    uint32_t lastRecorded = 0;
};

struct PerformanceDescriptor {
    uint32_t startLba = 0;
    uint32_t startPerformance = 0; // kB/s
    uint32_t endLba = 0;
    uint32_t endPerformance = 0; // kB/s
};

struct PhysicalFormat {
    uint8_t bookType = 0;
    uint8_t partVersion = 0;
    uint8_t layerField = 0; // 0 one layer, 1 two layers
    uint8_t protectionSystem = 0;
    uint32_t dataStart = 0;
    uint32_t dataEnd = 0;
    uint32_t layer0End = 0;
};

struct FormatCapacity {
    uint32_t blocks = 0;
    uint8_t typeByte = 0; // format type in bits 7-2, descriptor type in bits 1-0
    uint8_t paramHigh = 0;
    uint16_t paramLow = 0;
};

struct WriteParameters {
    int32_t writeType = 0;
    int32_t testWrite = 0;
    int32_t bufferUnderrunFree = 0;
    int32_t multiSession = 0;
};

// START STOP UNIT load/start values.
inline constexpr int kStartStopStart = 1;
inline constexpr int kStartStopEject = 2;
inline constexpr int kStartStopLoad = 3;

// Event classes of GET EVENT STATUS NOTIFICATION.
inline constexpr int kEventClassOperational = 1;
inline constexpr int kEventClassMedia = 4;
inline constexpr int kEventClassBusy = 6;

// The speed value that asks for the fastest speed, and one times DVD speed.
inline constexpr uint32_t kSpeedFastest = 0xFFFFFFFFu;
inline constexpr uint32_t kSpeedDvd1x = 1385;

int Mmc_TestUnitReady(RecHandle* h);
int Mmc_RequestSense(RecHandle* h, uint8_t* buffer, uint8_t length);
int Mmc_FormatUnit(RecHandle* h, const uint8_t* list, uint16_t length);
int Mmc_StartStop(RecHandle* h, int loadStart, int immediate);
int Mmc_PreventRemoval(RecHandle* h, int prevent);
int Mmc_ReadFormatCapacities(RecHandle* h, FormatCapacity* entries, uint32_t maxEntries);
int Mmc_GetFormatCapacity(RecHandle* h, uint32_t* current, uint32_t* formattable);
int Mmc_ReadCapacity(RecHandle* h, uint32_t* lastLba);
// The most bytes one READ or WRITE may carry on the path to the drive: the transport's limit cut
// to whole 16-block ECC blocks (to whole blocks below one ECC block); UINT32_MAX when unknown.
// READ(10), READ(12) and WRITE(10) larger than this go as several commands.
uint32_t Mmc_TransferLimit(const RecHandle* h);
int Mmc_Read10(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks);
int Mmc_Write10(RecHandle* h, const void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks);
// WRITE(12) with the Streaming bit: no defect management, so no verify-after-write slowdown.
int Mmc_Write12Streaming(RecHandle* h, const void* buffer, uint32_t bytes, uint32_t lba,
                         uint16_t blocks);
// SEND CUE SHEET of a CD recorded session at once.
int Mmc_SendCueSheet(RecHandle* h, const uint8_t* sheet, uint16_t bytes);
int Mmc_SyncCache(RecHandle* h, int immediate);
int Mmc_GetFeature(RecHandle* h, uint16_t feature, FeatureInfo* out);
int Mmc_GetEventStatus(RecHandle* h, uint8_t* buffer8, int eventClass);
int Mmc_ReadDiscInfo(RecHandle* h, DiscInformation* out);
int Mmc_ReadTrackInfo(RecHandle* h, uint32_t track, TrackInformation* out);
int Mmc_ReserveTrack(RecHandle* h, uint32_t blocks);
int Mmc_ModeSelect10(RecHandle* h, uint8_t* buffer, uint16_t length);
int Mmc_ModeSense10(RecHandle* h, uint8_t* buffer, uint16_t length, uint8_t page,
                    uint8_t pageControl);
int Mmc_CloseTrackSession(RecHandle* h, int function, uint16_t track);
int Mmc_Blank(RecHandle* h, int type, int immediate);
int Mmc_Read12(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks);
int Mmc_GetPerformance(RecHandle* h, int write, PerformanceDescriptor* out);
int Mmc_GetWriteSpeeds(RecHandle* h, uint32_t* speeds, uint32_t capacityBytes, int write);
int Mmc_GetPhysicalFormat(RecHandle* h, PhysicalFormat* out);
int Mmc_SetSpeed(RecHandle* h, uint32_t readSpeed, uint32_t writeSpeed);
int Mmc_Format(RecHandle* h, uint32_t blocks, uint8_t formatType, uint32_t parameter);
// With params null: the page's default values with write type 2 and underrun protection.
int Mmc_SetWriteParameters(RecHandle* h, const WriteParameters* params);

// The media-type bit of an MMC profile number (0 for unknown profiles).
uint32_t Media_FromProfile(uint16_t profile);

} // namespace tvx
