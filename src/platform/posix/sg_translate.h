// Translation between the pass-through request and the Linux SG_IO request, and the adapter's
// bus type from a device's sysfs path. Pure functions, testable without a device.
#pragma once

#include "platform/host.h"
#include "platform/pass_through.h"

#include <cstdint>
#include <scsi/sg.h>
#include <string_view>

namespace tvx {

// Fills hdr for the pass-through request at the start of buffer (length bytes: the structure
// and its sense area). The CDB, data buffer and sense area stay where they are. False when the
// request is malformed (short buffer, CDB length outside 1-16, sense area outside the buffer).
bool SgIoFromPassThrough(void* buffer, uint32_t length, sg_io_hdr_t& hdr);

// Copies SG_IO's answer back: SCSI status, data bytes moved and sense bytes written. False when the
// request did not reach the drive or timed out; error then holds the errno-style reason.
bool PassThroughFromSgIo(const sg_io_hdr_t& hdr, ScsiPassThroughDirect& sptd, uint32_t& error);

// SG_IO's own fields, as a drive report keeps them.
PassThroughSystemFields SystemFieldsOf(const sg_io_hdr_t& hdr);

// The STORAGE_BUS_TYPE of the adapter that a block device's resolved sysfs path runs through
// (for example .../ata1/host0/target0:0:0/0:0:0:0/block/sr0 is ATAPI).
uint8_t StorageBusFromSysfsPath(std::string_view path);

} // namespace tvx
