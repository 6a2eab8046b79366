// What CD and BD writers add: READ TOC/PMA/ATIP of a CD, and the rules of where and how a CD or
// a sequential BD-R takes a write.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace tvx::vdrive {
namespace {

constexpr uint8_t kTocFormatToc = 0x00;
constexpr uint8_t kTocFormatAtip = 0x04;
constexpr uint8_t kWriteTypeTrackAtOnce = 0x01;
constexpr uint8_t kTrackModeData = 0x04; // data, recorded uninterrupted
constexpr uint8_t kDataBlockMode1 = 0x08;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kAdrControlData = 0x14; // position data, data track
// Where a CD-R's or CD-RW's lead-in starts: 97:26:66 (ATIP).
constexpr uint8_t kLeadInStart[3] = {97, 26, 66};

const Sense kIllegalModeForTrack = Sense::Of(0x05, 0x64, 0x00);
const Sense kNoTableOfContents = Sense::Of(0x05, 0x24, 0x00);

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
    // Only 2048-byte mode 1 blocks of a data track written at once fit what the host sends;
    // session at once would need a cue sheet first.
    if ((page05_[4] & 0x0F) != kDataBlockMode1 || (page05_[3] & 0x0F) != kTrackModeData)
        return kIllegalModeForTrack;
    if (writeType() != kWriteTypeTrackAtOnce) return sense::CommandSequenceError();
    return std::nullopt;
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
