// Helpers for the virtual recorder's tests: CDBs built by hand from the command formats, one
// call per command, and the polling a host does while the drive works.
#pragma once

#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace tvx::vdrive::test {

struct Answer {
    ScsiResult result;
    std::vector<uint8_t> data;
    bool good() const {
        return result.outcome == ScsiOutcome::Completed && result.status == kScsiStatusGood;
    }
    uint8_t key() const { return result.sense[2] & 0x0F; }
    uint8_t asc() const { return result.sense[12]; }
    uint8_t ascq() const { return result.sense[13]; }
    uint32_t triple() const { return (key() << 16) | (asc() << 8) | ascq(); }
    // Sense key, ASC and ASCQ of a REQUEST SENSE answer.
    uint32_t dataTriple() const {
        return data.size() < 14 ? 0xFFFFFFFF
                                : (uint32_t{data[2] & 0x0Fu} << 16) | (data[12] << 8) | data[13];
    }
    uint16_t progress() const {
        return static_cast<uint16_t>((result.sense[16] << 8) | result.sense[17]);
    }
    uint32_t be32(size_t at) const {
        if (at + 4 > data.size()) {
            ADD_FAILURE() << "answer too short for offset " << at;
            return 0xDEADBEEF;
        }
        return (uint32_t{data[at]} << 24) | (uint32_t{data[at + 1]} << 16) |
               (uint32_t{data[at + 2]} << 8) | data[at + 3];
    }
    uint16_t be16(size_t at) const {
        if (at + 2 > data.size()) {
            ADD_FAILURE() << "answer too short for offset " << at;
            return 0xDEAD;
        }
        return static_cast<uint16_t>((data[at] << 8) | data[at + 1]);
    }
};

inline constexpr uint32_t Triple(uint8_t k, uint8_t a, uint8_t q) {
    return (k << 16) | (a << 8) | q;
}

inline void Be16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
inline void Be32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

class DriveTest : public ::testing::Test {
  protected:
    VirtualClock clock;
    std::unique_ptr<VirtualRecorder> drive = std::make_unique<VirtualRecorder>(clock);
    DriveTest() { drive->setTraceEnabled(true); }

    Answer send(std::vector<uint8_t> cdb, DataDirection dir = DataDirection::None,
                std::vector<uint8_t> out = {}, uint32_t inBytes = 0) {
        Answer a;
        ScsiRequest r;
        r.cdb = cdb.data();
        r.cdbLength = static_cast<uint8_t>(cdb.size());
        r.direction = dir;
        r.timeoutSeconds = 20;
        if (dir == DataDirection::ToDevice) {
            r.data = out.data();
            r.byteCount = static_cast<uint32_t>(out.size());
        } else if (dir == DataDirection::FromDevice) {
            a.data.assign(inBytes, 0);
            r.data = a.data.data();
            r.byteCount = inBytes;
        }
        a.result = drive->execute(r);
        if (dir == DataDirection::FromDevice) a.data.resize(a.result.transferred);
        return a;
    }

    Answer testUnitReady() { return send({0x00, 0, 0, 0, 0, 0}); }
    Answer requestSense(uint8_t len = 18) {
        return send({0x03, 0, 0, 0, len, 0}, DataDirection::FromDevice, {}, len);
    }
    Answer startStop(uint8_t loadStart, bool immediate = false) {
        return send({0x1B, static_cast<uint8_t>(immediate), 0, 0, loadStart, 0});
    }
    Answer prevent(bool on) { return send({0x1E, 0, 0, 0, static_cast<uint8_t>(on), 0}); }
    Answer readCapacity() {
        return send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::FromDevice, {}, 8);
    }
    Answer getConfiguration(uint8_t rt, uint16_t feature, uint16_t alloc = 512) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x46;
        c[1] = rt;
        Be16(c, 2, feature);
        Be16(c, 7, alloc);
        return send(c, DataDirection::FromDevice, {}, alloc);
    }
    Answer readDiscInfo() {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x51;
        Be16(c, 7, 32);
        return send(c, DataDirection::FromDevice, {}, 32);
    }
    Answer readTrackInfo(uint32_t track) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x52;
        c[1] = 0x01;
        Be32(c, 2, track);
        Be16(c, 7, 32);
        return send(c, DataDirection::FromDevice, {}, 32);
    }
    Answer reserveTrack(uint32_t blocks) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x53;
        Be32(c, 5, blocks);
        return send(c);
    }
    Answer write10(uint32_t lba, uint16_t blocks, uint8_t fill = 0xA5) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x2A;
        Be32(c, 2, lba);
        Be16(c, 7, blocks);
        std::vector<uint8_t> data(size_t{blocks} * kBlockSize, fill);
        for (uint16_t i = 0; i < blocks; ++i)
            Be32(data, size_t{i} * kBlockSize, lba + i);
        return send(c, DataDirection::ToDevice, data);
    }
    Answer read10(uint32_t lba, uint16_t blocks, uint32_t bytes = 0) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x28;
        Be32(c, 2, lba);
        Be16(c, 7, blocks);
        return send(c, DataDirection::FromDevice, {}, bytes ? bytes : blocks * kBlockSize);
    }
    Answer syncCache(bool immediate = true) {
        return send({0x35, static_cast<uint8_t>(immediate ? 2 : 0), 0, 0, 0, 0, 0, 0, 0, 0});
    }
    Answer closeTrackSession(uint8_t function, uint16_t track) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x5B;
        c[1] = 0x01;
        c[2] = function;
        Be16(c, 4, track);
        return send(c);
    }
    Answer blank(uint8_t type, bool immediate = true) {
        return send({0xA1, static_cast<uint8_t>((immediate ? 0x10 : 0) | type), 0, 0, 0, 0, 0, 0, 0,
                     0, 0, 0});
    }
    Answer formatPlusRw(bool restart) {
        std::vector<uint8_t> list(12, 0);
        list[1] = 0x02;
        Be16(list, 2, 8);
        Be32(list, 4, 0xFFFFFFFF);
        list[8] = 0x26 << 2;
        list[11] = restart ? 1 : 0;
        return send({0x04, 0x11, 0, 0, 0, 0}, DataDirection::ToDevice, list);
    }
    Answer modeSense05(uint8_t control) {
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x5A;
        c[2] = static_cast<uint8_t>((control << 6) | 0x05);
        Be16(c, 7, 60);
        return send(c, DataDirection::FromDevice, {}, 60);
    }
    // The write parameters set as a host does: sense current, change byte 10/11, select.
    Answer setWriteParameters(uint8_t writeType, bool testWrite, uint8_t multiSession = 0) {
        Answer cur = modeSense05(0);
        if (!cur.good()) return cur;
        std::vector<uint8_t> page = cur.data;
        page.resize(60, 0);
        std::fill(page.begin(), page.begin() + 8, 0);
        page[8] = 0x05;
        page[9] = 0x32;
        page[10] = static_cast<uint8_t>(0x40 | (testWrite ? 0x10 : 0) | writeType);
        page[11] = static_cast<uint8_t>((multiSession << 6) | 0x04);
        page[12] = 0x08;
        std::vector<uint8_t> c(10, 0);
        c[0] = 0x55;
        c[1] = 0x10;
        Be16(c, 7, 60);
        return send(c, DataDirection::ToDevice, page);
    }
    Answer setStreaming(uint32_t readKBs, uint32_t writeKBs) {
        std::vector<uint8_t> d(28, 0);
        Be32(d, 8, 0xFFFFFFFF);
        Be32(d, 12, readKBs);
        Be32(d, 16, 1000);
        Be32(d, 20, writeKBs);
        Be32(d, 24, 1000);
        std::vector<uint8_t> c(12, 0);
        c[0] = 0xB6;
        Be16(c, 9, 28);
        return send(c, DataDirection::ToDevice, d);
    }
    Answer getPerformance(uint8_t type, bool write, uint16_t descriptors) {
        std::vector<uint8_t> c(12, 0);
        c[0] = 0xAC;
        c[1] = type == 0 ? static_cast<uint8_t>(0x10 | (write ? 4 : 0)) : 0;
        Be16(c, 8, descriptors);
        c[10] = type;
        return send(c, DataDirection::FromDevice, {}, 8 + 16u * descriptors);
    }

    // Polls a command once a second until it succeeds; returns the number of failed polls.
    template <typename F> int pollUntilGood(F command, int limitSeconds = 7200) {
        for (int i = 0; i < limitSeconds; ++i) {
            if (command().good()) return i;
            clock.sleepMs(1000);
        }
        ADD_FAILURE() << "drive never became ready";
        return -1;
    }
};

} // namespace tvx::vdrive::test
