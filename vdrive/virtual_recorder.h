// The virtual DVD recorder: a model drive that answers CDBs as an MMC-5 recorder would, with
// fixed-format sense (32 bytes, progress indication in bytes 15-17), virtual time for slow work,
// write-once rules, fault injection, a command trace and discs that persist in files.
//
// Quick use:
//   tvx::VirtualClock clock;
//   tvx::vdrive::VirtualRecorder drive(clock);            // DriveModel::Default()
//   drive.insertBlank(tvx::vdrive::MediumKind::DvdR, 4096); // 4096-block blank DVD-R, in memory
//   drive.setTraceEnabled(true);                          // a trace only when asked for
//   tvx::ScsiResult r = drive.execute(request);           // one command
//   drive.formatTrace();                                  // what the drive received
//
// Slow operations (spin-up, cache flush, close, finalise, format, blank) run on the given clock:
// the drive answers NOT READY with progress until the clock has moved past their end. The drive
// never sleeps. A disc inserted through the API is spun up and ready at once; closing the tray
// (API or START STOP UNIT load) spins it up, which takes Timing::spinUpMs.
//
// Not thread-safe: one caller at a time (the library serialises commands per drive). Drives that
// attached one image share its disc and count as one drive here.
#pragma once

#include "platform/clock.h"
#include "platform/scsi_target.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tvx::vdrive {

enum class MediumKind : uint8_t {
    None,
    CdRom,
    DvdRom,
    DvdR,
    DvdRwSequential,
    DvdRwRestricted,
    DvdRam,
    DvdPlusR,
    DvdPlusRw,
    DvdPlusRDualLayer,
    DvdRDualLayer,
    CdR,
    CdRw,
    BdR, // sequential recording mode
    BdRDualLayer,
    BdRe,
};

// MMC profile number of a medium (0 for None).
uint16_t ProfileOf(MediumKind kind);
// Capacity in 2048-byte blocks of a real disc of that kind (0 for pressed media and None).
uint32_t RealCapacity(MediumKind kind);
// Write speeds in kB/s a real disc of that kind offers, fastest first (empty for pressed media).
std::vector<uint32_t> RealWriteSpeeds(MediumKind kind);
// "DVD-R", "DVD+RW", ... for messages and the state file.
const char* MediumName(MediumKind kind);
bool MediumFromName(const std::string& name, MediumKind& kind);
bool IsCd(MediumKind kind); // CD-R, CD-RW
bool IsBd(MediumKind kind); // BD-R (both sizes), BD-RE

inline constexpr uint32_t kBlockSize = 2048;
// Commands a trace keeps at most (a few dozen bytes each).
inline constexpr size_t kTraceLimit = 8192;
inline constexpr uint32_t kDvdSpeed1x = 1385; // kB/s
inline constexpr uint32_t kBdSpeed1x = 4495;  // kB/s
// BD is written in clusters of 32 blocks; a sequential BD-R takes writes only at their start.
inline constexpr uint32_t kBdClusterBlocks = 32;
// A track written track-at-once on CD ends in two run-out blocks that cannot be read.
inline constexpr uint32_t kCdRunOutBlocks = 2;

// How long the drive works on its own, in milliseconds of the clock.
struct Timing {
    uint32_t spinUpMs = 3000;      // tray closed or disc loaded until ready (04/01)
    uint32_t flushMs = 2000;       // SYNCHRONIZE CACHE after writing (04/08)
    uint32_t closeTrackMs = 4000;  // CLOSE TRACK (04/07)
    uint32_t finaliseMs = 30000;   // closing a session / finalising a disc (04/07)
    uint32_t formatStartMs = 5000; // DVD+RW FORMAT UNIT until writes are taken (04/04)
    // DVD+RW background format of a disc of real size; a smaller disc takes proportionally less.
    // Also a BD-RE's first format without certification (with it: fullBlankMs).
    uint32_t backgroundFormatMs = 240000;
    uint32_t quickBlankMs = 60000; // BLANK minimal (04/07)
    uint32_t fullBlankMs = 900000; // BLANK full (04/07)
};

// Habits of real drives that the model takes on when asked (vdrive/behaviours.h names them);
// all off by default.
struct Habits {
    // WRITE(10) answered with this sense for writeBusyMs from the first WRITE on a disc.
    uint32_t writeBusyMs = 0;
    uint8_t writeBusyKey = 0x02;
    uint8_t writeBusyAsc = 0x04;
    uint8_t writeBusyAscq = 0x01;
    // Unit attention 06/attentionAsc/attentionAscq instead of the attentionOccurrence-th command
    // with operation code attentionOpcode (-1: none); once.
    int attentionOpcode = -1;
    uint32_t attentionOccurrence = 1;
    uint8_t attentionAsc = 0x29;
    uint8_t attentionAscq = 0x00;
    // Every n-th medium command that succeeds reports a recovered error (01/17/01) with its
    // result.
    uint32_t recoveredEvery = 0;
    // All sense data in descriptor format (72h), with the status and from REQUEST SENSE.
    bool descriptorSense = false;
    // Each SYNCHRONIZE CACHE and CLOSE TRACK/SESSION is answered 02/04/settleBusyAscq for its
    // first settleBusyMs.
    uint32_t settleBusyMs = 0;
    uint8_t settleBusyAscq = 0x08;
    // Finishing a DVD+RW's background format takes this long whatever the disc's size
    // (0: in proportion to the part left).
    uint32_t plusRwFinishMs = 0;
    // A command without Immed whose work outlasts its time limit times out, as when a host
    // adapter gives up on it; the drive still finishes the work.
    bool enforceTimeouts = false;
};

// One drive's identity and abilities.
struct DriveModel {
    std::string vendor = "TVX";             // INQUIRY bytes 8-15, space padded
    std::string product = "VIRTUAL DVD-RW"; // bytes 16-31
    std::string revision = "1.00";          // bytes 32-35
    // Unit serial number (vital product data page 80h); empty: the drive has no such page.
    std::string serial;
    // Media the drive handles; its profile list is built from these, in this order.
    std::vector<MediumKind> media;
    bool testWrite = true;          // Test Write bit of the DVD-R/-RW Write feature
    bool bufferUnderrunFree = true; // BUF bit
    uint32_t maxWriteSpeed = 0;     // kB/s cap on the medium's speeds; 0 = no cap
    uint32_t maxReadSpeed = 16 * kDvdSpeed1x;
    Timing timing;
    // Write-speed mode: writes fill a buffer of this many bytes that drains at the current write
    // speed; a full buffer answers 02/04/08. 0 = writes complete at once.
    uint32_t writeBufferBytes = 0;
    // Unit attention 06/28/00 once after a disc was inserted or loaded, as many drives do. Off by
    // default: the library's command layer sends each command once and would fail on it.
    bool unitAttentionOnMediumChange = false;
    Habits habits;
    // Habits of real drives, off by default; the named behaviours switch them on.
    // DVD+RW feature: CloseOnly, the drive stops a background format only the compatible way
    // (CLOSE function 2); it refuses the quick stop (function 0).
    bool closeOnly = false;
    // Real Time Streaming feature: Stream Writing (WRITE(12) with the Streaming bit is taken).
    bool streamWriting = true;
    // CD Track at Once feature (002Dh); without it a CD is written session at once only.
    bool cdTrackAtOnce = true;
    // MODE SENSE answers put an 8-byte block descriptor before the page, DBD or not.
    bool modeBlockDescriptor = false;
    // The length byte of the write parameters page: 32h or 36h.
    uint8_t writeParamsPageLength = 0x32;
    // The BUF bit of the write parameters page is fixed (off): not changeable, and a MODE
    // SELECT that sets it is taken without changing it.
    bool bufferUnderrunFreeFixed = false;
    // A MODE SELECT asking for test write is taken, but the drive keeps writing for real: the
    // bit reads back clear and the changeable mask marks it fixed.
    bool testWriteIgnored = false;
    // The largest transfer the path to the drive takes, in bytes; a command that moves more
    // fails in the transport, as behind a USB bridge. 0 = no limit.
    uint32_t maxTransferBytes = 0;
    // A drive report (vdrive/drive_report.h) whose answers the drive gives in place of its own,
    // applied by whoever attaches the recorder (vdrive/replay.h); empty: none.
    std::string replayReport;

    static DriveModel Default();          // every medium kind, test write, BUF
    static DriveModel WithoutTestWrite(); // a drive whose DVD-R/-RW Write feature lacks Test Write
    static DriveModel SonyDvdRw();        // vendor "SONY", product "DVD RW DRU-810A"
    static DriveModel BdCdWriter();       // Default, and BD-R, BD-RE, CD-R and CD-RW too
};

// A fault to inject. A command matches when every given condition holds; the rule then fires on
// the n-th match (occurrence n) or on every match (occurrence 0), at most maxFires times
// (0 = unlimited).
struct FaultRule {
    enum class Action : uint8_t {
        Sense,            // CHECK CONDITION with senseKey/asc/ascq; the command does nothing
        TransportFailure, // the request never reaches the drive
        Timeout,          // no answer within the time limit; the command does nothing
        ShortData,        // the command runs, but only shortBytes of its answer are transferred
        MalformedData,    // the command runs, then its answer's bytes are corrupted (inverted)
        OpenTray,         // before the command: the tray opens (the disc stays on it)
        RemoveDisc,       // before the command: the disc is taken out (tray closed, empty)
    };
    int opcode = -1; // -1 = any command
    uint32_t occurrence = 0;
    uint32_t maxFires = 0;
    bool useLbaRange = false; // only commands with an LBA (READ/WRITE) touching [lbaFirst, lbaLast]
    uint32_t lbaFirst = 0;
    uint32_t lbaLast = 0;
    Action action = Action::Sense;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    uint32_t shortBytes = 0;
    // With Action::Sense: a second unit attention the drive then holds for its next command,
    // whatever that is.
    bool queueAttention = false;
    uint8_t queuedAsc = 0;
    uint8_t queuedAscq = 0;

    static FaultRule SenseOn(int opcode, uint8_t key, uint8_t asc, uint8_t ascq,
                             uint32_t occurrence = 0, uint32_t maxFires = 0);
};

// One command as the drive received it, and how it answered.
struct TraceEntry {
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint32_t byteCount = 0;
    ScsiOutcome outcome = ScsiOutcome::Completed;
    uint8_t status = 0;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    uint8_t opcode() const { return cdb[0]; }
};

// Disc status and session state as READ DISC INFORMATION reports them.
enum class DiscStatus : uint8_t { Empty = 0, Incomplete = 1, Finalised = 2, Other = 3 };
enum class BackgroundFormat : uint8_t { None = 0, Stopped = 1, Running = 2, Complete = 3 };

struct TrackView {
    uint32_t number = 0;
    uint32_t session = 0;
    uint32_t start = 0;
    uint32_t size = 0;           // blocks; for the invisible track, up to the end of the disc
    uint32_t recordedBlocks = 0; // next writable = start + recordedBlocks
    bool reserved = false;
    bool closed = false;
    bool invisible = false;
};

// What the disc holds, for tests to compare with what the commands report.
struct DiscView {
    MediumKind kind = MediumKind::None;
    uint32_t capacity = 0;
    DiscStatus status = DiscStatus::Empty;
    uint8_t lastSessionState = 0; // 0 empty, 1 incomplete, 3 complete
    uint32_t sessions = 0;
    BackgroundFormat format = BackgroundFormat::None;
    std::vector<TrackView> tracks; // the last one is the invisible track while the disc is open
};

class Medium;
class Drive;
class WriteCache;

class VirtualRecorder final : public ScsiTarget {
  public:
    explicit VirtualRecorder(Clock& clock, DriveModel model = DriveModel::Default());
    ~VirtualRecorder() override;
    VirtualRecorder(const VirtualRecorder&) = delete;
    VirtualRecorder& operator=(const VirtualRecorder&) = delete;

    // Discs in image files: an image is attached by one process at a time, and every drive of
    // that process attaching it gets the one disc (a blank or recorded disc replacing an image
    // that another drive holds is refused). Each of these answers false with lastError() set.
    //
    // A blank disc in the drive, ready. capacityBlocks 0 = the real capacity; backingFile empty =
    // kept in memory, else a sparse image file plus backingFile + ".state" (created or replaced;
    // never through a symbolic link).
    bool insertBlank(MediumKind kind, uint32_t capacityBlocks = 0,
                     const std::string& backingFile = "");
    // A recorded disc: blocks [0, recordedBlocks) hold data (zeros unless written through
    // writeBlocks). Sequential media (DVD-R, DVD-RW sequential, DVD+R, both dual-layer kinds)
    // get one closed track in a closed session, finalised or left appendable; DVD-RW restricted
    // overwrite, DVD-RAM and DVD+RW (fully formatted) just hold data (finalised is ignored).
    bool insertRecorded(MediumKind kind, uint32_t recordedBlocks, bool finalised,
                        uint32_t capacityBlocks = 0, const std::string& backingFile = "");
    // An existing image file: as a pressed DvdRom/CdRom (read-only) or as a recorded, fully
    // formatted DvdPlusRw (writes go to the file).
    bool loadImage(const std::string& imageFile, MediumKind kind);
    // A disc persisted before (backingFile and its ".state").
    bool openDisc(const std::string& backingFile);
    // Why the last of the four above failed, naming the image.
    const std::string& lastError() const { return problem_; }
    // Saves the state file and takes the disc out (tray stays closed, drive empty).
    void removeDisc();
    void openTray();  // the disc, if any, stays on the tray
    void closeTray(); // the disc, if any, spins up

    // Sets the unit serial number the drive reports (an empty one: none).
    void setSerial(const std::string& serial);

    // Inspection.
    const DriveModel& model() const;
    bool trayOpen() const;
    bool hasDisc() const;
    DiscView disc() const;
    // The stored content of blocks regardless of what the drive would let a READ see; false when
    // out of range or no disc.
    bool readBlocks(uint32_t lba, uint32_t count, uint8_t* out) const;
    // Puts content on the disc without any rule and without changing its layout (test set-up).
    bool writeBlocks(uint32_t lba, uint32_t count, const uint8_t* data);
    // Writes the state file and flushes the image; true when in memory.
    bool flush();
    // From now on the disc in the drive takes writes through a volatile cache of that many bytes
    // (vdrive/write_cache.h), which tests cut the power of; null without a disc. The cache goes
    // with the disc.
    WriteCache* holdWritesInCache(uint32_t capacityBytes);
    // The write speed the drive currently uses, kB/s.
    uint32_t currentWriteSpeed() const;
    // True while a slow operation runs (after bringing it up to the clock's time).
    bool busy();

    // Faults.
    void addFault(const FaultRule& rule);
    void clearFaults();

    // Trace of the commands received since it was enabled, oldest first: off until asked for,
    // and then the most recent kTraceLimit commands at most.
    const std::vector<TraceEntry>& trace() const;
    void clearTrace();
    void setTraceEnabled(bool enabled);
    // Operation codes of the trace, in order.
    std::vector<uint8_t> traceOpcodes() const;
    // One line per command: "2A 00 00 00 00 00 00 00 20 00 | out 65536 | GOOD | WRITE(10)" or
    // "... | CHECK 05/21/02 | WRITE(10)".
    std::string formatTrace() const;

    ScsiResult execute(const ScsiRequest& request) override;
    uint32_t maxTransferBytes() const override;

  private:
    std::unique_ptr<Drive> drive_;
    std::string problem_;
};

// Name of an operation code ("WRITE(10)"), or "OP xx".
std::string CommandName(uint8_t opcode);
// One trace line as formatTrace() prints it (without the newline), and a whole trace.
std::string FormatTraceEntry(const TraceEntry& entry);
std::string FormatTrace(const std::vector<TraceEntry>& trace);

} // namespace tvx::vdrive
