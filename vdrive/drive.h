// The drive behind VirtualRecorder: its state and one handler per command family. Handlers get
// the CDB and the caller's buffer and answer with a Reply; execute() does the common checks
// (faults, tray, medium, busy), moves the data and records the trace.
#pragma once

#include "vdrive/busy.h"
#include "vdrive/faults.h"
#include "vdrive/medium.h"
#include "vdrive/sense.h"
#include "vdrive/virtual_recorder.h"

#include <memory>
#include <optional>
#include <vector>

namespace tvx::vdrive {

struct Command {
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint8_t* data = nullptr;
    uint32_t byteCount = 0;
    uint64_t timeLimitMs = 0; // 0: none
    uint8_t op() const { return cdb[0]; }
    // The data the caller sends, limited to what it handed over.
    uint32_t outBytes() const {
        return direction == DataDirection::ToDevice && data ? byteCount : 0;
    }
    uint32_t inRoom() const {
        return direction == DataDirection::FromDevice && data ? byteCount : 0;
    }
};

struct Reply {
    Sense sense;
    std::vector<uint8_t> dataIn; // answer; the caller gets min(size, allocation, byteCount)
    uint32_t allocation = 0;
    uint32_t directIn = 0; // bytes the handler placed straight into the caller's buffer
    static Reply Fail(const Sense& s) {
        Reply r;
        r.sense = s;
        return r;
    }
    static Reply Data(std::vector<uint8_t> bytes, uint32_t allocation) {
        Reply r;
        r.dataIn = std::move(bytes);
        r.allocation = allocation;
        return r;
    }
};

// The write parameters page 05h as the drive keeps it: room for the longest page (36h bytes
// after the page header); DriveModel::writeParamsPageLength says how much of it the drive has.
inline constexpr uint32_t kWriteParamsPageRoom = 0x36 + 2;

class Drive {
  public:
    Drive(Clock& clock, DriveModel model);
    ~Drive();

    ScsiResult execute(const ScsiRequest& request);

    // State reachable through VirtualRecorder.
    Clock& clock;
    DriveModel model;
    std::shared_ptr<Medium> medium; // shared with other drives of this process holding its image
    bool trayOpen = false;
    bool prevented = false;
    Busy busy;
    FaultSet faults;
    std::vector<TraceEntry> trace;
    bool traceEnabled = false;

    // Disc handling (the API and START STOP UNIT both come here).
    void putDisc(std::shared_ptr<Medium> m);
    void takeDisc();
    void openTray();
    void closeTray();
    bool saveState();
    // Brings slow work up to the clock's time; true while some is still running.
    bool updateBusy();
    uint32_t writeSpeed() const { return writeSpeed_; }

  private:
    Reply dispatch(const Command& c);
    std::optional<Sense> mediumCheck(const Command& c);
    void finishWork(const BusyOp& op);
    // Runs slow work: in the background (Immed) or to its end before the command returns.
    void startWork(Work work, uint64_t durationMs, uint32_t param, uint32_t param2, bool immediate);
    void advanceBackgroundFormat();
    void resetForMedium();
    // Real drives' habits (habits.cpp): a refusal before the command runs, a recovered error
    // after it ran, and work without Immed that outlasts the command's time limit.
    std::optional<Sense> habitRefusal(const Command& c);
    bool habitRecovered(const Command& c);
    void checkTimeLimit(uint64_t workMs);
    void encodeSense(const Sense& s, uint8_t* out) const {
        EncodeSense(s, out, model.habits.descriptorSense);
    }

    // Identify and status (commands_status.cpp).
    Reply inquiry(const Command& c);
    Reply vitalProductData(const Command& c);
    Reply testUnitReady(const Command& c);
    Reply requestSense(const Command& c);
    Reply startStopUnit(const Command& c);
    Reply preventAllow(const Command& c);
    Reply getEventStatus(const Command& c);
    // Configuration and performance (commands_config.cpp).
    Reply getConfiguration(const Command& c);
    Reply getPerformance(const Command& c);
    Reply setStreaming(const Command& c);
    // Disc and track information (commands_info.cpp).
    Reply readCapacity(const Command& c);
    Reply readDiscInformation(const Command& c);
    Reply readTrackInformation(const Command& c);
    Reply readDiscStructure(const Command& c);
    Reply readFormatCapacities(const Command& c);
    // CD and BD writers (commands_bd_cd.cpp).
    Reply readToc(const Command& c);
    Reply sendCueSheet(const Command& c);
    std::optional<Sense> bdCdWriteRefusal(uint32_t lba) const;
    // A write into a CD's pregap in session at once; nullopt for writes elsewhere.
    std::optional<Reply> cdPregapWrite(uint32_t lba, uint32_t blocks);
    // Reading and writing (commands_rw.cpp).
    Reply read(const Command& c, uint32_t lba, uint32_t blocks);
    Reply write(const Command& c, uint32_t lba, uint32_t blocks);
    Reply reserveTrack(const Command& c);
    Reply synchronizeCache(const Command& c);
    // Closing, blanking, formatting (commands_finish.cpp).
    Reply closeTrackSession(const Command& c);
    Reply blank(const Command& c);
    Reply formatUnit(const Command& c);
    // Mode pages (commands_mode.cpp).
    Reply modeSense(const Command& c);
    Reply modeSelect(const Command& c);
    bool writeTypeAllowed(uint8_t writeType) const;
    bool simulating() const; // test write on dash media: nothing is recorded
    uint8_t writeType() const;

    // Helpers shared by the families.
    std::vector<uint8_t> trackInformation(uint32_t number, bool& found);
    void beginSimulation();
    void endSimulation();
    uint32_t drainWriteBuffer();
    std::vector<uint32_t> offeredWriteSpeeds() const;
    void queueMediaEvent(uint8_t code) { mediaEvent_ = code; }

    uint8_t mediaEvent_ = 0; // GET EVENT STATUS media event waiting to be reported
    bool operationalEvent_ = false;
    bool mediumChanged_ = false; // unit attention 06/28/00 waiting
    uint8_t page05_[kWriteParamsPageRoom] = {};
    uint8_t defaultPage05_[kWriteParamsPageRoom] = {};
    uint32_t page05Bytes() const {
        const uint32_t bytes = model.writeParamsPageLength + 2u;
        return bytes < kWriteParamsPageRoom ? bytes : kWriteParamsPageRoom;
    }
    // CD session at once: pregap blocks the host has still to write after the cue sheet.
    uint32_t cuePregapLeft_ = 0;
    uint32_t writeSpeed_ = 0; // kB/s
    uint32_t readSpeed_ = 0;
    bool dirty_ = false; // written since the last cache flush
    std::optional<Layout> simulationSaved_;
    uint64_t bufferBytes_ = 0; // write-speed mode: bytes waiting in the drive buffer
    uint64_t bufferAtMs_ = 0;
    uint64_t formatSinceMs_ = 0;    // DVD+RW background format: running since
    uint32_t formatBaseBlocks_ = 0; // and formatted blocks at that time
    // Habit state.
    std::optional<uint64_t> writeBusySinceMs_;
    std::optional<uint64_t> settleBusySinceMs_;
    uint8_t settleBusyOpcode_ = 0;
    // A second unit attention a fault left for the next command.
    std::optional<Sense> queuedAttention_;
    uint32_t attentionMatches_ = 0;
    uint32_t successes_ = 0;
    uint64_t commandLimitMs_ = 0;
    bool timedOut_ = false;
};

// The tracks READ TRACK INFORMATION shows: visible ones plus the invisible one while open.
std::vector<TrackView> DiscTracks(const Medium& m);

// A CD address as minutes, seconds and frames (the 150 frames before block 0 counted).
uint32_t CdTime(uint32_t lba);

// Put a string into a fixed, space-padded field.
void PutPadded(uint8_t* field, size_t width, const std::string& text);

} // namespace tvx::vdrive
