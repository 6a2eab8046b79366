// INQUIRY, TEST UNIT READY, REQUEST SENSE, START STOP UNIT, PREVENT ALLOW MEDIUM REMOVAL,
// GET EVENT STATUS NOTIFICATION.
#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace tvx::vdrive {

Reply Drive::inquiry(const Command& c) {
    if (c.cdb[1] & 0x01) return vitalProductData(c);
    if (c.cdb[2] != 0) return Reply::Fail(sense::InvalidField());
    std::vector<uint8_t> d(36, 0);
    d[0] = 0x05; // CD/DVD device
    d[1] = 0x80; // removable
    d[2] = 0x05; // SPC-3
    d[3] = 0x02; // response data format
    d[4] = static_cast<uint8_t>(d.size() - 5);
    PutPadded(&d[8], 8, model.vendor);
    PutPadded(&d[16], 16, model.product);
    PutPadded(&d[32], 4, model.revision);
    return Reply::Data(std::move(d), Get16(c.cdb + 3));
}

Reply Drive::vitalProductData(const Command& c) {
    constexpr uint8_t kSupportedPages = 0x00, kUnitSerial = 0x80;
    const bool hasSerial = !model.serial.empty();
    std::vector<uint8_t> d(4, 0);
    d[0] = 0x05;
    d[1] = c.cdb[2];
    if (c.cdb[2] == kSupportedPages) {
        d.push_back(kSupportedPages);
        if (hasSerial) d.push_back(kUnitSerial);
    } else if (c.cdb[2] == kUnitSerial && hasSerial) {
        const std::string serial = model.serial.substr(0, 0xFF - 4);
        d.insert(d.end(), serial.begin(), serial.end());
    } else {
        return Reply::Fail(sense::InvalidField());
    }
    d[3] = static_cast<uint8_t>(d.size() - 4);
    return Reply::Data(std::move(d), Get16(c.cdb + 3));
}

Reply Drive::testUnitReady(const Command&) {
    return {};
}

Reply Drive::requestSense(const Command& c) {
    // Descriptor format only from a drive that uses it.
    if ((c.cdb[1] & 0x01) && !model.habits.descriptorSense)
        return Reply::Fail(sense::InvalidField());
    Sense s;
    if (busy.active())
        s = busy.sense(clock.nowMs());
    else if (trayOpen)
        s = sense::NoMediumTrayOpen();
    else if (!medium)
        s = sense::NoMediumTrayClosed();
    std::vector<uint8_t> d(kSenseBytes);
    encodeSense(s, d.data());
    return Reply::Data(std::move(d), c.cdb[4]);
}

Reply Drive::startStopUnit(const Command& c) {
    bool immediate = c.cdb[1] & 0x01;
    bool loadEject = c.cdb[4] & 0x02;
    bool start = c.cdb[4] & 0x01;
    if (c.cdb[4] & 0xF0) return Reply::Fail(sense::InvalidField()); // power conditions
    if (loadEject && !start) {
        if (prevented) return Reply::Fail(sense::RemovalPrevented());
        if (busy.active() && busy.op().work != Work::SpinUp)
            return Reply::Fail(busy.sense(clock.nowMs()));
        openTray();
        return {};
    }
    if (loadEject && start) {
        closeTray();
        if (!immediate) { // the command returns once the disc has spun up
            if (busy.active()) checkTimeLimit(busy.op().durationMs);
            busy.clear();
        }
        return {};
    }
    if (start) {
        if (trayOpen) return Reply::Fail(sense::NoMediumTrayOpen());
        if (!medium) return Reply::Fail(sense::NoMediumTrayClosed());
        if (busy.active()) {
            if (busy.op().work != Work::SpinUp) return Reply::Fail(busy.sense(clock.nowMs()));
            if (!immediate) {
                checkTimeLimit(busy.op().startMs + busy.op().durationMs - clock.nowMs());
                busy.clear();
            }
        }
    }
    return {};
}

Reply Drive::preventAllow(const Command& c) {
    prevented = (c.cdb[4] & 0x03) != 0;
    return {};
}

Reply Drive::getEventStatus(const Command& c) {
    if (!(c.cdb[1] & 0x01)) return Reply::Fail(sense::InvalidField()); // only polled
    constexpr uint8_t kOperational = 1, kMedia = 4, kDeviceBusy = 6;
    constexpr uint8_t kSupported = (1 << kOperational) | (1 << kMedia) | (1 << kDeviceBusy);
    uint8_t wanted = c.cdb[4] & kSupported;
    std::vector<uint8_t> d(4, 0);
    d[3] = kSupported;
    uint8_t cls = 0;
    for (uint8_t k : {kOperational, kMedia, kDeviceBusy})
        if (wanted & (1 << k)) {
            cls = k;
            break;
        }
    if (cls == 0) {
        d[2] = 0x80; // no event available, and so no descriptor
        Put16(&d[0], 0);
        return Reply::Data(std::move(d), Get16(c.cdb + 7));
    }
    // The length is that of the event descriptor after the header.
    d.resize(8, 0);
    Put16(&d[0], 4);
    d[2] = cls;
    bool working = updateBusy();
    if (cls == kOperational) {
        d[4] = operationalEvent_ ? 2 : 0;
        d[5] = static_cast<uint8_t>((prevented ? 0x80 : 0) | (working ? 1 : 0));
        operationalEvent_ = false;
    } else if (cls == kMedia) {
        d[4] = mediaEvent_;
        d[5] = static_cast<uint8_t>((trayOpen ? 1 : 0) | (medium ? 2 : 0));
        mediaEvent_ = 0;
    } else {
        d[4] = working ? 1 : 0;
        d[5] = working ? 1 : 0;
        if (working) {
            uint64_t end = busy.op().startMs + busy.op().durationMs;
            uint64_t tenths = (end - clock.nowMs()) / 100;
            Put16(&d[6], static_cast<uint32_t>(std::min<uint64_t>(tenths, 0xFFFF)));
        }
    }
    return Reply::Data(std::move(d), Get16(c.cdb + 7));
}

} // namespace tvx::vdrive
