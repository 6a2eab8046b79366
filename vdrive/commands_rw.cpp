// READ(10), READ(12), WRITE(10), RESERVE TRACK, SYNCHRONIZE CACHE, and the rules of where a
// medium takes writes.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

#include <algorithm>
#include <cstring>

namespace tvx::vdrive {
namespace {

// Every block of [lba, lba + count) lies in the recorded part of some track.
bool SequentialReadable(const Medium& m, uint64_t lba, uint64_t count) {
    uint64_t end = lba + count;
    while (lba < end) {
        bool found = false;
        for (const Track& t : m.layout.tracks) {
            uint64_t recordedEnd = uint64_t{t.start} + t.recorded;
            if (lba >= t.start && lba < recordedEnd) {
                lba = std::min(end, recordedEnd);
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    return true;
}

} // namespace

bool Drive::simulating() const {
    return (page05_[2] & 0x10) != 0 && medium && IsDash(medium->kind);
}
uint8_t Drive::writeType() const {
    return page05_[2] & 0x0F;
}

void Drive::beginSimulation() {
    if (!simulationSaved_ && medium) simulationSaved_ = medium->layout;
}

void Drive::endSimulation() {
    if (simulationSaved_ && medium) medium->layout = *simulationSaved_;
    simulationSaved_.reset();
}

uint32_t Drive::drainWriteBuffer() {
    uint64_t now = clock.nowMs();
    if (bufferBytes_ > 0 && writeSpeed_ > 0) {
        uint64_t drained = (now - bufferAtMs_) * writeSpeed_; // kB/s * ms = bytes
        bufferBytes_ = drained >= bufferBytes_ ? 0 : bufferBytes_ - drained;
    }
    bufferAtMs_ = now;
    return static_cast<uint32_t>(bufferBytes_);
}

Reply Drive::read(const Command& c, uint32_t lba, uint32_t blocks) {
    const Medium& m = *medium;
    if (blocks == 0) return {};
    uint64_t end = uint64_t{lba} + blocks;
    if (end > m.capacity) return Reply::Fail(sense::LbaOutOfRange());
    bool readable = m.sequential() ? SequentialReadable(m, lba, blocks) : end <= m.readableEnd();
    if (!readable) return Reply::Fail(sense::LbaOutOfRange());
    uint64_t wanted = uint64_t{blocks} * kBlockSize;
    uint32_t room = c.inRoom();
    uint32_t moved = static_cast<uint32_t>(std::min<uint64_t>(wanted, room));
    uint32_t whole = moved / kBlockSize;
    if (whole > 0 && !medium->store->read(lba, whole, c.data))
        return Reply::Fail(sense::UnrecoveredRead());
    if (moved % kBlockSize != 0) {
        uint8_t block[kBlockSize];
        if (!medium->store->read(lba + whole, 1, block))
            return Reply::Fail(sense::UnrecoveredRead());
        std::memcpy(c.data + size_t{whole} * kBlockSize, block, moved % kBlockSize);
    }
    Reply r;
    r.directIn = moved;
    return r;
}

Reply Drive::write(const Command& c, uint32_t lba, uint32_t blocks) {
    Medium& m = *medium;
    MediumClass cls = ClassOf(m.kind);
    if (cls == MediumClass::Pressed || !m.writable())
        return Reply::Fail(sense::CannotWriteIncompatible());
    if (blocks == 0) return {};
    if (std::optional<Reply> pregap = cdPregapWrite(lba, blocks)) return *pregap;
    if (uint64_t{lba} + blocks > m.capacity) return Reply::Fail(sense::LbaOutOfRange());
    if (c.outBytes() < uint64_t{blocks} * kBlockSize) return Reply::Fail(sense::DataPhaseError());
    const uint32_t bytes = blocks * kBlockSize;
    if (model.writeBufferBytes > 0 && drainWriteBuffer() + uint64_t{bytes} > model.writeBufferBytes)
        return Reply::Fail(Sense::Of(0x02, 0x04, 0x08));

    bool simulate = simulating();
    if (std::optional<Sense> refusal = bdCdWriteRefusal(lba)) return Reply::Fail(*refusal);
    if (cls == MediumClass::Sequential) {
        if (!m.appendable()) return Reply::Fail(sense::InvalidWriteAddress());
        Track* target = nullptr;
        for (Track& t : m.layout.tracks) {
            if (t.closed || (t.reserved && t.recorded >= t.size)) continue;
            uint32_t nextWritable = t.start + t.recorded;
            if (lba != nextWritable) continue;
            if (t.reserved && uint64_t{lba} + blocks > uint64_t{t.start} + t.size)
                return Reply::Fail(sense::InvalidWriteAddress());
            target = &t;
            break;
        }
        bool sessionAtOnce = (IsDash(m.kind) || IsCd(m.kind)) && writeType() == 2;
        if (!target) {
            bool lastIsOpen = !m.layout.tracks.empty() && !m.layout.tracks.back().closed &&
                              !m.layout.tracks.back().reserved;
            if (lastIsOpen || lba != m.invisibleStart())
                return Reply::Fail(sense::InvalidWriteAddress());
            // Session-at-once writes only into a reserved track.
            if (sessionAtOnce) return Reply::Fail(sense::CommandSequenceError());
            if (simulate) beginSimulation();
            Track t;
            t.number = m.nextTrackNumber();
            t.session = m.openSessionNumber();
            t.start = lba;
            m.layout.tracks.push_back(t);
            target = &m.layout.tracks.back();
        } else if (sessionAtOnce && !target->reserved) {
            return Reply::Fail(sense::CommandSequenceError());
        }
        if (simulate) {
            beginSimulation();
        } else if (!m.store->write(lba, blocks, c.data)) {
            return Reply::Fail(Sense::Of(0x03, 0x0C, 0x00));
        }
        target->recorded += blocks;
        if (m.layout.status == DiscStatus::Empty) m.layout.status = DiscStatus::Incomplete;
    } else {
        if (NeedsFormat(m.kind) && m.format == BackgroundFormat::None)
            return Reply::Fail(sense::CannotWriteIncompatible());
        if (!m.store->write(lba, blocks, c.data)) return Reply::Fail(Sense::Of(0x03, 0x0C, 0x00));
        m.everWritten = true;
        if (!m.layout.tracks.empty())
            m.layout.tracks.front().recorded =
                std::max(m.layout.tracks.front().recorded, lba + blocks);
    }
    dirty_ = true;
    if (model.writeBufferBytes > 0) bufferBytes_ += bytes;
    return {};
}

Reply Drive::reserveTrack(const Command& c) {
    Medium& m = *medium;
    if (c.cdb[1] & 0x01) return Reply::Fail(sense::InvalidField()); // reservation by address
    uint32_t size = Get32(c.cdb + 5);
    switch (ClassOf(m.kind)) {
    case MediumClass::Pressed:
        return Reply::Fail(sense::CannotWriteIncompatible());
    case MediumClass::RandomWritable:
        // DVD+RW, restricted overwrite and DVD-RAM have one fixed track: nothing to reserve.
        return Reply::Fail(sense::CommandSequenceError());
    case MediumClass::Sequential:
        break;
    }
    if (!m.appendable()) return Reply::Fail(sense::CommandSequenceError());
    if (!m.layout.tracks.empty()) {
        const Track& last = m.layout.tracks.back();
        if (!last.closed && !last.reserved) return Reply::Fail(sense::CommandSequenceError());
    }
    if (size == 0) return Reply::Fail(sense::InvalidField());
    uint32_t start = m.invisibleStart();
    if (uint64_t{start} + size > m.capacity) return Reply::Fail(sense::InvalidField());
    if (simulating()) beginSimulation();
    Track t;
    t.number = m.nextTrackNumber();
    t.session = m.openSessionNumber();
    t.start = start;
    t.size = size;
    t.reserved = true;
    m.layout.tracks.push_back(t);
    if (m.layout.status == DiscStatus::Empty) m.layout.status = DiscStatus::Incomplete;
    if (!simulating()) m.saveState();
    return {};
}

Reply Drive::synchronizeCache(const Command& c) {
    bool immediate = c.cdb[1] & 0x02;
    Medium& m = *medium;
    // What the drive accepted is on the disc once the flush is asked for, as after a power cut:
    // the image's bytes go to the host's disk first.
    if (!m.store->flush()) return Reply::Fail(Sense::Of(0x03, 0x0C, 0x00));
    uint64_t duration = 0;
    BusyOp op;
    op.work = Work::Flush;
    op.ascq = AscqOf(Work::Flush);
    if (dirty_ || drainWriteBuffer() > 0) {
        duration = model.timing.flushMs;
        if (writeSpeed_ > 0) duration += bufferBytes_ / writeSpeed_;
    }
    // After a session-at-once recording the flush also writes the lead-out.
    if ((IsDash(m.kind) || IsCd(m.kind)) && m.sequential() && writeType() == 2) {
        for (const Track& t : m.layout.tracks)
            if (t.reserved && !t.closed && t.recorded > 0 && t.session == m.openSessionNumber()) {
                op.param = 1;
                duration += model.timing.finaliseMs;
                break;
            }
    }
    if (duration == 0 && op.param == 0) {
        if (simulationSaved_) endSimulation();
        return {};
    }
    op.startMs = clock.nowMs();
    op.durationMs = duration;
    // Work that takes no time (a drive model with instant timing) still has to be done.
    if (!immediate) checkTimeLimit(duration);
    if (!immediate || duration == 0) {
        finishWork(op);
        return {};
    }
    busy.start(op);
    return {};
}

} // namespace tvx::vdrive
