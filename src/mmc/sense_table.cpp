// The sense table data and its lookup. The rows are kept in the order in which the standard
// lists the conditions (by ASC and ASCQ); lookups go through an index sorted by the full
// (key, ASC, ASCQ) triple that is built once, on first use.
#include "mmc/sense_table.h"

#include "mmc/execute.h"

#include <algorithm>
#include <array>

namespace tvx {

namespace {

constexpr const char* kCatNone = "N/A";
constexpr const char* kCatGeneral = "General";
constexpr const char* kCatRead = "Read";
constexpr const char* kCatRandomWrite = "Random Write";
constexpr const char* kCatSequentialWrite = "Sequential Write";
constexpr const char* kCatWrite = "Write";
constexpr const char* kCatCdRead = "CD Read";
constexpr const char* kCatLoad = "Load";
constexpr const char* kCatCpp = "CPP";
constexpr const char* kCatAudioPlay = "Audio Play";
constexpr const char* kCatCdWrite = "CD Write";
constexpr const char* kCatFormattable = "Formattable";
constexpr const char* kCatWriteOnceStreaming = "Write Once, Incremental Streaming Write";
constexpr const char* kCatStreamingWrite = "Incremental Streaming Write";
constexpr const char* kCatMorphing = "Morphing";
constexpr const char* kCatTimeout = "Timeout";

// clang-format off
constexpr SenseEntry kRows[] = {
    {0x08, 0x00, 0x00, 0, "BLANK CHECK", kCatWriteOnceStreaming},
    {0x00, 0x00, 0x00, 0, "NO ADDITIONAL SENSE INFORMATION", kCatGeneral},
    {0x00, 0x00, 0x01, 0, "FILEMARK DETECTED", kCatNone},
    {0x00, 0x00, 0x02, 0, "END-OF-PARTITION/MEDIUM DETECTED", kCatNone},
    {0x00, 0x00, 0x03, 0, "SETMARK DETECTED", kCatNone},
    {0x00, 0x00, 0x04, 0, "BEGINNING-OF-PARTITION/MEDIUM DETECTED", kCatNone},
    {0x00, 0x00, 0x05, 0, "END-OF-DATA DETECTED", kCatNone},
    {0x0B, 0x00, 0x06, 0, "I/O PROCESS TERMINATED", kCatGeneral},
    {0x00, 0x00, 0x11, 0, "AUDIO PLAY OPERATION IN PROGRESS", kCatAudioPlay},
    {0x00, 0x00, 0x12, 0, "AUDIO PLAY OPERATION PAUSED", kCatAudioPlay},
    {0x00, 0x00, 0x13, 0, "AUDIO PLAY OPERATION SUCCESSFULLY COMPLETED", kCatAudioPlay},
    {0x00, 0x00, 0x14, 0, "AUDIO PLAY OPERATION STOPPED DUE TO ERROR", kCatAudioPlay},
    {0x00, 0x00, 0x15, 0, "NO CURRENT AUDIO STATUS TO RETURN", kCatAudioPlay},
    {0x00, 0x00, 0x16, 0, "OPERATION IN PROGRESS", kCatSequentialWrite},
    {0x04, 0x00, 0x17, 0, "CLEANING REQUESTED", kCatRead},
    {0x04, 0x01, 0x00, 0, "NO INDEX/SECTOR SIGNAL", kCatRead},
    {0x03, 0x02, 0x00, 0, "NO SEEK COMPLETE", kCatRead},
    {0x03, 0x03, 0x00, 0, "PERIPHERAL DEVICE WRITE FAULT", kCatRandomWrite},
    {0x03, 0x03, 0x01, 0, "NO WRITE CURRENT", kCatNone},
    {0x03, 0x03, 0x02, 0, "EXCESSIVE WRITE ERRORS", kCatNone},
    {0x02, 0x04, 0x00, 0, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE", kCatGeneral},
    {0x02, 0x04, 0x01, 0, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY", kCatRead},
    {0x02, 0x04, 0x02, 0, "LOGICAL UNIT NOT READY, INITIALIZING COMMAND REQUIRED", kCatRead},
    {0x02, 0x04, 0x03, 0, "LOGICAL UNIT NOT READY, MANUAL INTERVENTION REQUIRED", kCatGeneral},
    {0x02, 0x04, 0x04, 0, "LOGICAL UNIT NOT READY, FORMAT IN PROGRESS", kCatRandomWrite},
    {0x02, 0x04, 0x05, 0, "LOGICAL UNIT NOT READY, REBUILD IN PROGRESS", kCatNone},
    {0x02, 0x04, 0x06, 0, "LOGICAL UNIT NOT READY, RECALCULATION IN PROGRESS", kCatNone},
    {0x02, 0x04, 0x07, 0, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS", kCatRead},
    {0x02, 0x04, 0x08, 0, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS", kCatWrite},
    {0x04, 0x05, 0x00, 0, "LOGICAL UNIT DOES NOT RESPOND TO SELECTION", kCatGeneral},
    {0x02, 0x06, 0x00, 0, "NO REFERENCE POSITION FOUND", kCatRead},
    {0x05, 0x07, 0x00, 0, "MULTIPLE PERIPHERAL DEVICES SELECTED", kCatNone},
    {0x04, 0x08, 0x00, 0, "LOGICAL UNIT COMMUNICATION FAILURE", kCatGeneral},
    {0x04, 0x08, 0x01, 0, "LOGICAL UNIT COMMUNICATION TIME-OUT", kCatGeneral},
    {0x04, 0x08, 0x02, 0, "LOGICAL UNIT COMMUNICATION PARITY ERROR", kCatGeneral},
    {0x04, 0x08, 0x03, 0, "LOGICAL UNIT COMMUNICATION CRC ERROR (ULTRA-DMA/32)", kCatGeneral},
    {0x04, 0x09, 0x00, 0, "TRACK FOLLOWING ERROR", kCatRead},
    {0x04, 0x09, 0x01, 0, "TRACKING SERVO FAILURE", kCatRead},
    {0x04, 0x09, 0x02, 0, "FOCUS SERVO FAILURE", kCatRead},
    {0x04, 0x09, 0x03, 0, "SPINDLE SERVO FAILURE", kCatRead},
    {0x04, 0x09, 0x04, 0, "HEAD SELECT FAULT", kCatNone},
    {0x06, 0x0A, 0x00, 0, "ERROR LOG OVERFLOW", kCatGeneral},
    {0x01, 0x0B, 0x00, 0, "WARNING", kCatGeneral},
    {0x01, 0x0B, 0x01, 0, "WARNING - SPECIFIED TEMPERATURE EXCEEDED", kCatGeneral},
    {0x01, 0x0B, 0x02, 0, "WARNING - ENCLOSURE DEGRADED", kCatGeneral},
    {0x03, 0x0C, 0x00, 0, "WRITE ERROR", kCatWrite},
    {0x03, 0x0C, 0x01, 0, "WRITE ERROR - RECOVERED WITH AUTO REALLOCATION", kCatNone},
    {0x03, 0x0C, 0x02, 0, "WRITE ERROR - AUTO REALLOCATION FAILED", kCatRandomWrite},
    {0x03, 0x0C, 0x03, 0, "WRITE ERROR - RECOMMEND REASSIGNMENT", kCatRandomWrite},
    {0x03, 0x0C, 0x04, 0, "COMPRESSION CHECK MISCOMPARE ERROR", kCatNone},
    {0x03, 0x0C, 0x05, 0, "DATA EXPANSION OCCURRED DURING COMPRESSION", kCatNone},
    {0x03, 0x0C, 0x06, 0, "BLOCK NOT COMPRESSIBLE", kCatNone},
    {0x03, 0x0C, 0x07, 0, "WRITE ERROR - RECOVERY NEEDED", kCatWrite},
    {0x03, 0x0C, 0x08, 0, "WRITE ERROR - RECOVERY FAILED", kCatWrite},
    {0x03, 0x0C, 0x09, 0, "WRITE ERROR - LOSS OF STREAMING", kCatSequentialWrite},
    {0x01, 0x0C, 0x0A, 0, "WRITE ERROR - PADDING BLOCKS ADDED", kCatSequentialWrite},
    {0x03, 0x10, 0x00, 0, "ID CRC OR ECC ERROR", kCatRead},
    {0x03, 0x11, 0x00, 0, "UNRECOVERED READ ERROR", kCatRead},
    {0x03, 0x11, 0x01, 0, "READ RETRIES EXHAUSTED", kCatRead},
    {0x03, 0x11, 0x02, 0, "ERROR TOO LONG TO CORRECT", kCatRead},
    {0x03, 0x11, 0x03, 0, "MULTIPLE READ ERRORS", kCatNone},
    {0x03, 0x11, 0x04, 0, "UNRECOVERED READ ERROR - AUTO REALLOCATE FAILED", kCatNone},
    {0x03, 0x11, 0x05, 0, "L-EC UNCORRECTABLE ERROR", kCatRead},
    {0x03, 0x11, 0x06, 0, "CIRC UNRECOVERED ERROR", kCatCdRead},
    {0x03, 0x11, 0x07, 0, "DATA RE-SYNCHRONIZATION ERROR", kCatNone},
    {0x03, 0x11, 0x08, 0, "INCOMPLETE BLOCK READ", kCatNone},
    {0x03, 0x11, 0x09, 0, "NO GAP FOUND", kCatNone},
    {0x03, 0x11, 0x0A, 0, "MISCORRECTED ERROR", kCatNone},
    {0x03, 0x11, 0x0B, 0, "UNRECOVERED READ ERROR - RECOMMEND REASSIGNMENT", kCatNone},
    {0x03, 0x11, 0x0C, 0, "UNRECOVERED READ ERROR - RECOMMEND REWRITE THE DATA", kCatNone},
    {0x03, 0x11, 0x0D, 0, "DE-COMPRESSION CRC ERROR", kCatNone},
    {0x03, 0x11, 0x0E, 0, "CANNOT DECOMPRESS USING DECLARED ALGORITHM", kCatNone},
    {0x03, 0x11, 0x0F, 0, "ERROR READING UPC/EAN NUMBER", kCatCdRead},
    {0x03, 0x11, 0x10, 0, "ERROR READING ISRC NUMBER", kCatCdRead},
    {0x0B, 0x11, 0x11, 0, "READ ERROR - LOSS OF STREAMING", kCatRead},
    {0x03, 0x12, 0x00, 0, "ADDRESS MARK NOT FOUND FOR ID FIELD", kCatRead},
    {0x03, 0x13, 0x00, 0, "ADDRESS MARK NOT FOUND FOR DATA FIELD", kCatRead},
    {0x03, 0x14, 0x00, 0, "RECORDED ENTITY NOT FOUND", kCatWrite},
    {0x03, 0x14, 0x01, 0, "RECORD NOT FOUND", kCatRead},
    {0x03, 0x14, 0x02, 0, "FILEMARK OR SETMARK NOT FOUND", kCatNone},
    {0x03, 0x14, 0x03, 0, "END-OF-DATA NOT FOUND", kCatNone},
    {0x03, 0x14, 0x04, 0, "BLOCK SEQUENCE ERROR", kCatNone},
    {0x03, 0x14, 0x05, 0, "RECORD NOT FOUND - RECOMMEND REASSIGNMENT", kCatRead},
    {0x03, 0x14, 0x06, 0, "RECORD NOT FOUND - DATA AUTO-REALLOCATED", kCatRead},
    {0x03, 0x15, 0x00, 0, "RANDOM POSITIONING ERROR", kCatRead},
    {0x03, 0x15, 0x01, 0, "MECHANICAL POSITIONING ERROR", kCatRead},
    {0x03, 0x15, 0x02, 0, "POSITIONING ERROR DETECTED BY READ OF MEDIUM", kCatRead},
    {0x03, 0x16, 0x00, 0, "DATA SYNCHRONIZATION MARK ERROR", kCatRandomWrite},
    {0x03, 0x16, 0x01, 0, "DATA SYNC ERROR - DATA REWRITTEN", kCatRandomWrite},
    {0x03, 0x16, 0x02, 0, "DATA SYNC ERROR - RECOMMEND REWRITE", kCatRandomWrite},
    {0x03, 0x16, 0x03, 0, "DATA SYNC ERROR - DATA AUTO-REALLOCATED", kCatRandomWrite},
    {0x03, 0x16, 0x04, 0, "DATA SYNC ERROR - RECOMMEND REASSIGNMENT", kCatRandomWrite},
    {0x01, 0x17, 0x00, 0, "RECOVERED DATA WITH NO ERROR CORRECTION APPLIED", kCatRead},
    {0x01, 0x17, 0x01, 0, "RECOVERED DATA WITH RETRIES", kCatRead},
    {0x01, 0x17, 0x02, 0, "RECOVERED DATA WITH POSITIVE HEAD OFFSET", kCatRead},
    {0x01, 0x17, 0x03, 0, "RECOVERED DATA WITH NEGATIVE HEAD OFFSET", kCatRead},
    {0x01, 0x17, 0x04, 0, "RECOVERED DATA WITH RETRIES AND/OR CIRC APPLIED", kCatRead},
    {0x01, 0x17, 0x05, 0, "RECOVERED DATA USING PREVIOUS SECTOR ID", kCatRead},
    {0x01, 0x17, 0x06, 0, "RECOVERED DATA WITHOUT ECC - DATA AUTO-REALLOCATED", kCatRandomWrite},
    {0x01, 0x17, 0x07, 0, "RECOVERED DATA WITHOUT ECC - RECOMMEND REASSIGNMENT", kCatRandomWrite},
    {0x01, 0x17, 0x08, 0, "RECOVERED DATA WITHOUT ECC - RECOMMEND REWRITE", kCatRandomWrite},
    {0x01, 0x17, 0x09, 0, "RECOVERED DATA WITHOUT ECC - DATA REWRITTEN", kCatRandomWrite},
    {0x01, 0x18, 0x00, 0, "RECOVERED DATA WITH ERROR CORRECTION APPLIED", kCatRead},
    {0x01, 0x18, 0x01, 0, "RECOVERED DATA WITH ERROR CORR. & RETRIES APPLIED", kCatRead},
    {0x01, 0x18, 0x02, 0, "RECOVERED DATA - DATA AUTO-REALLOCATED", kCatRandomWrite},
    {0x01, 0x18, 0x03, 0, "RECOVERED DATA WITH CIRC", kCatCdRead},
    {0x01, 0x18, 0x04, 0, "RECOVERED DATA WITH L-EC", kCatRead},
    {0x01, 0x18, 0x05, 0, "RECOVERED DATA - RECOMMEND REASSIGNMENT", kCatRandomWrite},
    {0x01, 0x18, 0x06, 0, "RECOVERED DATA - RECOMMEND REWRITE", kCatRandomWrite},
    {0x01, 0x18, 0x07, 0, "RECOVERED DATA WITH ECC - DATA REWRITTEN", kCatRandomWrite},
    {0x01, 0x18, 0x08, 0, "RECOVERED DATA WITH LINKING", kCatNone},
    {0x03, 0x19, 0x00, 0, "DEFECT LIST ERROR", kCatRandomWrite},
    {0x03, 0x19, 0x01, 0, "DEFECT LIST NOT AVAILABLE", kCatRandomWrite},
    {0x03, 0x19, 0x02, 0, "DEFECT LIST ERROR IN PRIMARY LIST", kCatRandomWrite},
    {0x03, 0x19, 0x03, 0, "DEFECT LIST ERROR IN GROWN LIST", kCatRandomWrite},
    {0x05, 0x1A, 0x00, 0, "PARAMETER LIST LENGTH ERROR", kCatGeneral},
    {0x04, 0x1B, 0x00, 0, "SYNCHRONOUS DATA TRANSFER ERROR", kCatGeneral},
    {0x04, 0x1C, 0x00, 0, "DEFECT LIST NOT FOUND", kCatRandomWrite},
    {0x04, 0x1C, 0x01, 0, "PRIMARY DEFECT LIST NOT FOUND", kCatRandomWrite},
    {0x04, 0x1C, 0x02, 0, "GROWN DEFECT LIST NOT FOUND", kCatRandomWrite},
    {0x0E, 0x1D, 0x00, 0, "MISCOMPARE DURING VERIFY OPERATION", kCatWrite},
    {0x01, 0x1E, 0x00, 0, "RECOVERED ID WITH ECC CORRECTION", kCatRead},
    {0x03, 0x1F, 0x00, 0, "PARTIAL DEFECT LIST TRANSFER", kCatNone},
    {0x05, 0x20, 0x00, 0, "INVALID COMMAND OPERATION CODE", kCatGeneral},
    {0x05, 0x21, 0x00, 0, "LOGICAL BLOCK ADDRESS OUT OF RANGE", kCatRead},
    {0x05, 0x21, 0x01, 0, "INVALID ELEMENT ADDRESS", kCatNone},
    {0x05, 0x21, 0x02, 0, "INVALID ADDRESS FOR WRITE", kCatStreamingWrite},
    {0x05, 0x22, 0x00, 0, "ILLEGAL FUNCTION (USE 20 00, 24 00, OR 26 00)", kCatNone},
    {0x05, 0x24, 0x00, 0, "INVALID FIELD IN CDB", kCatGeneral},
    {0x05, 0x25, 0x00, 0, "LOGICAL UNIT NOT SUPPORTED", kCatGeneral},
    {0x05, 0x26, 0x00, 0, "INVALID FIELD IN PARAMETER LIST", kCatGeneral},
    {0x05, 0x26, 0x01, 0, "PARAMETER NOT SUPPORTED", kCatGeneral},
    {0x05, 0x26, 0x02, 0, "PARAMETER VALUE INVALID", kCatGeneral},
    {0x05, 0x26, 0x03, 0, "THRESHOLD PARAMETERS NOT SUPPORTED", kCatGeneral},
    {0x05, 0x26, 0x04, 0, "INVALID RELEASE OF PERSISTENT RESERVATION", kCatGeneral},
    {0x07, 0x27, 0x00, 0, "WRITE PROTECTED", kCatWrite},
    {0x07, 0x27, 0x01, 0, "HARDWARE WRITE PROTECTED", kCatWrite},
    {0x07, 0x27, 0x02, 0, "LOGICAL UNIT SOFTWARE WRITE PROTECTED", kCatWrite},
    {0x07, 0x27, 0x03, 0, "ASSOCIATED WRITE PROTECT", kCatWrite},
    {0x07, 0x27, 0x04, 0, "PERSISTENT WRITE PROTECT", kCatWrite},
    {0x07, 0x27, 0x05, 0, "PERMANENT WRITE PROTECT", kCatWrite},
    {0x07, 0x27, 0x06, 0, "CONDITIONAL WRITE PROTECT", kCatWrite},
    {0x06, 0x28, 0x00, 0, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED", kCatGeneral},
    {0x06, 0x28, 0x01, 0, "IMPORT OR EXPORT ELEMENT ACCESSED", kCatNone},
    {0x06, 0x29, 0x00, 0, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED", kCatGeneral},
    {0x06, 0x29, 0x01, 0, "POWER ON OCCURRED", kCatGeneral},
    {0x06, 0x29, 0x02, 0, "SCSI BUS RESET OCCURRED", kCatGeneral},
    {0x06, 0x29, 0x03, 0, "BUS DEVICE RESET FUNCTION OCCURRED", kCatGeneral},
    {0x06, 0x29, 0x04, 0, "DEVICE INTERNAL RESET", kCatGeneral},
    {0x06, 0x2A, 0x00, 0, "PARAMETERS CHANGED", kCatGeneral},
    {0x06, 0x2A, 0x01, 0, "MODE PARAMETERS CHANGED", kCatGeneral},
    {0x06, 0x2A, 0x02, 0, "LOG PARAMETERS CHANGED", kCatGeneral},
    {0x06, 0x2A, 0x03, 0, "RESERVATIONS PREEMPTED", kCatGeneral},
    {0x05, 0x2B, 0x00, 0, "COPY CANNOT EXECUTE SINCE HOST CANNOT DISCONNECT", kCatGeneral},
    {0x05, 0x2C, 0x00, 0, "COMMAND SEQUENCE ERROR", kCatGeneral},
    {0x05, 0x2C, 0x01, 0, "TOO MANY WINDOWS SPECIFIED", kCatNone},
    {0x05, 0x2C, 0x02, 0, "INVALID COMBINATION OF WINDOWS SPECIFIED", kCatNone},
    {0x05, 0x2C, 0x03, 0, "CURRENT PROGRAM AREA IS NOT EMPTY", kCatCdWrite},
    {0x05, 0x2C, 0x04, 0, "CURRENT PROGRAM AREA IS EMPTY", kCatCdWrite},
    {0x05, 0x2C, 0x05, 0, "PERSISTENT PREVENT CONFLICT ", kCatMorphing},
    {0x03, 0x2D, 0x00, 0, "OVERWRITE ERROR ON UPDATE IN PLACE", kCatNone},
    {0x06, 0x2E, 0x00, 0, "INSUFFICIENT TIME FOR OPERATION ", kCatTimeout},
    {0x06, 0x2F, 0x00, 0, "COMMANDS CLEARED BY ANOTHER INITIATOR", kCatGeneral},
    {0x02, 0x30, 0x00, 0, "INCOMPATIBLE MEDIUM INSTALLED", kCatRead},
    {0x02, 0x30, 0x01, 0, "CANNOT READ MEDIUM - UNKNOWN FORMAT", kCatRead},
    {0x02, 0x30, 0x02, 0, "CANNOT READ MEDIUM - INCOMPATIBLE FORMAT", kCatRead},
    {0x05, 0x30, 0x02, 0, "CANNOT READ MEDIUM - INCOMPATIBLE FORMAT", kCatRead},
    {0x02, 0x30, 0x03, 0, "CLEANING CARTRIDGE INSTALLED", kCatRead},
    {0x05, 0x30, 0x04, 0, "CANNOT WRITE MEDIUM - UNKNOWN FORMAT", kCatWrite},
    {0x05, 0x30, 0x05, 0, "CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT", kCatWrite},
    {0x05, 0x30, 0x06, 0, "CANNOT FORMAT MEDIUM - INCOMPATIBLE MEDIUM", kCatRandomWrite},
    {0x02, 0x30, 0x07, 0, "CLEANING FAILURE", kCatNone},
    {0x05, 0x30, 0x08, 0, "CANNOT WRITE - APPLICATION CODE MISMATCH", kCatSequentialWrite},
    {0x05, 0x30, 0x09, 0, "CURRENT SESSION NOT FIXATED FOR APPEND", kCatSequentialWrite},
    {0x03, 0x31, 0x00, 0, "MEDIUM FORMAT CORRUPTED", kCatRandomWrite},
    {0x03, 0x31, 0x01, 0, "FORMAT COMMAND FAILED ", kCatFormattable},
    {0x03, 0x31, 0x02, 0, "ZONED FORMATTING FAILED DUE TO SPARE LINKING ", kCatFormattable},
    {0x03, 0x32, 0x00, 0, "NO DEFECT SPARE LOCATION AVAILABLE", kCatRandomWrite},
    {0x03, 0x32, 0x01, 0, "DEFECT LIST UPDATE FAILURE", kCatRandomWrite},
    {0x03, 0x33, 0x00, 0, "TAPE LENGTH ERROR", kCatNone},
    {0x04, 0x34, 0x00, 0, "ENCLOSURE FAILURE", kCatGeneral},
    {0x04, 0x35, 0x00, 0, "ENCLOSURE SERVICES FAILURE", kCatGeneral},
    {0x05, 0x35, 0x01, 0, "UNSUPPORTED ENCLOSURE FUNCTION", kCatGeneral},
    {0x02, 0x35, 0x02, 0, "ENCLOSURE SERVICES UNAVAILABLE", kCatGeneral},
    {0x04, 0x35, 0x03, 0, "ENCLOSURE SERVICES TRANSFER FAILURE", kCatGeneral},
    {0x05, 0x35, 0x04, 0, "ENCLOSURE SERVICES TRANSFER REFUSED", kCatGeneral},
    {0x03, 0x36, 0x00, 0, "RIBBON, INK, OR TONER FAILURE", kCatNone},
    {0x01, 0x37, 0x00, 0, "ROUNDED PARAMETER", kCatNone},
    {0x05, 0x38, 0x00, 0, "Reserved", kCatSequentialWrite},
    {0x05, 0x39, 0x00, 0, "SAVING PARAMETERS NOT SUPPORTED", kCatGeneral},
    {0x02, 0x3A, 0x00, 0, "MEDIUM NOT PRESENT", kCatGeneral},
    {0x02, 0x3A, 0x01, 0, "MEDIUM NOT PRESENT - TRAY CLOSED", kCatGeneral},
    {0x02, 0x3A, 0x02, 0, "MEDIUM NOT PRESENT - TRAY OPEN", kCatGeneral},
    {0x03, 0x3B, 0x00, 0, "SEQUENTIAL POSITIONING ERROR", kCatNone},
    {0x03, 0x3B, 0x01, 0, "TAPE POSITION ERROR AT BEGINNING-OF-MEDIUM", kCatNone},
    {0x03, 0x3B, 0x02, 0, "TAPE POSITION ERROR AT END-OF-MEDIUM", kCatNone},
    {0x03, 0x3B, 0x03, 0, "TAPE OR ELECTRONIC VERTICAL FORMS UNIT NOT READY", kCatNone},
    {0x04, 0x3B, 0x04, 0, "SLEW FAILURE", kCatNone},
    {0x04, 0x3B, 0x05, 0, "PAPER JAM", kCatNone},
    {0x03, 0x3B, 0x06, 0, "FAILED TO SENSE TOP-OF-FORM", kCatNone},
    {0x03, 0x3B, 0x07, 0, "FAILED TO SENSE BOTTOM-OF-FORM", kCatNone},
    {0x03, 0x3B, 0x08, 0, "REPOSITION ERROR", kCatNone},
    {0x03, 0x3B, 0x09, 0, "READ PAST END OF MEDIUM", kCatNone},
    {0x03, 0x3B, 0x0A, 0, "READ PAST BEGINNING OF MEDIUM", kCatNone},
    {0x03, 0x3B, 0x0B, 0, "POSITION PAST END OF MEDIUM", kCatNone},
    {0x03, 0x3B, 0x0C, 0, "POSITION PAST BEGINNING OF MEDIUM", kCatNone},
    {0x05, 0x3B, 0x0D, 0, "MEDIUM DESTINATION ELEMENT FULL", kCatNone},
    {0x05, 0x3B, 0x0E, 0, "MEDIUM SOURCE ELEMENT EMPTY", kCatNone},
    {0x06, 0x3B, 0x0F, 0, "END OF MEDIUM REACHED", kCatRead},
    {0x02, 0x3B, 0x11, 0, "MEDIUM MAGAZINE NOT ACCESSIBLE", kCatLoad},
    {0x06, 0x3B, 0x12, 0, "MEDIUM MAGAZINE REMOVED", kCatLoad},
    {0x06, 0x3B, 0x13, 0, "MEDIUM MAGAZINE INSERTED", kCatLoad},
    {0x06, 0x3B, 0x14, 0, "MEDIUM MAGAZINE LOCKED", kCatLoad},
    {0x06, 0x3B, 0x15, 0, "MEDIUM MAGAZINE UNLOCKED", kCatLoad},
    {0x04, 0x3B, 0x16, 0, "MECHANICAL POSITIONING OR CHANGER ERROR", kCatLoad},
    {0x05, 0x3D, 0x00, 0, "INVALID BITS IN IDENTIFY MESSAGE", kCatGeneral},
    {0x02, 0x3E, 0x00, 0, "LOGICAL UNIT HAS NOT SELF-CONFIGURED YET", kCatGeneral},
    {0x04, 0x3E, 0x01, 0, "LOGICAL UNIT FAILURE", kCatGeneral},
    {0x04, 0x3E, 0x02, 0, "TIMEOUT ON LOGICAL UNIT", kCatGeneral},
    {0x06, 0x3F, 0x00, 0, "TARGET OPERATING CONDITIONS HAVE CHANGED", kCatGeneral},
    {0x06, 0x3F, 0x01, 0, "MICROCODE HAS BEEN CHANGED", kCatGeneral},
    {0x06, 0x3F, 0x02, 0, "CHANGED OPERATING DEFINITION", kCatGeneral},
    {0x06, 0x3F, 0x03, 0, "INQUIRY DATA HAS CHANGED", kCatGeneral},
    {0x04, 0x40, 0x00, 0, "RAM FAILURE (SHOULD USE 40 NN)", kCatNone},
    {0x04, 0x41, 0x00, 0, "DATA PATH FAILURE (SHOULD USE 40 NN)", kCatNone},
    {0x04, 0x42, 0x00, 0, "POWER-ON OR SELF-TEST FAILURE (SHOULD USE 40 NN)", kCatNone},
    {0x05, 0x43, 0x00, 0, "MESSAGE ERROR", kCatGeneral},
    {0x04, 0x44, 0x00, 0, "INTERNAL TARGET FAILURE", kCatGeneral},
    {0x0B, 0x45, 0x00, 0, "SELECT OR RESELECT FAILURE", kCatGeneral},
    {0x04, 0x46, 0x00, 0, "UNSUCCESSFUL SOFT RESET", kCatGeneral},
    {0x04, 0x47, 0x00, 0, "SCSI PARITY ERROR", kCatGeneral},
    {0x0B, 0x48, 0x00, 0, "INITIATOR DETECTED ERROR MESSAGE RECEIVED", kCatGeneral},
    {0x0B, 0x49, 0x00, 0, "INVALID MESSAGE ERROR", kCatGeneral},
    {0x04, 0x4A, 0x00, 0, "COMMAND PHASE ERROR", kCatGeneral},
    {0x04, 0x4B, 0x00, 0, "DATA PHASE ERROR", kCatGeneral},
    {0x04, 0x4C, 0x00, 0, "LOGICAL UNIT FAILED SELF-CONFIGURATION", kCatGeneral},
    {0x0B, 0x4E, 0x00, 0, "OVERLAPPED COMMANDS ATTEMPTED", kCatGeneral},
    {0x03, 0x51, 0x00, 0, "ERASE FAILURE", kCatRandomWrite},
    {0x03, 0x51, 0x01, 0, "ERASE FAILURE - INCOMPLETE ERASE OPERATION DETECTED", kCatSequentialWrite},
    {0x03, 0x52, 0x00, 0, "CARTRIDGE FAULT", kCatNone},
    {0x04, 0x53, 0x00, 0, "MEDIA LOAD OR EJECT FAILED", kCatLoad},
    {0x02, 0x53, 0x02, 0, "MEDIUM REMOVAL PREVENTED", kCatGeneral},
    {0x05, 0x53, 0x02, 0, "MEDIUM REMOVAL PREVENTED", kCatGeneral},
    {0x05, 0x55, 0x00, 0, "SYSTEM RESOURCE FAILURE", kCatGeneral},
    {0x03, 0x57, 0x00, 0, "UNABLE TO RECOVER TABLE-OF-CONTENTS", kCatRead},
    {0x06, 0x5A, 0x00, 0, "OPERATOR REQUEST OR STATE CHANGE INPUT", kCatGeneral},
    {0x06, 0x5A, 0x01, 0, "OPERATOR MEDIUM REMOVAL REQUEST", kCatGeneral},
    {0x06, 0x5A, 0x02, 0, "OPERATOR SELECTED WRITE PROTECT", kCatWrite},
    {0x06, 0x5A, 0x03, 0, "OPERATOR SELECTED WRITE PERMIT", kCatWrite},
    {0x06, 0x5B, 0x00, 0, "LOG EXCEPTION", kCatGeneral},
    {0x06, 0x5B, 0x01, 0, "THRESHOLD CONDITION MET", kCatGeneral},
    {0x06, 0x5B, 0x02, 0, "LOG COUNTER AT MAXIMUM", kCatGeneral},
    {0x06, 0x5B, 0x03, 0, "LOG LIST CODES EXHAUSTED", kCatGeneral},
    {0x06, 0x5C, 0x00, 0, "RPL STATUS CHANGE", kCatNone},
    {0x06, 0x5C, 0x01, 0, "SPINDLES SYNCHRONIZED", kCatNone},
    {0x03, 0x5C, 0x02, 0, "SPINDLES NOT SYNCHRONIZED", kCatNone},
    {0x01, 0x5D, 0x00, 0, "FAILURE PREDICTION THRESHOLD EXCEEDED", kCatGeneral},
    {0x01, 0x5D, 0x01, 0, "FAILURE PREDICTION THRESHOLD EXCEEDED - Predicted Media Failure", kCatGeneral},
    {0x01, 0x5D, 0x03, 0, "FAILURE PREDICTION THRESHOLD EXCEEDED - Predicted Spare Area Exhaustion", kCatRandomWrite},
    {0x01, 0x5D, 0xFF, 0, "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)", kCatGeneral},
    {0x06, 0x5E, 0x00, 0, "LOW POWER CONDITION ON", kCatGeneral},
    {0x06, 0x5E, 0x01, 0, "IDLE CONDITION ACTIVATED BY TIMER", kCatGeneral},
    {0x06, 0x5E, 0x02, 0, "STANDBY CONDITION ACTIVATED BY TIMER", kCatGeneral},
    {0x06, 0x5E, 0x03, 0, "IDLE CONDITION ACTIVATED BY COMMAND", kCatGeneral},
    {0x06, 0x5E, 0x04, 0, "STANDBY CONDITION ACTIVATED BY COMMAND", kCatGeneral},
    {0x04, 0x60, 0x00, 0, "LAMP FAILURE", kCatNone},
    {0x03, 0x61, 0x00, 0, "VIDEO ACQUISITION ERROR", kCatNone},
    {0x03, 0x61, 0x01, 0, "UNABLE TO ACQUIRE VIDEO", kCatNone},
    {0x03, 0x61, 0x02, 0, "OUT OF FOCUS", kCatNone},
    {0x04, 0x62, 0x00, 0, "SCAN HEAD POSITIONING ERROR", kCatNone},
    {0x05, 0x63, 0x00, 0, "END OF USER AREA ENCOUNTERED ON THIS TRACK", kCatCdRead},
    {0x05, 0x63, 0x01, 0, "PACKET DOES NOT FIT IN AVAILABLE SPACE", kCatCdRead},
    {0x05, 0x64, 0x00, 0, "ILLEGAL MODE FOR THIS TRACK", kCatCdRead},
    {0x05, 0x64, 0x01, 0, "INVALID PACKET SIZE", kCatCdWrite},
    {0x04, 0x65, 0x00, 0, "VOLTAGE FAULT", kCatGeneral},
    {0x04, 0x66, 0x00, 0, "AUTOMATIC DOCUMENT FEEDER COVER UP", kCatNone},
    {0x04, 0x66, 0x01, 0, "AUTOMATIC DOCUMENT FEEDER LIFT UP", kCatNone},
    {0x04, 0x66, 0x02, 0, "DOCUMENT JAM IN AUTOMATIC DOCUMENT FEEDER", kCatNone},
    {0x04, 0x66, 0x03, 0, "DOCUMENT MISS FEED AUTOMATIC IN DOCUMENT FEEDER", kCatNone},
    {0x04, 0x67, 0x00, 0, "CONFIGURATION FAILURE", kCatNone},
    {0x04, 0x67, 0x01, 0, "CONFIGURATION OF INCAPABLE LOGICAL UNITS FAILED", kCatNone},
    {0x04, 0x67, 0x02, 0, "ADD LOGICAL UNIT FAILED", kCatNone},
    {0x04, 0x67, 0x03, 0, "MODIFICATION OF LOGICAL UNIT FAILED", kCatNone},
    {0x04, 0x67, 0x04, 0, "EXCHANGE OF LOGICAL UNIT FAILED", kCatNone},
    {0x04, 0x67, 0x05, 0, "REMOVE OF LOGICAL UNIT FAILED", kCatNone},
    {0x04, 0x67, 0x06, 0, "ATTACHMENT OF LOGICAL UNIT FAILED", kCatNone},
    {0x04, 0x67, 0x07, 0, "CREATION OF LOGICAL UNIT FAILED", kCatNone},
    {0x02, 0x68, 0x00, 0, "LOGICAL UNIT NOT CONFIGURED", kCatNone},
    {0x04, 0x69, 0x00, 0, "DATA LOSS ON LOGICAL UNIT", kCatNone},
    {0x04, 0x69, 0x01, 0, "MULTIPLE LOGICAL UNIT FAILURES", kCatNone},
    {0x04, 0x69, 0x02, 0, "PARITY/DATA MISMATCH", kCatNone},
    {0x01, 0x6A, 0x00, 0, "INFORMATIONAL, REFER TO LOG", kCatNone},
    {0x06, 0x6B, 0x00, 0, "STATE CHANGE HAS OCCURRED", kCatNone},
    {0x06, 0x6B, 0x01, 0, "REDUNDANCY LEVEL GOT BETTER", kCatNone},
    {0x06, 0x6B, 0x02, 0, "REDUNDANCY LEVEL GOT WORSE", kCatNone},
    {0x03, 0x6C, 0x00, 0, "REBUILD FAILURE OCCURRED", kCatNone},
    {0x03, 0x6D, 0x00, 0, "RECALCULATE FAILURE OCCURRED", kCatNone},
    {0x04, 0x6E, 0x00, 0, "COMMAND TO LOGICAL UNIT FAILED", kCatNone},
    {0x05, 0x6F, 0x00, 0, "COPY PROTECTION KEY EXCHANGE FAILURE - AUTHENTICATION FAILURE", kCatCpp},
    {0x05, 0x6F, 0x01, 0, "COPY PROTECTION KEY EXCHANGE FAILURE - KEY NOT PRESENT", kCatCpp},
    {0x05, 0x6F, 0x02, 0, "COPY PROTECTION KEY EXCHANGE FAILURE - KEY NOT ESTABLISHED", kCatCpp},
    {0x05, 0x6F, 0x03, 0, "READ OF SCRAMBLED SECTOR WITHOUT AUTHENTICATION", kCatCpp},
    {0x05, 0x6F, 0x04, 0, "MEDIA REGION CODE IS MISMATCHED TO LOGICAL UNIT REGION", kCatCpp},
    {0x05, 0x6F, 0x05, 0, "DRIVE REGION MUST BE PERMANENT/REGION RESET COUNT ERROR", kCatCpp},
    {0x03, 0x71, 0x00, 0, "DECOMPRESSION EXCEPTION LONG ALGORITHM ID", kCatNone},
    {0x03, 0x72, 0x00, 0, "SESSION FIXATION ERROR", kCatSequentialWrite},
    {0x03, 0x72, 0x01, 0, "SESSION FIXATION ERROR WRITING LEAD-IN", kCatSequentialWrite},
    {0x03, 0x72, 0x02, 0, "SESSION FIXATION ERROR WRITING LEAD-OUT", kCatSequentialWrite},
    {0x05, 0x72, 0x03, 0, "SESSION FIXATION ERROR - INCOMPLETE TRACK IN SESSION", kCatSequentialWrite},
    {0x05, 0x72, 0x04, 0, "EMPTY OR PARTIALLY WRITTEN RESERVED TRACK", kCatSequentialWrite},
    {0x05, 0x72, 0x05, 0, "NO MORE TRACK RESERVATIONS ALLOWED", kCatSequentialWrite},
    {0x03, 0x73, 0x00, 0, "CD CONTROL ERROR", kCatCdRead},
    {0x01, 0x73, 0x01, 0, "POWER CALIBRATION AREA ALMOST FULL", kCatSequentialWrite},
    {0x03, 0x73, 0x02, 0, "POWER CALIBRATION AREA IS FULL", kCatSequentialWrite},
    {0x03, 0x73, 0x03, 0, "POWER CALIBRATION AREA ERROR", kCatSequentialWrite},
    {0x03, 0x73, 0x04, 0, "PROGRAM MEMORY AREA UPDATE FAILURE", kCatSequentialWrite},
    {0x03, 0x73, 0x05, 0, "PROGRAM MEMORY AREA IS FULL", kCatSequentialWrite},
    {0x01, 0x73, 0x06, 0, "PROGRAM MEMORY AREA/RMA IS (almost) FULL", kCatSequentialWrite},
    {0xFF, 0xFF, 0xFF, 0, "Unknown", kCatNone},
};
// clang-format on

static_assert(std::size(kRows) == kSenseTableRows, "the sense table has 319 rows");

// Conditions that drives report and the rows above lack: power calibration and write errors of
// SPC and later MMC revisions, and known pairs under a second sense key (a drive that cannot
// calibrate the laser for the disc may answer 5/73/03 rather than 3/73/03). They are consulted
// only for triples the rows above do not hold, so every lookup of those rows stays as it was.
// clang-format off
constexpr SenseEntry kAddedRows[] = {
    {0x03, 0x0C, 0x0B, 0, "AUXILIARY MEMORY WRITE ERROR", kCatWrite},
    {0x0B, 0x0C, 0x0C, 0, "WRITE ERROR - UNEXPECTED UNSOLICITED DATA", kCatWrite},
    {0x0B, 0x0C, 0x0D, 0, "WRITE ERROR - NOT ENOUGH UNSOLICITED DATA", kCatWrite},
    {0x03, 0x0C, 0x0F, 0, "DEFECTS IN ERROR WINDOW", kCatWrite},
    {0x05, 0x72, 0x06, 0, "RMZ EXTENSION IS NOT ALLOWED", kCatSequentialWrite},
    {0x05, 0x72, 0x07, 0, "NO MORE TEST ZONE EXTENSIONS ARE ALLOWED", kCatSequentialWrite},
    {0x05, 0x73, 0x02, 0, "POWER CALIBRATION AREA IS FULL", kCatSequentialWrite},
    {0x05, 0x73, 0x03, 0, "POWER CALIBRATION AREA ERROR", kCatSequentialWrite},
    {0x01, 0x73, 0x10, 0, "CURRENT POWER CALIBRATION AREA ALMOST FULL", kCatSequentialWrite},
    {0x03, 0x73, 0x10, 0, "CURRENT POWER CALIBRATION AREA ALMOST FULL", kCatSequentialWrite},
    {0x03, 0x73, 0x11, 0, "CURRENT POWER CALIBRATION AREA IS FULL", kCatSequentialWrite},
    {0x05, 0x73, 0x17, 0, "RDZ IS FULL", kCatSequentialWrite},
};
// clang-format on

constexpr uint32_t KeyOf(uint8_t key, uint8_t asc, uint8_t ascq) {
    return static_cast<uint32_t>(key) << 16 | static_cast<uint32_t>(asc) << 8 | ascq;
}
constexpr uint32_t KeyOf(const SenseEntry& e) {
    return KeyOf(e.senseKey, e.asc, e.ascq);
}

using SenseIndex = std::array<const SenseEntry*, kSenseTableRows>;

// Built on first use; a function-local static is initialised exactly once even when several
// threads record their first errors at the same time.
const SenseIndex& SortedIndex() {
    static const SenseIndex index = [] {
        SenseIndex built{};
        for (std::size_t i = 0; i < kSenseTableRows; ++i)
            built[i] = &kRows[i];
        std::sort(built.begin(), built.end(),
                  [](const SenseEntry* a, const SenseEntry* b) { return KeyOf(*a) < KeyOf(*b); });
        return built;
    }();
    return index;
}

} // namespace

std::span<const SenseEntry> SenseTable_Rows() {
    return kRows;
}

std::span<const SenseEntry> SenseTable_AddedRows() {
    return kAddedRows;
}

SenseTexts Mmc_LookupSense(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    const SenseIndex& index = SortedIndex();
    const uint32_t wanted = KeyOf(senseKey, asc, ascq);
    auto it = std::lower_bound(index.begin(), index.end(), wanted,
                               [](const SenseEntry* e, uint32_t k) { return KeyOf(*e) < k; });
    if (it != index.end() && KeyOf(**it) == wanted) return {(*it)->description, (*it)->category};
    for (const SenseEntry& row : kAddedRows)
        if (KeyOf(row) == wanted) return {row.description, row.category};
    const SenseEntry& unknown = kRows[kSenseTableRows - 1];
    return {unknown.description, unknown.category};
}

} // namespace tvx
