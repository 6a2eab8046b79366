// MODE SENSE(10) and MODE SELECT(10) of the write parameters page (05h).
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

#include <cstring>

namespace tvx::vdrive {
namespace {

constexpr uint8_t kPageWriteParameters = 0x05;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint32_t kHeaderBytes = 8;

constexpr uint32_t kBlockDescriptorBytes = 8;
constexpr uint8_t kBufferUnderrunFreeBit = 0x40;
constexpr uint8_t kTestWriteBit = 0x10;

// Bits the host may change in each page byte.
void ChangeableMask(uint8_t* page, uint32_t pageBytes, bool bufferUnderrunFreeFixed,
                    bool testWriteFixed) {
    std::memset(page, 0, pageBytes);
    page[0] = kPageWriteParameters;
    page[1] = static_cast<uint8_t>(pageBytes - 2);
    page[2] = 0x5F; // BUFE, test write, write type
    if (bufferUnderrunFreeFixed) page[2] &= ~kBufferUnderrunFreeBit;
    if (testWriteFixed) page[2] &= ~kTestWriteBit;
    page[3] = 0xEF;                  // multi-session, FP, copy, track mode
    page[4] = 0x0F;                  // data block type
    page[5] = 0xFF;                  // link size
    page[7] = 0x3F;                  // host application code
    page[8] = 0xFF;                  // session format
    std::memset(page + 10, 0xFF, 4); // packet size
    std::memset(page + 14, 0xFF, 2); // audio pause length
}

} // namespace

bool Drive::writeTypeAllowed(uint8_t type) const {
    if (!medium || trayOpen) return type <= 4;
    switch (medium->kind) {
    case MediumKind::DvdR:
    case MediumKind::DvdRwSequential:
    case MediumKind::DvdRDualLayer:
        return type == 0 || type == 2; // incremental, session-at-once
    case MediumKind::DvdRwRestricted:
    case MediumKind::DvdRam:
        return type == 0; // written in place: no session to write at once
    case MediumKind::DvdPlusR:
    case MediumKind::DvdPlusRDualLayer:
    case MediumKind::DvdPlusRw:
    case MediumKind::BdR:
    case MediumKind::BdRDualLayer:
    case MediumKind::BdRe:
        return type == 0; // plus media and BD write only as they are laid out
    case MediumKind::CdR:
    case MediumKind::CdRw:
        return (type == 1 && model.cdTrackAtOnce) || type == 2; // track at once, session at once
    default:
        return false;
    }
}

Reply Drive::modeSense(const Command& c) {
    uint8_t control = c.cdb[2] >> 6;
    uint8_t page = c.cdb[2] & 0x3F;
    if (page != kPageWriteParameters && page != kAllPages)
        return Reply::Fail(sense::InvalidField());
    if (control == 3) return Reply::Fail(Sense::Of(0x05, 0x39, 0x00)); // saving not supported
    const uint32_t pageBytes = page05Bytes();
    // Some drives send a block descriptor even when asked not to (DBD).
    const uint32_t descriptors = model.modeBlockDescriptor ? kBlockDescriptorBytes : 0;
    std::vector<uint8_t> d(kHeaderBytes + descriptors + pageBytes, 0);
    Put16(&d[6], descriptors);
    if (descriptors) Put24(&d[kHeaderBytes + 5], kBlockSize); // block length
    uint8_t* p = d.data() + kHeaderBytes + descriptors;
    if (control == 0) {
        std::memcpy(p, page05_, pageBytes);
    } else if (control == 1) {
        ChangeableMask(p, pageBytes, model.bufferUnderrunFreeFixed, model.testWriteIgnored);
    } else {
        std::memcpy(p, defaultPage05_, pageBytes);
    }
    Put16(&d[0], static_cast<uint32_t>(d.size() - 2));
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

Reply Drive::modeSelect(const Command& c) {
    if (c.cdb[1] & 0x01) return Reply::Fail(sense::InvalidField()); // saving pages
    uint32_t length = Get16(c.cdb + 7);
    if (length == 0) return {};
    if (c.outBytes() < length) return Reply::Fail(sense::DataPhaseError());
    if (length < kHeaderBytes) return Reply::Fail(sense::ParameterListLength());
    const uint8_t* data = c.data;
    uint32_t at = kHeaderBytes + Get16(data + 6); // past the block descriptors
    const uint32_t pageBytes = page05Bytes();
    uint8_t page[kWriteParamsPageRoom];
    std::memcpy(page, page05_, sizeof page);
    bool seen = false;
    while (at + 2 <= length) {
        uint8_t code = data[at] & 0x3F;
        uint32_t pageLength = data[at + 1] + 2u;
        if (at + pageLength > length) return Reply::Fail(sense::ParameterListLength());
        // The page goes back with the length the drive reported, or it is refused.
        if (code != kPageWriteParameters || pageLength != pageBytes)
            return Reply::Fail(sense::InvalidParameterField());
        std::memcpy(page, data + at, pageLength);
        seen = true;
        at += pageLength;
    }
    if (!seen) return {};
    uint8_t writeTypeWanted = page[2] & 0x0F;
    bool testWrite = page[2] & 0x10;
    uint8_t multiSession = page[3] >> 6;
    if (!writeTypeAllowed(writeTypeWanted)) return Reply::Fail(sense::InvalidParameterField());
    if (testWrite && model.testWriteIgnored) {
        page[2] &= ~kTestWriteBit;
        testWrite = false;
    } else if (testWrite) {
        bool dashSequential = medium && !trayOpen && IsDash(medium->kind) && medium->sequential();
        if (!model.testWrite || !dashSequential) return Reply::Fail(sense::InvalidParameterField());
    }
    // Mode 1 only, except on CD, where other block types are taken and refused at WRITE.
    const bool cd = medium && !trayOpen && IsCd(medium->kind);
    if ((page[4] & 0x0F) != 0x08 && !cd) return Reply::Fail(sense::InvalidParameterField());
    if (multiSession == 1 || multiSession == 2) return Reply::Fail(sense::InvalidParameterField());
    if (model.bufferUnderrunFreeFixed) {
        // Taken without complaint, but the drive keeps its own setting.
        page[2] &= ~kBufferUnderrunFreeBit;
    } else if ((page[2] & kBufferUnderrunFreeBit) && !model.bufferUnderrunFree) {
        return Reply::Fail(sense::InvalidParameterField());
    }
    page[0] = kPageWriteParameters; // the PS bit is the drive's
    bool wasSimulating = simulating();
    std::memcpy(page05_, page, sizeof page);
    if (wasSimulating && !testWrite) endSimulation();
    return {};
}

} // namespace tvx::vdrive
