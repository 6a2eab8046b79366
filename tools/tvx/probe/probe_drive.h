// Which drive the probe asks: the -d text, and the bus a replayed drive sits on.
#pragma once

#include "vdrive/aspi_layer/layer_config.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tvxprobe {

// The library's drive index that text names: an index, a device file (/dev/sr0; links such as
// /dev/cdrom are followed) or virtual:IMAGE, one of images (the virtual drives in order, which
// stand for the drives when there are any). -1 with a message when none fits. Needs the
// library started.
int DriveIndex(const std::string& text, const std::vector<std::string>& images, std::string& error);

// The storage bus that a replayed drive's report names; none for a drive that replays nothing
// or a report that names no bus.
std::optional<uint8_t> ReplayedBus(const tvx::vdrive::LayerDriveRequest& drive);

} // namespace tvxprobe
