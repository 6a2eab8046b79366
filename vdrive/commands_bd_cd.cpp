// What CD and BD writers add: READ TOC/PMA/ATIP of a CD, and the rules of where and how a CD or
// a sequential BD-R takes a write.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace tvx::vdrive {
namespace {

constexpr uint8_t kTocFormatToc = 0x00;
constexpr uint8_t kTocFormatAtip = 0x04;
constexpr uint8_t kWriteTypeTrackAtOnce = 0x01;
constexpr uint8_t kWriteTypeSessionAtOnce = 0x02;
constexpr uint8_t kFormMode1 = 0x10; // cue sheet: 2048 bytes of user data per block
constexpr uint32_t kPregapFrames = 150;
constexpr uint32_t kCueEntryBytes = 8;
constexpr uint8_t kTrackModeData = 0x04; // data, recorded uninterrupted
constexpr uint8_t kDataBlockMode1 = 0x08;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kAdrControlData = 0x14; // position data, data track
// Where a CD-R's or CD-RW's lead-in starts: 97:26:66 (ATIP).
constexpr uint8_t kLeadInStart[3] = {97, 26, 66};

const Sense kIllegalModeForTrack = Sense::Of(0x05, 0x64, 0x00);
const Sense kNoTableOfContents = Sense::Of(0x05, 0x24, 0x00);

uint32_t FramesOf(const uint8_t* entry) {
    return (entry[5] * 60u + entry[6]) * 75u + entry[7];
}

} // namespace

uint32_t CdTime(uint32_t lba) {
    const uint32_t frames = lba + 150;
    return (frames / (60 * 75)) << 16 | (frames / 75 % 60) << 8 | frames % 75;
}

std::optional<Sense> Drive::bdCdWriteRefusal(uint32_t lba) const {
    const MediumKind kind = medium->kind;
    if (kind == MediumKind::BdR || kind == MediumKind::BdRDualLayer) {
        // Sequential recording takes whole clusters from a cluster's first block.
        if (lba % kBdClusterBlocks != 0) return sense::InvalidWriteAddress();
        return std::nullopt;
    }
    if (!IsCd(kind)) return std::nullopt;
    // Session at once goes by the cue sheet (the write path wants its reserved track).
    if (writeType() == kWriteTypeSessionAtOnce) return std::nullopt;
    // Only 2048-byte mode 1 blocks of a data track written at once fit what the host sends.
    if ((page05_[4] & 0x0F) != kDataBlockMode1 || (page05_[3] & 0x0F) != kTrackModeData)
        return kIllegalModeForTrack;
    if (writeType() != kWriteTypeTrackAtOnce) return sense::CommandSequenceError();
    return std::nullopt;
}

// One mode 1 data track on a blank disc: lead-in, the track's pregap from 00:00:00 (index 0),
// its data from 00:02:00 (index 1) and the lead-out. The track is reserved from it.
Reply Drive::sendCueSheet(const Command& c) {
    Medium& m = *medium;
    if (!IsCd(m.kind)) return Reply::Fail(sense::InvalidOpcode());
    if (writeType() != kWriteTypeSessionAtOnce || m.layout.status != DiscStatus::Empty ||
        !m.layout.tracks.empty())
        return Reply::Fail(sense::CommandSequenceError());
    const uint32_t bytes = Get24(c.cdb + 6);
    if (bytes == 0 || bytes % kCueEntryBytes != 0) return Reply::Fail(sense::InvalidField());
    if (c.outBytes() < bytes) return Reply::Fail(sense::DataPhaseError());
    const uint8_t* e = c.data;
    const bool shape = bytes == 4 * kCueEntryBytes && e[1] == 0 && e[9] == 1 && e[10] == 0 &&
                       e[17] == 1 && e[18] == 1 && e[25] == kLeadOutTrack && e[26] == 1;
    if (!shape) return Reply::Fail(sense::InvalidParameterField());
    for (uint32_t at = 0; at < bytes; at += kCueEntryBytes)
        if ((e[at] & 0xF0) != 0x40) return Reply::Fail(sense::InvalidParameterField());
    const uint32_t end = FramesOf(e + 24);
    if (e[11] != kFormMode1 || e[19] != kFormMode1 || FramesOf(e + 8) != 0 ||
        FramesOf(e + 16) != kPregapFrames || end <= kPregapFrames ||
        end - kPregapFrames > m.capacity)
        return Reply::Fail(sense::InvalidParameterField());
    Track t;
    t.number = 1;
    t.session = 1;
    t.start = 0;
    t.size = end - kPregapFrames;
    t.reserved = true;
    m.layout.tracks.push_back(t);
    m.layout.status = DiscStatus::Incomplete;
    m.saveState();
    cuePregapLeft_ = kPregapFrames;
    return {};
}

std::optional<Reply> Drive::cdPregapWrite(uint32_t lba, uint32_t blocks) {
    if (!IsCd(medium->kind) || writeType() != kWriteTypeSessionAtOnce) return std::nullopt;
    const int32_t first = static_cast<int32_t>(lba);
    // The pregap goes first, in order, before any block of the track.
    if (first >= 0) {
        if (cuePregapLeft_ != 0) return Reply::Fail(sense::CommandSequenceError());
        return std::nullopt;
    }
    if (cuePregapLeft_ == 0 || first != -static_cast<int32_t>(cuePregapLeft_) ||
        blocks > cuePregapLeft_)
        return Reply::Fail(sense::InvalidWriteAddress());
    cuePregapLeft_ -= blocks;
    dirty_ = true;
    return Reply{};
}

Reply Drive::readToc(const Command& c) {
    const Medium& m = *medium;
    if (!IsCd(m.kind)) return Reply::Fail(sense::InvalidOpcode());
    const bool msf = c.cdb[1] & 0x02;
    const uint8_t format = c.cdb[2] & 0x0F;
    auto address = [msf](uint32_t lba) { return msf ? CdTime(lba) : lba; };
    std::vector<uint8_t> d(4, 0);
    if (format == kTocFormatToc) {
        std::vector<TrackView> closed;
        for (const TrackView& t : DiscTracks(m))
            if (t.closed) closed.push_back(t);
        if (closed.empty()) return Reply::Fail(kNoTableOfContents);
        d[2] = static_cast<uint8_t>(closed.front().number);
        d[3] = static_cast<uint8_t>(closed.back().number);
        auto descriptor = [&](uint8_t number, uint32_t lba) {
            uint8_t e[8] = {0, kAdrControlData, number, 0, 0, 0, 0, 0};
            Put32(e + 4, address(lba));
            d.insert(d.end(), e, e + 8);
        };
        for (const TrackView& t : closed)
            descriptor(static_cast<uint8_t>(t.number), t.start);
        descriptor(kLeadOutTrack, closed.back().start + closed.back().size);
    } else if (format == kTocFormatAtip) {
        uint8_t a[24] = {};
        a[0] = 0x50; // indicative writing power; reference speed 0
        a[2] = static_cast<uint8_t>(0x80 | (m.kind == MediumKind::CdRw ? 0x40 : 0));
        a[4] = kLeadInStart[0];
        a[5] = kLeadInStart[1];
        a[6] = kLeadInStart[2];
        Put24(a + 8, CdTime(m.capacity));
        d.insert(d.end(), a, a + sizeof a);
    } else {
        return Reply::Fail(sense::InvalidField());
    }
    Put16(&d[0], static_cast<uint32_t>(d.size() - 2));
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

} // namespace tvx::vdrive
