// GET CONFIGURATION (profile list and features), GET PERFORMANCE, SET STREAMING.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

#include <algorithm>

namespace tvx::vdrive {
namespace {

struct Feature {
    uint16_t code;
    uint8_t version;
    bool persistent;
    bool current;
    std::vector<uint8_t> data;
};

bool Has(const DriveModel& m, MediumKind k) {
    return std::find(m.media.begin(), m.media.end(), k) != m.media.end();
}

template <typename... K> bool HasAny(const DriveModel& m, K... kinds) {
    return (Has(m, kinds) || ...);
}

} // namespace

Reply Drive::getConfiguration(const Command& c) {
    uint8_t rt = c.cdb[1] & 0x03;
    if (rt == 3) return Reply::Fail(sense::InvalidField());
    uint16_t startCode = Get16(c.cdb + 2);
    MediumKind now = (medium && !trayOpen) ? medium->kind : MediumKind::None;
    uint16_t currentProfile = ProfileOf(now);
    using MK = MediumKind;
    auto is = [now](std::initializer_list<MK> kinds) {
        return std::find(kinds.begin(), kinds.end(), now) != kinds.end();
    };
    bool dash = is({MK::DvdR, MK::DvdRwSequential, MK::DvdRDualLayer});
    bool randomWritable = is({MK::DvdRam, MK::DvdRwRestricted, MK::DvdPlusRw, MK::BdRe});
    const bool cd = IsCd(now), bd = IsBd(now);

    std::vector<Feature> features;
    {
        Feature f{0x0000, 0, true, true, {}};
        for (MK k : model.media) {
            uint8_t p[4] = {};
            Put16(p, ProfileOf(k));
            p[2] = now != MK::None && ProfileOf(k) == currentProfile ? 1 : 0;
            f.data.insert(f.data.end(), p, p + 4);
        }
        features.push_back(f);
    }
    features.push_back({0x0001, 2, true, true, {0, 0, 0, 2, 1, 0, 0, 0}}); // Core: ATAPI, DBE
    features.push_back({0x0002, 1, true, true, {0x02, 0, 0, 0}});          // Morphing: OCEvent
    features.push_back({0x0003, 0, true, true, {0x29, 0, 0, 0}});          // tray, eject, lock
    {
        // Random readable: 2048-byte blocks, blocking 16, page present.
        uint8_t rr[8] = {0, 0, 0x08, 0, 0, 0x10, 0x01, 0};
        features.push_back({0x0010, 0, false, now != MK::None, std::vector<uint8_t>(rr, rr + 8)});
    }
    if (HasAny(model, MK::CdR, MK::CdRw))
        features.push_back({0x001E, 2, false, cd || now == MK::CdRom, {0, 0, 0, 0}}); // CD read
    features.push_back(
        {0x001F, 1, false, now != MK::None && now != MK::CdRom && !cd && !bd, {0x01, 0, 0x01, 0}});
    if (HasAny(model, MK::DvdRam, MK::DvdRwRestricted, MK::DvdPlusRw, MK::BdRe)) {
        std::vector<uint8_t> d(12, 0);
        Put32(&d[0], randomWritable && medium ? medium->capacity - 1 : 0);
        Put32(&d[4], kBlockSize);
        Put16(&d[8], 16);
        d[10] = 1;
        features.push_back({0x0020, 0, false, randomWritable, d});
    }
    if (HasAny(model, MK::DvdR, MK::DvdRwSequential, MK::DvdRDualLayer, MK::DvdPlusR)) {
        // Incremental streaming writable: data block type 8, BUF, one link size of 16.
        std::vector<uint8_t> d = {
            0x01, 0x00, static_cast<uint8_t>(model.bufferUnderrunFree ? 1 : 0), 1, 16, 0, 0, 0};
        features.push_back({0x0021, 1, false, dash, d});
    }
    if (HasAny(model, MK::DvdRam, MK::DvdRwRestricted, MK::DvdPlusRw, MK::DvdRwSequential,
               MK::BdRe)) {
        const bool formattable = is({MK::DvdRam, MK::DvdRwRestricted, MK::DvdPlusRw,
                                     MK::DvdRwSequential, MK::BdRe, MK::BdR, MK::BdRDualLayer});
        features.push_back({0x0023, 0, false, formattable, {}});
    }
    if (HasAny(model, MK::DvdRam, MK::BdRe))
        features.push_back({0x0024, 0, false, is({MK::DvdRam, MK::BdRe}), {}});
    if (HasAny(model, MK::DvdRwRestricted, MK::DvdRwSequential))
        features.push_back({0x0026, 0, false, is({MK::DvdRwRestricted}), {}});
    if (Has(model, MK::DvdPlusRw)) {
        // Write; Quick Start (bit 1) and CloseOnly (bit 0).
        const uint8_t stops = static_cast<uint8_t>(0x02 | (model.closeOnly ? 0x01 : 0));
        features.push_back({0x002A, 1, false, is({MK::DvdPlusRw}), {0x01, stops, 0, 0}});
    }
    if (Has(model, MK::DvdPlusR))
        features.push_back(
            {0x002B, 0, false, is({MK::DvdPlusR, MK::DvdPlusRDualLayer}), {0x01, 0, 0, 0}});
    if (HasAny(model, MK::DvdRwRestricted, MK::DvdRwSequential))
        features.push_back({0x002C, 1, false, is({MK::DvdRwRestricted}), {0x0D, 0, 0, 0}});
    if (HasAny(model, MK::CdR, MK::CdRw)) {
        // Track at once and session at once (mastering): BUF, test write, CD-RW; mode 1 blocks
        // (data block type 8) only, and a cue sheet of up to 64 KB.
        const uint8_t bits = static_cast<uint8_t>((model.bufferUnderrunFree ? 0x40 : 0) | 0x06);
        if (model.cdTrackAtOnce) features.push_back({0x002D, 2, false, cd, {bits, 0, 0x01, 0x00}});
        features.push_back({0x002E, 1, false, cd, {static_cast<uint8_t>(bits | 0x20), 0x01, 0, 0}});
    }
    if (HasAny(model, MK::DvdR, MK::DvdRwSequential, MK::DvdRDualLayer)) {
        uint8_t bits = 0;
        if (model.bufferUnderrunFree) bits |= 0x40;
        if (Has(model, MK::DvdRDualLayer)) bits |= 0x08;
        if (model.testWrite) bits |= 0x04;
        if (Has(model, MK::DvdRwSequential)) bits |= 0x02;
        features.push_back({0x002F, 2, false, dash, {bits, 0, 0, 0}});
    }
    if (Has(model, MK::DvdRDualLayer))
        features.push_back({0x0033, 0, false, is({MK::DvdRDualLayer}), {0, 0, 0, 1, 16, 0, 0, 0}});
    if (Has(model, MK::DvdPlusRDualLayer))
        features.push_back({0x003B, 0, false, is({MK::DvdPlusRDualLayer}), {0x01, 0, 0, 0}});
    if (HasAny(model, MK::BdR, MK::BdRe)) {
        // BD read and write: the class 0 version bitmaps of BD-RE (1, 2), BD-R and BD-ROM (1).
        std::vector<uint8_t> read(28, 0), write(24, 0);
        read[5] = 0x06;
        read[13] = 0x02;
        read[21] = 0x02;
        write[5] = 0x06;
        write[13] = 0x02;
        features.push_back({0x0040, 1, false, bd, read});
        features.push_back({0x0041, 2, false, is({MK::BdR, MK::BdRDualLayer, MK::BdRe}), write});
        // Timely safe recording: a BD-R in sequential recording mode.
        features.push_back({0x0042, 0, false, is({MK::BdR, MK::BdRDualLayer}), {}});
    }
    features.push_back({0x0100, 0, true, true, {}});           // power management
    features.push_back({0x0105, 1, true, true, {0, 0, 0, 0}}); // timeout
    // Real-time streaming: SW (stream writing) only where the model has it.
    const uint8_t streaming = static_cast<uint8_t>(model.streamWriting ? 0x1F : 0x1E);
    features.push_back({0x0107, 3, true, true, {streaming, 0, 0, 0}});

    std::vector<uint8_t> d(8, 0);
    Put16(&d[6], currentProfile);
    for (const Feature& f : features) {
        bool wanted = rt == 2 ? f.code == startCode : f.code >= startCode && (rt == 0 || f.current);
        if (!wanted) continue;
        size_t at = d.size();
        d.resize(at + 4 + f.data.size(), 0);
        Put16(&d[at], f.code);
        d[at + 2] =
            static_cast<uint8_t>((f.version << 2) | (f.persistent ? 2 : 0) | (f.current ? 1 : 0));
        d[at + 3] = static_cast<uint8_t>(f.data.size());
        std::copy(f.data.begin(), f.data.end(), d.begin() + at + 4);
    }
    Put32(&d[0], static_cast<uint32_t>(d.size() - 4));
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

Reply Drive::getPerformance(const Command& c) {
    uint8_t type = c.cdb[10];
    uint32_t maxDescriptors = Get16(c.cdb + 8);
    std::vector<uint8_t> d(8, 0);
    if (type == 0x00) {
        bool write = c.cdb[1] & 0x04;
        if (trayOpen || !medium)
            return Reply::Fail(trayOpen ? sense::NoMediumTrayOpen() : sense::NoMediumTrayClosed());
        if ((c.cdb[1] & 0x03) != 0) return Reply::Fail(sense::InvalidField()); // exceptions list
        uint32_t speed = write ? writeSpeed_ : readSpeed_;
        if (write && speed == 0) return Reply::Fail(sense::IncompatibleFormat());
        if (write) d[4] = 0x02; // Write bit in the header
        uint8_t p[16] = {};
        Put32(p, 0);
        Put32(p + 4, speed);
        Put32(p + 8, medium->capacity ? medium->capacity - 1 : 0);
        Put32(p + 12, speed);
        d.insert(d.end(), p, p + 16);
    } else if (type == 0x03) {
        if (trayOpen || !medium)
            return Reply::Fail(trayOpen ? sense::NoMediumTrayOpen() : sense::NoMediumTrayClosed());
        std::vector<uint32_t> speeds = offeredWriteSpeeds();
        for (size_t i = 0; i < speeds.size(); ++i) {
            uint8_t p[16] = {};
            p[0] = 0x00; // WRC: default rotation control
            Put32(p + 4, medium->capacity);
            Put32(p + 8, model.maxReadSpeed);
            Put32(p + 12, speeds[i]);
            d.insert(d.end(), p, p + 16);
        }
    } else {
        return Reply::Fail(sense::InvalidField());
    }
    // The length tells what the drive has; the descriptor count of the CDB only limits what
    // is sent, so a host can ask for the length first and then for everything.
    Put32(&d[0], static_cast<uint32_t>(d.size() - 4));
    return Reply::Data(std::move(d), (maxDescriptors * 16) + 8);
}

Reply Drive::setStreaming(const Command& c) {
    uint8_t type = c.cdb[8];
    uint32_t length = Get16(c.cdb + 9);
    if (type != 0) return Reply::Fail(sense::InvalidField());
    if (length < 28) return Reply::Fail(sense::ParameterListLength());
    if (c.outBytes() < 28) return Reply::Fail(sense::DataPhaseError());
    const uint8_t* p = c.data;
    uint32_t readSize = Get32(p + 12), readTime = Get32(p + 16);
    uint32_t writeSize = Get32(p + 20), writeTime = Get32(p + 24);
    if (readTime == 0 || writeTime == 0) return Reply::Fail(sense::InvalidParameterField());
    auto rate = [](uint32_t size, uint32_t timeMs) {
        return size == 0xFFFFFFFFu ? 0xFFFFFFFFu
                                   : static_cast<uint32_t>(uint64_t{size} * 1000 / timeMs);
    };
    uint32_t wantRead = rate(readSize, readTime), wantWrite = rate(writeSize, writeTime);
    readSpeed_ = std::min(wantRead, model.maxReadSpeed);
    // The nearest offered speed not above the request; below the slowest, the slowest.
    std::vector<uint32_t> speeds = offeredWriteSpeeds();
    if (!speeds.empty()) {
        uint32_t chosen = speeds.back();
        for (uint32_t s : speeds)
            if (s <= wantWrite) {
                chosen = s;
                break;
            }
        writeSpeed_ = chosen;
    }
    return {};
}

} // namespace tvx::vdrive
