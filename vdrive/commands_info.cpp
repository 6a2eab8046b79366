// READ CAPACITY, READ DISC INFORMATION, READ TRACK INFORMATION, READ DISC STRUCTURE,
// READ FORMAT CAPACITIES.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace tvx::vdrive {
namespace {

// The spare areas a BD formatted by default keeps, in clusters of 32 blocks (768 MB).
constexpr uint32_t kBdSpareClusters = 12288;

// The track the drive shows for a disc: visible tracks plus the invisible one while open.
std::vector<TrackView> VisibleTracks(const Medium& m) {
    std::vector<TrackView> list;
    if (ClassOf(m.kind) != MediumClass::Sequential) {
        TrackView t;
        t.number = 1;
        t.session = 1;
        t.start = 0;
        t.size = m.capacity;
        t.recordedBlocks = m.layout.tracks.empty() ? 0 : m.layout.tracks.front().recorded;
        t.closed = ClassOf(m.kind) == MediumClass::Pressed;
        if (ClassOf(m.kind) == MediumClass::Pressed) t.recordedBlocks = m.capacity;
        list.push_back(t);
        return list;
    }
    for (const Track& tr : m.layout.tracks) {
        TrackView t;
        t.number = tr.number;
        t.session = tr.session;
        t.start = tr.start;
        t.recordedBlocks = tr.recorded;
        t.reserved = tr.reserved;
        t.closed = tr.closed;
        if (tr.closed || tr.reserved) {
            t.size = tr.size;
        } else {
            // An incomplete, unreserved track is the invisible track being written.
            t.size = m.capacity - tr.start;
            t.invisible = true;
        }
        list.push_back(t);
    }
    bool lastIsOpen = !list.empty() && list.back().invisible;
    if (m.appendable() && !lastIsOpen) {
        uint32_t start = m.invisibleStart();
        if (start < m.capacity) {
            TrackView t;
            t.number = m.nextTrackNumber();
            t.session = m.openSessionNumber();
            t.start = start;
            t.size = m.capacity - start;
            t.invisible = true;
            list.push_back(t);
        }
    }
    return list;
}

} // namespace

std::vector<TrackView> DiscTracks(const Medium& m) {
    return VisibleTracks(m);
}

Reply Drive::readCapacity(const Command& c) {
    (void)c;
    std::vector<uint8_t> d(8, 0);
    uint32_t end = medium->readableEnd();
    if (ClassOf(medium->kind) == MediumClass::RandomWritable && end == 0) end = medium->capacity;
    // A CD's last track ends after its run-out, which the drive counts but cannot read.
    const std::vector<Track>& tracks = medium->layout.tracks;
    if (IsCd(medium->kind) && !tracks.empty() && tracks.back().closed)
        end = tracks.back().start + tracks.back().size;
    Put32(&d[0], end == 0 ? 0 : end - 1);
    Put32(&d[4], kBlockSize);
    return Reply::Data(std::move(d), 8);
}

Reply Drive::readDiscInformation(const Command& c) {
    if ((c.cdb[1] & 0x07) != 0) return Reply::Fail(sense::InvalidField()); // standard only
    const Medium& m = *medium;
    std::vector<TrackView> tracks = VisibleTracks(m);
    std::vector<uint8_t> d(34, 0);
    Put16(&d[0], 32);
    uint8_t status = 0, sessionState = 0;
    bool erasable = m.kind == MediumKind::DvdRwSequential ||
                    m.kind == MediumKind::DvdRwRestricted || m.kind == MediumKind::DvdRam ||
                    m.kind == MediumKind::DvdPlusRw || m.kind == MediumKind::CdRw ||
                    m.kind == MediumKind::BdRe;
    uint32_t sessions = 1, firstInLast = 1, lastInLast = 1;
    switch (ClassOf(m.kind)) {
    case MediumClass::Pressed:
        status = 2;
        sessionState = 3;
        break;
    case MediumClass::RandomWritable:
        status = static_cast<uint8_t>(m.randomWritableStatus());
        sessionState = status == 0 ? 0 : 3;
        break;
    case MediumClass::Sequential:
        status = static_cast<uint8_t>(m.layout.status);
        sessionState = m.lastSessionState();
        sessions = m.layout.closedSessions + (m.appendable() ? 1 : 0);
        if (sessions == 0) sessions = 1;
        lastInLast = tracks.empty() ? 1 : tracks.back().number;
        firstInLast = lastInLast;
        for (const TrackView& t : tracks)
            if (t.session == sessions) {
                firstInLast = t.number;
                break;
            }
        break;
    }
    d[2] = static_cast<uint8_t>((erasable ? 0x10 : 0) | (sessionState << 2) | status);
    d[3] = 1;
    d[4] = static_cast<uint8_t>(sessions);
    d[5] = static_cast<uint8_t>(firstInLast);
    d[6] = static_cast<uint8_t>(lastInLast);
    d[7] = 0x20; // unrestricted use
    if (NeedsFormat(m.kind)) d[7] |= static_cast<uint8_t>(m.format);
    d[8] = 0x00; // disc type
    d[9] = static_cast<uint8_t>(sessions >> 8);
    d[10] = static_cast<uint8_t>(firstInLast >> 8);
    d[11] = static_cast<uint8_t>(lastInLast >> 8);
    if (IsCd(m.kind) && m.appendable()) {
        // CD: the next session's lead-in and the last possible lead-out start, as times (MSF).
        Put32(&d[16], CdTime(m.invisibleStart()));
        Put32(&d[20], CdTime(m.capacity));
    } else if (m.appendable() && ClassOf(m.kind) == MediumClass::Sequential) {
        Put32(&d[16], m.invisibleStart());
        Put32(&d[20], m.capacity);
    } else {
        Put32(&d[16], 0xFFFFFFFF);
        Put32(&d[20], 0xFFFFFFFF);
    }
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

std::vector<uint8_t> Drive::trackInformation(uint32_t number, bool& found) {
    found = false;
    std::vector<uint8_t> d(48, 0);
    std::vector<TrackView> tracks = VisibleTracks(*medium);
    const TrackView* t = nullptr;
    for (const TrackView& v : tracks)
        if (v.number == number) t = &v;
    if (!t) return d;
    found = true;
    const MediumClass cls = ClassOf(medium->kind);
    Put16(&d[0], 46);
    d[2] = static_cast<uint8_t>(t->number);
    d[3] = static_cast<uint8_t>(t->session);
    d[32] = static_cast<uint8_t>(t->number >> 8);
    d[33] = static_cast<uint8_t>(t->session >> 8);
    d[5] = 0x04 | (cls == MediumClass::Pressed ? 0 : 0x01); // data track, recordable copy
    bool packet = medium->kind == MediumKind::DvdRwRestricted;
    bool blank = t->recordedBlocks == 0 && cls != MediumClass::Pressed;
    d[6] = static_cast<uint8_t>((t->reserved ? 0x80 : 0) | (blank ? 0x40 : 0) |
                                (packet ? 0x30 : 0) | 0x01);
    bool lastRecordedValid = t->recordedBlocks > 0;
    bool nextWritableValid = false;
    uint32_t nextWritable = 0, freeBlocks = 0;
    if (cls == MediumClass::Sequential) {
        bool full = t->recordedBlocks >= t->size;
        nextWritableValid = !t->closed && !full && medium->appendable();
        if (nextWritableValid) {
            nextWritable = t->start + t->recordedBlocks;
            freeBlocks = t->size - t->recordedBlocks;
            // A CD track written at once keeps room for its run-out.
            if (IsCd(medium->kind)) freeBlocks -= std::min(freeBlocks, kCdRunOutBlocks);
        }
    } else if (cls == MediumClass::RandomWritable) {
        // Writable anywhere: the drive reports the whole track as free from its start.
        nextWritableValid = true;
        nextWritable = 0;
        freeBlocks = t->size;
    }
    d[7] = static_cast<uint8_t>((lastRecordedValid ? 0x02 : 0) | (nextWritableValid ? 0x01 : 0));
    Put32(&d[8], t->start);
    Put32(&d[12], nextWritable);
    Put32(&d[16], freeBlocks);
    Put32(&d[20], packet ? 16 : 0);
    Put32(&d[24], t->size);
    Put32(&d[28], lastRecordedValid ? t->start + t->recordedBlocks - 1 : 0);
    return d;
}

Reply Drive::readTrackInformation(const Command& c) {
    uint8_t type = c.cdb[1] & 0x03;
    uint32_t address = Get32(c.cdb + 2);
    uint32_t number = 0;
    std::vector<TrackView> tracks = VisibleTracks(*medium);
    if (type == 1) {
        number = address;
    } else if (type == 0) {
        for (const TrackView& t : tracks)
            if (address >= t.start && address < t.start + t.size) number = t.number;
    } else if (type == 2) {
        for (const TrackView& t : tracks)
            if (t.session == address) {
                number = t.number;
                break;
            }
    } else {
        return Reply::Fail(sense::InvalidField());
    }
    bool found = false;
    std::vector<uint8_t> d = trackInformation(number, found);
    if (!found) return Reply::Fail(sense::InvalidField());
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

Reply Drive::readDiscStructure(const Command& c) {
    uint8_t format = c.cdb[7];
    uint32_t allocation = Get16(c.cdb + 8);
    if (c.cdb[1] & 0x0F) return Reply::Fail(sense::InvalidField()); // DVD media type only
    // No DVD structures on a CD or a BD (their own media types are not modelled).
    if (medium->kind == MediumKind::CdRom || IsCd(medium->kind) || IsBd(medium->kind))
        return Reply::Fail(sense::IncompatibleFormat());
    bool dual =
        medium->kind == MediumKind::DvdPlusRDualLayer || medium->kind == MediumKind::DvdRDualLayer;
    uint8_t layer = c.cdb[6];
    if (layer > (dual ? 1 : 0) && format == 0x00) return Reply::Fail(sense::InvalidField());
    std::vector<uint8_t> d(4, 0);
    if (format == 0x00) {
        std::vector<uint8_t> p(2048, 0);
        uint8_t book = 0;
        switch (medium->kind) {
        case MediumKind::DvdRam:
            book = 1;
            break;
        case MediumKind::DvdR:
        case MediumKind::DvdRDualLayer:
            book = 2;
            break;
        case MediumKind::DvdRwSequential:
        case MediumKind::DvdRwRestricted:
            book = 3;
            break;
        case MediumKind::DvdPlusRw:
            book = 9;
            break;
        case MediumKind::DvdPlusR:
            book = 10;
            break;
        case MediumKind::DvdPlusRDualLayer:
            book = 14;
            break;
        default:
            book = 0;
            break;
        }
        constexpr uint32_t kDataStart = 0x030000; // first physical sector of the data zone
        uint32_t blocks = medium->capacity;
        p[0] = static_cast<uint8_t>(book << 4 | 0x01);
        p[1] = 0x02;                                              // 120 mm, maximum rate
        p[2] = static_cast<uint8_t>((dual ? 0x20 : 0x00) | 0x01); // layers, layer type
        p[3] = 0x10;                                              // density
        Put32(&p[4], kDataStart);
        if (dual) {
            // Opposite track path: the end field holds the layer 0 end's complement address.
            uint32_t layer0 = blocks / 2;
            Put32(&p[8], (~(kDataStart + layer0 - 1)) & 0x00FFFFFF);
            Put32(&p[12], kDataStart + layer0 - 1);
        } else {
            Put32(&p[8], kDataStart + blocks - 1);
        }
        d.insert(d.end(), p.begin(), p.end());
    } else if (format == 0x01) {
        d.resize(8, 0);
        d[4] = 0; // no copy protection
        d[5] = 0; // region management
    } else {
        return Reply::Fail(sense::InvalidField());
    }
    Put16(&d[0], static_cast<uint32_t>(d.size() - 2));
    return Reply::Data(std::move(d), allocation);
}

Reply Drive::readFormatCapacities(const Command& c) {
    std::vector<uint8_t> d(4, 0);
    auto entry = [&d](uint32_t blocks, uint8_t typeByte, uint32_t parameter) {
        uint8_t e[8] = {};
        Put32(e, blocks);
        e[4] = typeByte;
        Put24(e + 5, parameter);
        d.insert(d.end(), e, e + 8);
    };
    const Medium& m = *medium;
    constexpr uint8_t kUnformatted = 1, kFormatted = 2;
    switch (m.kind) {
    case MediumKind::DvdPlusRw:
        entry(m.capacity, m.format == BackgroundFormat::None ? kUnformatted : kFormatted,
              kBlockSize);
        entry(m.capacity, 0x26 << 2, 0);
        break;
    case MediumKind::DvdRwSequential:
        entry(m.capacity, kUnformatted, kBlockSize);
        entry(m.capacity, 0x00 << 2, 16); // full format
        entry(m.capacity, 0x10 << 2, 16); // restricted overwrite
        entry(m.capacity, 0x15 << 2, 16); // quick
        break;
    case MediumKind::DvdRwRestricted:
        entry(m.capacity, kFormatted, kBlockSize);
        entry(m.capacity, 0x00 << 2, 16);
        entry(m.capacity, 0x13 << 2, 16); // grow the restricted overwrite session
        break;
    case MediumKind::DvdRam:
        entry(m.capacity, kFormatted, kBlockSize);
        entry(m.capacity, 0x00 << 2, kBlockSize);
        break;
    case MediumKind::BdRe: {
        // Unformatted: the whole surface; formatted: the user area left by the spare areas.
        // Full format and the BD-RE format with the default spare areas give that same area;
        // 31h formats without spare areas.
        const uint32_t whole = static_cast<uint32_t>(uint64_t{RealCapacity(MediumKind::BdR)} *
                                                     m.capacity / RealCapacity(m.kind));
        if (m.format == BackgroundFormat::None)
            entry(whole, kUnformatted, kBlockSize);
        else
            entry(m.capacity, kFormatted, kBlockSize);
        entry(m.capacity, 0x00 << 2, kBdSpareClusters);
        entry(m.capacity, 0x30 << 2, kBdSpareClusters);
        entry(whole, 0x31 << 2, 0);
        break;
    }
    case MediumKind::BdR:
    case MediumKind::BdRDualLayer:
        // Unformatted, written without spare areas; the drive could format it with some.
        entry(m.capacity, kUnformatted, kBlockSize);
        if (m.capacity > kBdSpareClusters * kBdClusterBlocks)
            entry(m.capacity - kBdSpareClusters * kBdClusterBlocks, 0x32 << 2, kBdSpareClusters);
        break;
    default:
        entry(m.capacity, kFormatted, kBlockSize);
        break;
    }
    d[3] = static_cast<uint8_t>(d.size() - 4);
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

} // namespace tvx::vdrive
