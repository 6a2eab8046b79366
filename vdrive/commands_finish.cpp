// CLOSE TRACK/SESSION, BLANK, FORMAT UNIT, and the end of every slow operation.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

#include <algorithm>

namespace tvx::vdrive {
namespace {

enum CloseFunction : uint8_t {
    kStopFormat = 0, // DVD+RW: quick stop of the background format
    kCloseTrack = 1,
    kCloseSession = 2, // DVD+RW: stop the format and make the disc compatible
    kFinishFormat = 3, // DVD+RW: complete the background format
    kFinaliseMinimal = 5,
    kFinalise = 6,
};

const Sense kIncompleteTrack = Sense::Of(0x05, 0x72, 0x03);
const Sense kPartialReservation = Sense::Of(0x05, 0x72, 0x04);

bool CloseAllowed(MediumKind kind, uint8_t function) {
    switch (kind) {
    case MediumKind::DvdR:
    case MediumKind::DvdRwSequential:
    case MediumKind::DvdRDualLayer:
        return function == kCloseTrack || function == kCloseSession;
    case MediumKind::DvdPlusR:
    case MediumKind::DvdPlusRDualLayer:
        return function == kCloseTrack || function == kCloseSession ||
               function == kFinaliseMinimal || function == kFinalise;
    case MediumKind::DvdPlusRw:
        return function == kStopFormat || function == kCloseSession || function == kFinishFormat;
    case MediumKind::DvdRwRestricted:
        return function == kCloseSession || function == kFinishFormat;
    case MediumKind::CdR:
    case MediumKind::CdRw:
        return function == kCloseTrack || function == kCloseSession;
    case MediumKind::BdR:
    case MediumKind::BdRDualLayer:
        return function == kCloseTrack || function == kCloseSession || function == kFinalise;
    default:
        return false;
    }
}

// A track stops taking writes; a reservation keeps its size (the drive pads it). A CD track
// written at once ends in its run-out blocks, which hold nothing readable.
void CloseTrack(const Medium& m, Track& t) {
    if (t.reserved)
        t.recorded = t.size;
    else
        t.size = t.recorded;
    if (IsCd(m.kind) && !t.reserved)
        t.size = std::min(t.size + kCdRunOutBlocks, m.capacity - t.start);
    t.closed = true;
}

void CloseSession(Medium& m, bool finalise) {
    for (Track& t : m.layout.tracks)
        if (!t.closed) CloseTrack(m, t);
    bool openSessionHasTracks = false;
    for (const Track& t : m.layout.tracks)
        if (t.session == m.openSessionNumber()) openSessionHasTracks = true;
    if (openSessionHasTracks) ++m.layout.closedSessions;
    m.layout.status = finalise ? DiscStatus::Finalised : DiscStatus::Incomplete;
}

} // namespace

void Drive::advanceBackgroundFormat() {
    if (!medium || medium->kind != MediumKind::DvdPlusRw ||
        medium->format != BackgroundFormat::Running)
        return;
    uint64_t elapsed = clock.nowMs() - formatSinceMs_;
    uint64_t total = std::max<uint32_t>(model.timing.backgroundFormatMs, 1);
    uint64_t done = formatBaseBlocks_ + elapsed * RealCapacity(medium->kind) / total;
    medium->formattedBlocks = static_cast<uint32_t>(std::min<uint64_t>(done, medium->capacity));
    if (medium->formattedBlocks >= medium->capacity) medium->format = BackgroundFormat::Complete;
}

void Drive::startWork(Work work, uint64_t durationMs, uint32_t param, uint32_t param2,
                      bool immediate) {
    BusyOp op;
    op.work = work;
    op.ascq = AscqOf(work);
    op.startMs = clock.nowMs();
    op.durationMs = durationMs;
    op.param = param;
    op.param2 = param2;
    if (!immediate) checkTimeLimit(durationMs);
    if (!immediate || durationMs == 0)
        finishWork(op);
    else
        busy.start(op);
}

void Drive::finishWork(const BusyOp& op) {
    if (!medium) return;
    Medium& m = *medium;
    switch (op.work) {
    case Work::SpinUp:
        return;
    case Work::Flush:
        dirty_ = false;
        bufferBytes_ = 0;
        if (simulationSaved_) {
            endSimulation();
        } else if (op.param == 1) {
            CloseSession(m, (page05_[3] >> 6) != 3);
        }
        break;
    case Work::CloseTrack:
        if (Track* t = m.track(op.param2)) CloseTrack(m, *t);
        break;
    case Work::CloseSession: {
        if (m.kind == MediumKind::DvdRwRestricted) break; // one fixed track: nothing to close
        bool finalise = true;
        // A CD or DVD-R session closes the disc unless the page asks for another session; a
        // BD-R is closed only by finalising.
        if (op.param == kCloseSession)
            finalise = (IsDash(m.kind) || IsCd(m.kind)) && (page05_[3] >> 6) != 3;
        CloseSession(m, finalise);
        break;
    }
    case Work::FormatStart:
        m.format = BackgroundFormat::Running;
        formatSinceMs_ = clock.nowMs();
        formatBaseBlocks_ = m.formattedBlocks;
        break;
    case Work::PlusRwClose:
        advanceBackgroundFormat();
        if (op.param == kFinishFormat) {
            m.format = BackgroundFormat::Complete;
            m.formattedBlocks = m.capacity;
        } else if (m.format == BackgroundFormat::Running) {
            m.format = BackgroundFormat::Stopped;
        }
        dirty_ = false;
        break;
    case Work::Blank:
        if (m.kind == MediumKind::DvdRwRestricted) m.kind = MediumKind::DvdRwSequential;
        m.layout = Layout{};
        m.everWritten = false;
        if (op.param == 0) m.store->discard(0, m.capacity);
        break;
    case Work::Format:
        // DVD-RW to restricted overwrite (or DVD-RAM or BD-RE (re)formatted): one fixed track.
        if (m.kind == MediumKind::DvdRwSequential) m.kind = MediumKind::DvdRwRestricted;
        if (m.kind == MediumKind::BdRe) {
            m.format = BackgroundFormat::Complete;
            m.formattedBlocks = m.capacity;
            if (op.param2 == 1) break; // quick reformat
        }
        m.layout = Layout{};
        m.layout.tracks.push_back(Track{1, 1, 0, m.capacity, 0, false, false});
        m.everWritten = false;
        m.store->discard(0, m.capacity);
        break;
    }
    operationalEvent_ = true;
    m.saveState();
}

Reply Drive::closeTrackSession(const Command& c) {
    Medium& m = *medium;
    bool immediate = c.cdb[1] & 0x01;
    uint8_t function = c.cdb[2] & 0x07;
    uint32_t trackNumber = Get16(c.cdb + 4);
    if (ClassOf(m.kind) == MediumClass::Pressed)
        return Reply::Fail(sense::CannotWriteIncompatible());
    if (!CloseAllowed(m.kind, function)) return Reply::Fail(sense::InvalidField());
    // A CloseOnly drive knows only the compatible stop of a background format.
    if (model.closeOnly && m.kind == MediumKind::DvdPlusRw && function == kStopFormat)
        return Reply::Fail(sense::InvalidField());
    const Timing& tm = model.timing;

    if (m.kind == MediumKind::DvdPlusRw) {
        advanceBackgroundFormat();
        if (m.format == BackgroundFormat::None) return Reply::Fail(sense::CommandSequenceError());
        uint64_t duration = tm.closeTrackMs;
        if (function == kCloseSession) duration = tm.finaliseMs;
        if (function == kFinishFormat && m.format != BackgroundFormat::Complete) {
            uint64_t left = m.capacity - std::min(m.formattedBlocks, m.capacity);
            duration = tm.closeTrackMs + left * tm.backgroundFormatMs / RealCapacity(m.kind);
        }
        if (function == kFinishFormat && model.habits.plusRwFinishMs != 0)
            duration = model.habits.plusRwFinishMs;
        startWork(Work::PlusRwClose, duration, function, 0, immediate);
        return {};
    }
    if (m.kind == MediumKind::DvdRwRestricted) {
        startWork(Work::CloseSession, tm.closeTrackMs, kFinishFormat, 0, immediate);
        return {};
    }
    if (simulationSaved_) {
        // A simulated recording closes nothing; forget it.
        endSimulation();
        return {};
    }
    if (!m.appendable()) return Reply::Fail(sense::CommandSequenceError());
    if (function == kCloseTrack) {
        Track* t = m.track(trackNumber);
        if (!t) {
            // The invisible track while still blank: nothing to close, and no error.
            if (trackNumber == m.nextTrackNumber()) return {};
            return Reply::Fail(sense::InvalidField());
        }
        if (t->closed) return Reply::Fail(sense::CommandSequenceError());
        startWork(Work::CloseTrack, tm.closeTrackMs, function, trackNumber, immediate);
        return {};
    }
    // A session closes only when each of its tracks is closed or a completely written reservation.
    bool openSessionHasTracks = false;
    for (const Track& t : m.layout.tracks) {
        if (t.session != m.openSessionNumber()) continue;
        openSessionHasTracks = true;
        if (t.closed || (t.reserved && t.recorded >= t.size)) continue;
        return Reply::Fail(t.reserved ? kPartialReservation : kIncompleteTrack);
    }
    if (!openSessionHasTracks) {
        if (function == kCloseSession) return {}; // an empty session: nothing is written
        if (m.layout.closedSessions == 0) return Reply::Fail(sense::CommandSequenceError());
    }
    startWork(Work::CloseSession, tm.finaliseMs, function, 0, immediate);
    return {};
}

Reply Drive::blank(const Command& c) {
    Medium& m = *medium;
    bool immediate = c.cdb[1] & 0x10;
    uint8_t type = c.cdb[1] & 0x07;
    if (ClassOf(m.kind) == MediumClass::Pressed)
        return Reply::Fail(sense::CannotWriteIncompatible());
    if (m.kind != MediumKind::DvdRwSequential && m.kind != MediumKind::DvdRwRestricted &&
        m.kind != MediumKind::CdRw)
        return Reply::Fail(sense::InvalidField());
    if (type > 1) return Reply::Fail(sense::InvalidField()); // only full and minimal blanking
    endSimulation();
    startWork(Work::Blank, type == 0 ? model.timing.fullBlankMs : model.timing.quickBlankMs, type,
              0, immediate);
    return {};
}

Reply Drive::formatUnit(const Command& c) {
    Medium& m = *medium;
    if ((c.cdb[1] & 0x17) != 0x11) return Reply::Fail(sense::InvalidField()); // FmtData, code 1
    if (c.outBytes() < 12) return Reply::Fail(sense::DataPhaseError());
    const uint8_t* list = c.data;
    bool immediate = list[1] & 0x02;
    if (Get16(list + 2) != 8) return Reply::Fail(sense::InvalidParameterField());
    uint8_t formatType = list[8] >> 2;
    uint32_t parameter = Get24(list + 9);
    const Timing& tm = model.timing;
    switch (m.kind) {
    case MediumKind::DvdPlusRw: {
        if (formatType != 0x26) return Reply::Fail(sense::InvalidParameterField());
        advanceBackgroundFormat();
        bool restart = parameter & 1;
        if (m.format == BackgroundFormat::Running)
            return Reply::Fail(sense::CommandSequenceError());
        if (restart && m.format != BackgroundFormat::Stopped)
            return Reply::Fail(sense::InvalidParameterField());
        if (!restart) m.formattedBlocks = 0;
        startWork(Work::FormatStart, tm.formatStartMs, 0, 0, immediate);
        return {};
    }
    case MediumKind::DvdRwSequential:
    case MediumKind::DvdRwRestricted:
        if (formatType != 0x10 && formatType != 0x15 && formatType != 0x00)
            return Reply::Fail(sense::InvalidParameterField());
        endSimulation();
        startWork(Work::Format, formatType == 0x15 ? tm.quickBlankMs : tm.fullBlankMs, formatType,
                  0, immediate);
        return {};
    case MediumKind::DvdRam:
        if (formatType != 0x00) return Reply::Fail(sense::InvalidParameterField());
        startWork(Work::Format, tm.fullBlankMs, formatType, 0, immediate);
        return {};
    case MediumKind::BdRe:
        // Full format (certified) or the BD-RE format with the spare areas the drive offers;
        // the size kept is the disc's user area whatever the count asks.
        if (formatType != 0x00 && formatType != 0x30)
            return Reply::Fail(sense::InvalidParameterField());
        // Subtype 00b on a formatted disc is a quick reformat: the recorded data stays.
        startWork(Work::Format, formatType == 0x00 ? tm.fullBlankMs : tm.backgroundFormatMs,
                  formatType, (list[8] & 3) == 0 && m.format == BackgroundFormat::Complete,
                  immediate);
        return {};
    default:
        return Reply::Fail(sense::CannotFormatIncompatible());
    }
}

} // namespace tvx::vdrive
