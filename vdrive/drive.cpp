#include "vdrive/drive.h"

#include "vdrive/bytes.h"

#include <algorithm>
#include <cstring>

namespace tvx::vdrive {

void PutPadded(uint8_t* field, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i)
        field[i] = i < text.size() ? text[i] : ' ';
}

Drive::Drive(Clock& c, DriveModel m) : clock(c), model(std::move(m)) {
    resetForMedium();
}

Drive::~Drive() {
    saveState();
}

bool Drive::saveState() {
    return !medium || medium->saveState();
}

void Drive::resetForMedium() {
    std::memset(page05_, 0, sizeof page05_);
    page05_[0] = 0x05;
    page05_[1] = model.writeParamsPageLength;
    page05_[2] = 0x00; // incremental, no test write
    page05_[3] = 0x05; // track mode 5
    page05_[4] = 0x08; // mode 1, 2048-byte blocks
    page05_[5] = 0x10; // link size 16 (DVD)
    page05_[15] = 150; // audio pause length
    if (model.bufferUnderrunFree && !model.bufferUnderrunFreeFixed) page05_[2] |= 0x40;
    std::memcpy(defaultPage05_, page05_, sizeof page05_);
    std::vector<uint32_t> speeds = offeredWriteSpeeds();
    writeSpeed_ = speeds.empty() ? 0 : speeds.front();
    readSpeed_ = model.maxReadSpeed;
    dirty_ = false;
    simulationSaved_.reset();
    bufferBytes_ = 0;
    bufferAtMs_ = clock.nowMs();
    writeBusySinceMs_.reset();
    settleBusySinceMs_.reset();
}

std::vector<uint32_t> Drive::offeredWriteSpeeds() const {
    std::vector<uint32_t> speeds;
    if (!medium || trayOpen) return speeds;
    for (uint32_t s : RealWriteSpeeds(medium->kind))
        if (model.maxWriteSpeed == 0 || s <= model.maxWriteSpeed) speeds.push_back(s);
    if (speeds.empty() && !RealWriteSpeeds(medium->kind).empty())
        speeds.push_back(RealWriteSpeeds(medium->kind).back());
    return speeds;
}

void Drive::putDisc(std::shared_ptr<Medium> m) {
    takeDisc();
    medium = std::move(m);
    resetForMedium();
    if (!trayOpen) queueMediaEvent(2); // new media
    mediumChanged_ = model.unitAttentionOnMediumChange && !trayOpen;
}

void Drive::takeDisc() {
    if (!medium) return;
    endSimulation();
    medium->saveState();
    medium.reset();
    busy.clear();
    resetForMedium();
    if (!trayOpen) queueMediaEvent(3); // media removal
}

void Drive::openTray() {
    if (trayOpen) return;
    if (medium) {
        endSimulation();
        medium->saveState();
    }
    busy.clear();
    trayOpen = true;
    queueMediaEvent(3);
}

void Drive::closeTray() {
    if (!trayOpen) return;
    trayOpen = false;
    resetForMedium();
    if (medium) {
        queueMediaEvent(2);
        mediumChanged_ = model.unitAttentionOnMediumChange;
        BusyOp op;
        op.work = Work::SpinUp;
        op.ascq = AscqOf(Work::SpinUp);
        op.startMs = clock.nowMs();
        op.durationMs = model.timing.spinUpMs;
        busy.start(op);
    }
}

bool Drive::updateBusy() {
    advanceBackgroundFormat();
    while (busy.due(clock.nowMs())) {
        BusyOp op = busy.op();
        busy.clear();
        finishWork(op);
    }
    return busy.active();
}

// Commands a drive answers whatever the tray, the disc or slow work is doing.
static bool AnswersAlways(uint8_t op) {
    switch (op) {
    case 0x12: // INQUIRY
    case 0x03: // REQUEST SENSE
    case 0x46: // GET CONFIGURATION
    case 0x4A: // GET EVENT STATUS NOTIFICATION
    case 0x5A: // MODE SENSE(10)
    case 0x55: // MODE SELECT(10)
    case 0x1E: // PREVENT ALLOW MEDIUM REMOVAL
    case 0x1B: // START STOP UNIT
    case 0xAC: // GET PERFORMANCE
    case 0xB6: // SET STREAMING
        return true;
    default:
        return false;
    }
}

std::optional<Sense> Drive::mediumCheck(const Command& c) {
    if (AnswersAlways(c.op())) return std::nullopt;
    if (trayOpen) return sense::NoMediumTrayOpen();
    if (!medium) return sense::NoMediumTrayClosed();
    if (busy.active()) return busy.sense(clock.nowMs());
    if (mediumChanged_) {
        // Reported once, by the first medium command after the disc became ready.
        mediumChanged_ = false;
        return Sense::Of(0x06, 0x28, 0x00);
    }
    return std::nullopt;
}

ScsiResult Drive::execute(const ScsiRequest& request) {
    ScsiResult result;
    TraceEntry entry;
    uint8_t cdbLength = std::min<uint8_t>(request.cdbLength, 16);
    if (request.cdb) std::memcpy(entry.cdb, request.cdb, cdbLength);
    entry.cdbLength = cdbLength;
    entry.direction = request.direction;
    entry.byteCount = request.byteCount;

    auto finish = [&](ScsiResult r) {
        entry.outcome = r.outcome;
        entry.status = r.status;
        if (r.status == kScsiStatusCheckCondition) {
            const bool descriptor = (r.sense[0] & 0x7F) == 0x72;
            entry.senseKey = r.sense[descriptor ? 1 : 2] & 0x0F;
            entry.asc = r.sense[descriptor ? 2 : 12];
            entry.ascq = r.sense[descriptor ? 3 : 13];
        }
        if (traceEnabled) {
            // Bounded: the oldest quarter goes at once, so that recording stays cheap.
            if (trace.size() >= kTraceLimit)
                trace.erase(trace.begin(), trace.begin() + kTraceLimit / 4);
            trace.push_back(entry);
        }
        return r;
    };
    auto check = [&](const Sense& s) {
        ScsiResult r;
        r.status = kScsiStatusCheckCondition;
        encodeSense(s, r.sense);
        r.senseLength = kSenseBytes;
        // The sense goes out with the status (autosense); REQUEST SENSE then reports only the
        // drive's present condition, as behind any host adapter that fetches sense itself.
        return finish(r);
    };

    if (!request.cdb || cdbLength < 6) {
        result.outcome = ScsiOutcome::TransportFailed;
        return finish(result);
    }
    // Behind a bridge with a small transfer limit a larger command never reaches the drive.
    if (model.maxTransferBytes != 0 && request.direction != DataDirection::None &&
        request.byteCount > model.maxTransferBytes) {
        result.outcome = ScsiOutcome::TransportFailed;
        return finish(result);
    }
    updateBusy();

    Command c;
    c.cdb = entry.cdb;
    c.cdbLength = cdbLength;
    c.direction = request.direction;
    c.data = static_cast<uint8_t*>(request.data);
    c.byteCount = request.data ? request.byteCount : 0;
    c.timeLimitMs = uint64_t{request.timeoutSeconds} * 1000;
    commandLimitMs_ = c.timeLimitMs;
    timedOut_ = false;

    // An attention held behind an earlier one goes to the next command, whatever it is.
    if (queuedAttention_) {
        const Sense queued = *queuedAttention_;
        queuedAttention_.reset();
        return check(queued);
    }
    std::optional<FaultRule> fault = faults.match(c.cdb, cdbLength);
    if (fault) {
        switch (fault->action) {
        case FaultRule::Action::Sense:
            if (fault->queueAttention)
                queuedAttention_ = Sense::Of(0x06, fault->queuedAsc, fault->queuedAscq);
            return check(Sense::Of(fault->senseKey, fault->asc, fault->ascq));
        case FaultRule::Action::TransportFailure:
            result.outcome = ScsiOutcome::TransportFailed;
            return finish(result);
        case FaultRule::Action::Timeout:
            result.outcome = ScsiOutcome::TimedOut;
            return finish(result);
        case FaultRule::Action::OpenTray:
            openTray();
            break;
        case FaultRule::Action::RemoveDisc:
            takeDisc();
            break;
        case FaultRule::Action::ShortData:
        case FaultRule::Action::MalformedData:
            break;
        }
    }

    // A short answer: the drive sends fewer bytes than the caller has room for.
    if (fault && fault->action == FaultRule::Action::ShortData)
        c.byteCount = std::min(c.byteCount, fault->shortBytes);

    if (std::optional<Sense> refusal = mediumCheck(c)) return check(*refusal);
    if (std::optional<Sense> refusal = habitRefusal(c)) return check(*refusal);
    Reply reply = dispatch(c);
    if (timedOut_) {
        result.outcome = ScsiOutcome::TimedOut;
        return finish(result);
    }
    if (!reply.sense.ok()) return check(reply.sense);

    uint32_t moved = reply.directIn;
    if (!reply.dataIn.empty() && c.inRoom() > 0) {
        moved = std::min<uint32_t>(
            {static_cast<uint32_t>(reply.dataIn.size()), reply.allocation, c.inRoom()});
        std::memcpy(c.data, reply.dataIn.data(), moved);
    }
    if (fault && fault->action == FaultRule::Action::MalformedData && c.inRoom() > 0)
        for (uint32_t i = 0; i < moved; ++i)
            c.data[i] = static_cast<uint8_t>(~c.data[i]);
    result.transferred = c.direction == DataDirection::ToDevice ? c.outBytes() : moved;
    if (!AnswersAlways(c.op()) && habitRecovered(c)) {
        // The medium command did its work; the drive only tells that it needed retries for it.
        ScsiResult recovered = check(sense::RecoveredWithRetries());
        recovered.transferred = result.transferred;
        return recovered;
    }
    return finish(result);
}

Reply Drive::dispatch(const Command& c) {
    const uint8_t* cdb = c.cdb;
    switch (c.op()) {
    case 0x00:
        return testUnitReady(c);
    case 0x03:
        return requestSense(c);
    case 0x04:
        return formatUnit(c);
    case 0x12:
        return inquiry(c);
    case 0x1B:
        return startStopUnit(c);
    case 0x1E:
        return preventAllow(c);
    case 0x23:
        return readFormatCapacities(c);
    case 0x25:
        return readCapacity(c);
    case 0x28:
        if (c.cdbLength < 10) return Reply::Fail(sense::InvalidField());
        return read(c, Get32(cdb + 2), Get16(cdb + 7));
    case 0xA8:
        if (c.cdbLength < 12) return Reply::Fail(sense::InvalidField());
        return read(c, Get32(cdb + 2), Get32(cdb + 6));
    case 0x2A:
        if (c.cdbLength < 10) return Reply::Fail(sense::InvalidField());
        return write(c, Get32(cdb + 2), Get16(cdb + 7));
    case 0xAA:
        if (c.cdbLength < 12) return Reply::Fail(sense::InvalidField());
        // The Streaming bit asks for recording without defect management.
        if ((cdb[10] & 0x80) && !model.streamWriting) return Reply::Fail(sense::InvalidField());
        return write(c, Get32(cdb + 2), Get32(cdb + 6));
    case 0x5D:
        return sendCueSheet(c);
    case 0x43:
        return readToc(c);
    case 0x35:
        return synchronizeCache(c);
    case 0x46:
        return getConfiguration(c);
    case 0x4A:
        return getEventStatus(c);
    case 0x51:
        return readDiscInformation(c);
    case 0x52:
        return readTrackInformation(c);
    case 0x53:
        return reserveTrack(c);
    case 0x55:
        return modeSelect(c);
    case 0x5A:
        return modeSense(c);
    case 0x5B:
        return closeTrackSession(c);
    case 0xA1:
        return blank(c);
    case 0xAC:
        return getPerformance(c);
    case 0xAD:
        return readDiscStructure(c);
    case 0xB6:
        return setStreaming(c);
    default:
        return Reply::Fail(sense::InvalidOpcode());
    }
}

} // namespace tvx::vdrive
