// Facts about media kinds and drive models.
#include "vdrive/virtual_recorder.h"

#include <cstdio>
#include <iterator>

namespace tvx::vdrive {
namespace {

struct MediumFacts {
    MediumKind kind;
    const char* name;
    uint16_t profile;
    uint32_t capacity;
    std::vector<uint32_t> speedsX10;           // tenths of 1x, fastest first
    uint32_t speed1xTenths = kDvdSpeed1x * 10; // tenths of a kB/s
};

const std::vector<MediumFacts>& Facts() {
    static const std::vector<MediumFacts> facts = {
        {MediumKind::None, "none", 0x0000, 0, {}},
        {MediumKind::CdRom, "CD-ROM", 0x0008, 0, {}},
        {MediumKind::DvdRom, "DVD-ROM", 0x0010, 0, {}},
        {MediumKind::DvdR, "DVD-R", 0x0011, 2298496, {160, 120, 80, 60, 40}},
        {MediumKind::DvdRam, "DVD-RAM", 0x0012, 2236704, {50, 30, 20}},
        {MediumKind::DvdRwRestricted, "DVD-RW-RO", 0x0013, 2297888, {60, 40, 20}},
        {MediumKind::DvdRwSequential, "DVD-RW", 0x0014, 2297888, {60, 40, 20}},
        {MediumKind::DvdRDualLayer, "DVD-R-DL", 0x0015, 4171712, {80, 60, 40}},
        {MediumKind::DvdPlusRw, "DVD+RW", 0x001A, 2295104, {80, 60, 40}},
        {MediumKind::DvdPlusR, "DVD+R", 0x001B, 2295104, {160, 120, 80, 60, 40}},
        {MediumKind::DvdPlusRDualLayer, "DVD+R-DL", 0x002B, 4173824, {80, 60, 40, 24}},
        // 80 minutes: the lead-out may start at 79:59:74.
        {MediumKind::CdR, "CD-R", 0x0009, 359849, {480, 320, 240, 160, 80}, 1764},
        {MediumKind::CdRw, "CD-RW", 0x000A, 359849, {240, 160, 100, 40}, 1764},
        // 25 GB per layer without spare areas; a BD-RE formatted with the default spare areas.
        {MediumKind::BdR, "BD-R", 0x0041, 12219392, {120, 80, 60, 40, 20}, kBdSpeed1x * 10},
        {MediumKind::BdRDualLayer, "BD-R-DL", 0x0041, 24438784, {80, 60, 40, 20}, kBdSpeed1x * 10},
        {MediumKind::BdRe, "BD-RE", 0x0043, 11826176, {20}, kBdSpeed1x * 10},
    };
    return facts;
}

const MediumFacts& FactsOf(MediumKind kind) {
    for (const MediumFacts& f : Facts())
        if (f.kind == kind) return f;
    return Facts().front();
}

} // namespace

uint16_t ProfileOf(MediumKind kind) {
    return FactsOf(kind).profile;
}
uint32_t RealCapacity(MediumKind kind) {
    return FactsOf(kind).capacity;
}
const char* MediumName(MediumKind kind) {
    return FactsOf(kind).name;
}

std::vector<uint32_t> RealWriteSpeeds(MediumKind kind) {
    std::vector<uint32_t> speeds;
    const MediumFacts& facts = FactsOf(kind);
    for (uint32_t x10 : facts.speedsX10)
        speeds.push_back(x10 * facts.speed1xTenths / 100);
    return speeds;
}

bool MediumFromName(const std::string& name, MediumKind& kind) {
    for (const MediumFacts& f : Facts())
        if (name == f.name) {
            kind = f.kind;
            return true;
        }
    return false;
}

DriveModel DriveModel::Default() {
    DriveModel m;
    // Profile list order: the drive's most capable media first, as drives list them.
    m.media = {MediumKind::DvdPlusRDualLayer,
               MediumKind::DvdPlusR,
               MediumKind::DvdPlusRw,
               MediumKind::DvdRDualLayer,
               MediumKind::DvdRwSequential,
               MediumKind::DvdRwRestricted,
               MediumKind::DvdR,
               MediumKind::DvdRam,
               MediumKind::DvdRom,
               MediumKind::CdRom};
    return m;
}

DriveModel DriveModel::WithoutTestWrite() {
    DriveModel m = Default();
    m.product = "VIRTUAL DVD-RW NT";
    m.testWrite = false;
    return m;
}

DriveModel DriveModel::SonyDvdRw() {
    DriveModel m = Default();
    m.vendor = "SONY";
    m.product = "DVD RW DRU-810A";
    m.revision = "1.0a";
    return m;
}

DriveModel DriveModel::BdCdWriter() {
    DriveModel m = Default();
    m.product = "VIRTUAL BD-RE";
    // One profile per kind: a dual-layer BD-R is a BD-R to the profile list.
    const MediumKind more[] = {MediumKind::BdRe, MediumKind::BdR, MediumKind::CdRw,
                               MediumKind::CdR};
    m.media.insert(m.media.begin(), std::begin(more), std::end(more));
    return m;
}

FaultRule FaultRule::SenseOn(int opcode, uint8_t key, uint8_t asc, uint8_t ascq,
                             uint32_t occurrence, uint32_t maxFires) {
    FaultRule r;
    r.opcode = opcode;
    r.senseKey = key;
    r.asc = asc;
    r.ascq = ascq;
    r.occurrence = occurrence;
    r.maxFires = maxFires;
    return r;
}

std::string CommandName(uint8_t opcode) {
    switch (opcode) {
    case 0x00:
        return "TEST UNIT READY";
    case 0x03:
        return "REQUEST SENSE";
    case 0x04:
        return "FORMAT UNIT";
    case 0x12:
        return "INQUIRY";
    case 0x1B:
        return "START STOP UNIT";
    case 0x1E:
        return "PREVENT ALLOW MEDIUM REMOVAL";
    case 0x23:
        return "READ FORMAT CAPACITIES";
    case 0x43:
        return "READ TOC/PMA/ATIP";
    case 0x25:
        return "READ CAPACITY";
    case 0x28:
        return "READ(10)";
    case 0x2A:
        return "WRITE(10)";
    case 0xAA:
        return "WRITE(12)";
    case 0x5D:
        return "SEND CUE SHEET";
    case 0x35:
        return "SYNCHRONIZE CACHE";
    case 0x46:
        return "GET CONFIGURATION";
    case 0x4A:
        return "GET EVENT STATUS NOTIFICATION";
    case 0x51:
        return "READ DISC INFORMATION";
    case 0x52:
        return "READ TRACK INFORMATION";
    case 0x53:
        return "RESERVE TRACK";
    case 0x55:
        return "MODE SELECT(10)";
    case 0x5A:
        return "MODE SENSE(10)";
    case 0x5B:
        return "CLOSE TRACK/SESSION";
    case 0xA1:
        return "BLANK";
    case 0xA8:
        return "READ(12)";
    case 0xAC:
        return "GET PERFORMANCE";
    case 0xAD:
        return "READ DISC STRUCTURE";
    case 0xB6:
        return "SET STREAMING";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "OP %02X", opcode);
        return text;
    }
    }
}

} // namespace tvx::vdrive
