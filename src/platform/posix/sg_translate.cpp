#include "platform/posix/sg_translate.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace tvx {

namespace {

// Status bits of sg_io_hdr that mean the request never completed at the drive.
constexpr unsigned kHostTimeOut = 0x03; // DID_TIME_OUT
constexpr unsigned kDriverStatusMask = 0x0F;
constexpr unsigned kDriverTimeout = 0x06; // DRIVER_TIMEOUT
constexpr unsigned kDriverSense = 0x08;   // DRIVER_SENSE
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr unsigned kMaxCdb = 16;

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool NameWithNumber(std::string_view part, std::string_view prefix) {
    return part.size() > prefix.size() && part.substr(0, prefix.size()) == prefix &&
           AllDigits(part.substr(prefix.size()));
}

} // namespace

bool SgIoFromPassThrough(void* buffer, uint32_t length, sg_io_hdr_t& hdr) {
    if (!buffer || length < sizeof(ScsiPassThroughDirect)) return false;
    auto* sptd = static_cast<ScsiPassThroughDirect*>(buffer);
    if (sptd->cdbLength == 0 || sptd->cdbLength > kMaxCdb) return false;
    if (sptd->senseInfoLength && (sptd->senseInfoOffset > length ||
                                  sptd->senseInfoLength > length - sptd->senseInfoOffset)) {
        return false;
    }
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.cmd_len = sptd->cdbLength;
    hdr.cmdp = sptd->cdb;
    bool hasData = sptd->dataBuffer && sptd->dataTransferLength;
    if (hasData && sptd->dataIn == SCSI_IOCTL_DATA_IN) {
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    } else if (hasData && sptd->dataIn == SCSI_IOCTL_DATA_OUT) {
        hdr.dxfer_direction = SG_DXFER_TO_DEV;
    } else {
        hdr.dxfer_direction = SG_DXFER_NONE;
        hasData = false;
    }
    hdr.dxferp = hasData ? sptd->dataBuffer : nullptr;
    hdr.dxfer_len = hasData ? sptd->dataTransferLength : 0;
    if (sptd->senseInfoLength) {
        hdr.sbp = static_cast<unsigned char*>(buffer) + sptd->senseInfoOffset;
        hdr.mx_sb_len = sptd->senseInfoLength;
    }
    uint64_t ms = static_cast<uint64_t>(sptd->timeOutValue) * 1000u;
    hdr.timeout = ms > UINT_MAX ? UINT_MAX : static_cast<unsigned>(ms);
    return true;
}

bool PassThroughFromSgIo(const sg_io_hdr_t& hdr, ScsiPassThroughDirect& sptd, uint32_t& error) {
    unsigned driver = hdr.driver_status & kDriverStatusMask;
    if (hdr.host_status == kHostTimeOut || driver == kDriverTimeout) {
        error = ETIMEDOUT;
        return false;
    }
    if (hdr.host_status != 0) {
        error = EIO;
        return false;
    }
    sptd.scsiStatus = hdr.status;
    // Some paths report sense through the driver status with the status byte left clear.
    if (sptd.scsiStatus == 0 && (hdr.driver_status & kDriverSense) && hdr.sb_len_wr > 0) {
        sptd.scsiStatus = kStatusCheckCondition;
    }
    // As a Windows port driver does: the request tells how much sense came back.
    sptd.senseInfoLength =
        hdr.sb_len_wr < sptd.senseInfoLength ? hdr.sb_len_wr : sptd.senseInfoLength;
    int moved = static_cast<int>(hdr.dxfer_len) - hdr.resid;
    sptd.dataTransferLength = moved < 0 ? 0 : static_cast<uint32_t>(moved);
    error = 0;
    return true;
}

PassThroughSystemFields SystemFieldsOf(const sg_io_hdr_t& hdr) {
    PassThroughSystemFields fields;
    fields.hostStatus = hdr.host_status;
    fields.driverStatus = hdr.driver_status;
    fields.resid = hdr.resid;
    fields.senseWritten = hdr.sb_len_wr;
    fields.durationMs = hdr.duration;
    fields.info = hdr.info;
    return fields;
}

uint8_t StorageBusFromSysfsPath(std::string_view path) {
    bool usb = false, firewire = false, ata = false, scsi = false;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (NameWithNumber(part, "usb")) usb = true;
        if (NameWithNumber(part, "fw") || part == "firewire") firewire = true;
        if (NameWithNumber(part, "ata")) ata = true;
        if (NameWithNumber(part, "host")) scsi = true;
        i = j + 1;
    }
    // The outermost bus decides: a USB or FireWire bridge carries SCSI commands too.
    if (usb) return kStorageBusUsb;
    if (firewire) return kStorageBus1394;
    if (ata) return kStorageBusAtapi;
    if (scsi) return kStorageBusScsi;
    return kStorageBusUnknown;
}

} // namespace tvx
